#pragma once

#include "platform/Clock.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/FileManager.h"
#include "platform/Posix.h"
#include "platform/ProcessInfo.h"

namespace platform::macos {

// NSProcessInfo.processInfo.
class MacProcessInfo : public ProcessInfo {
public:
    std::map<std::string, std::string> environment() override;
    ProcessIdentifier processIdentifier() override;
    void disableAutomaticTermination(const std::string& reason) override;
    bool isOperatingSystemAtLeast(OperatingSystemVersion version) override;
};

// NSFileManager.defaultManager.
class MacFileManager : public FileManager {
public:
    std::optional<FileAttributes> attributesOfItem(const std::string& path, Error* error) override;
    bool fileExists(const std::string& path) override;
    bool removeItem(const std::string& path, Error* error) override;
    std::string homeDirectoryForCurrentUser() override;
    std::string resolvingSymlinksInPath(const std::string& path) override;
};

// NSDistributedNotificationCenter.defaultCenter.
class MacDistributedNotificationCenter : public DistributedNotificationCenter {
public:
    void postNotificationName(const std::string& name, bool deliverImmediately) override;
};

// The POSIX clocks: CLOCK_MONOTONIC counts on while the Mac sleeps.
class MacClock : public Clock {
public:
    Date now() override;
    std::chrono::nanoseconds monotonicNow() override;
};

class MacPosix : public Posix {
public:
    int kill(ProcessIdentifier pid, int signal) override;
    void usleep(unsigned microseconds) override;
};

}  // namespace platform::macos
