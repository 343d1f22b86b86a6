#pragma once

#include "platform/RunningApplication.h"

namespace platform {

// The C library calls the units use.
class Posix {
public:
    virtual ~Posix() = default;
    virtual int kill(ProcessIdentifier pid, int signal) = 0;
    virtual void usleep(unsigned microseconds) = 0;

    static Posix& shared();
};

}  // namespace platform
