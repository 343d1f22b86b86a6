#pragma once

#include "platform/Clock.h"
#include "platform/FileManager.h"
#include "platform/Posix.h"
#include "platform/ProcessInfo.h"

// Files, process information, clocks and the C library, straight from the
// kernel and libc.
namespace platform::linux_platform {

class LinuxFileManager : public FileManager {
public:
    // Nanoseconds of the modification date are kept.
    std::optional<FileAttributes> attributesOfItem(const std::string& path, Error* error) override;
    bool fileExists(const std::string& path) override;
    bool removeItem(const std::string& path, Error* error) override;
    // HOME, else the password database.
    std::string homeDirectoryForCurrentUser() override;
    std::string resolvingSymlinksInPath(const std::string& path) override;
};

class LinuxProcessInfo : public ProcessInfo {
public:
    std::map<std::string, std::string> environment() override;
    ProcessIdentifier processIdentifier() override;
    // Nothing ends a process on its own here.
    void disableAutomaticTermination(const std::string& reason) override;
    // There is no macOS version to compare with.
    bool isOperatingSystemAtLeast(OperatingSystemVersion version) override;
};

class LinuxClock : public Clock {
public:
    Date now() override;
    // CLOCK_BOOTTIME: counts suspended time too.
    std::chrono::nanoseconds monotonicNow() override;
};

class LinuxPosix : public Posix {
public:
    int kill(ProcessIdentifier pid, int signal) override;
    void usleep(unsigned microseconds) override;
};

// The home folder as above, for the other services.
std::string homeDirectory();
// The environment of the process now.
std::map<std::string, std::string> currentEnvironment();

}  // namespace platform::linux_platform
