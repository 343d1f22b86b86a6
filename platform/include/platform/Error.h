#pragma once

#include <string>

namespace platform {

// What a failed platform call reports: the text the system would show a user.
struct Error {
    std::string localizedDescription;
};

}  // namespace platform
