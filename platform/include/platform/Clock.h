#pragma once

#include <chrono>

#include "platform/FileManager.h"

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Wall-clock time; the user can set it back.
    virtual Date now() = 0;
    // Time since boot, sleep included; never goes back.
    virtual std::chrono::nanoseconds monotonicNow() = 0;

    static Clock& shared();
};

}  // namespace platform
