#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Error.h"

namespace platform {

// A point in wall-clock time, kept to the nanosecond so that two dates
// compare exactly.
using Date = std::chrono::sys_time<std::chrono::nanoseconds>;

struct FileAttributes {
    std::optional<std::uint64_t> fileSystemFileNumber;
    std::optional<Date> modificationDate;
};

class FileManager {
public:
    virtual ~FileManager() = default;
    // The item itself, not a link's target. Fills `error` on failure.
    virtual std::optional<FileAttributes> attributesOfItem(const std::string& path, Error* error) = 0;
    // Follows symbolic links.
    virtual bool fileExists(const std::string& path) = 0;
    // Removes a file, or a folder with its contents.
    virtual bool removeItem(const std::string& path, Error* error) = 0;
    virtual std::string homeDirectoryForCurrentUser() = 0;
    // The path with every symbolic link in it resolved, without a trailing slash.
    virtual std::string resolvingSymlinksInPath(const std::string& path) = 0;

    static FileManager& shared();
};

}  // namespace platform
