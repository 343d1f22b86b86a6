#pragma once

#include <cstdint>
#include <optional>

#include "platform/FileManager.h"

namespace quillory {

// Tells two versions of the executable file apart: installing a new version
// gives the file a new file number, a new modification date, or both.
struct ExecutableIdentity {
    std::optional<std::uint64_t> inode;
    std::optional<platform::Date> modified;

    // The executable file on disk now; fields it cannot read are absent.
    static ExecutableIdentity current();

    // Field by field; absent equals absent, never a present value.
    bool operator==(const ExecutableIdentity&) const = default;
};

}  // namespace quillory
