#include "DevelopmentClient.h"

namespace quillory {

// The one place that reads the compile definition. This file defines nothing
// else, so a test program can link a copy compiled with its own value in
// place of the library's.
std::string_view DevelopmentClient::requirement() {
#ifdef QUILLORY_DEV_CLIENT_REQUIREMENT
    return QUILLORY_DEV_CLIENT_REQUIREMENT;
#else
    return {};
#endif
}

}  // namespace quillory
