#pragma once

#include <map>
#include <string>

#include "platform/RunningApplication.h"

namespace platform {

struct OperatingSystemVersion {
    long majorVersion = 0;
    long minorVersion = 0;
    long patchVersion = 0;
};

class ProcessInfo {
public:
    virtual ~ProcessInfo() = default;
    // Read anew on every call.
    virtual std::map<std::string, std::string> environment() = 0;
    virtual ProcessIdentifier processIdentifier() = 0;
    virtual void disableAutomaticTermination(const std::string& reason) = 0;
    virtual bool isOperatingSystemAtLeast(OperatingSystemVersion version) = 0;

    static ProcessInfo& shared();
};

}  // namespace platform
