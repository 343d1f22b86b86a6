#pragma once

#include <string_view>

namespace quillory::DevelopmentClient {

// The code-signing requirement of a second client that a development build
// serves besides the main app: the demo's client (CMake's
// QUILLORY_DEV_CLIENT_REQUIREMENT). Empty in every other build, the release
// build included.
std::string_view requirement();

}  // namespace quillory::DevelopmentClient
