#pragma once

#include <string>

namespace platform {

// Notifications broadcast to every process of the user's session.
class DistributedNotificationCenter {
public:
    virtual ~DistributedNotificationCenter() = default;
    // Object and user info are always none.
    virtual void postNotificationName(const std::string& name, bool deliverImmediately) = 0;

    static DistributedNotificationCenter& shared();
};

}  // namespace platform
