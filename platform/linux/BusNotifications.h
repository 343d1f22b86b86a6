#pragma once

#include <gio/gio.h>

#include "platform/DistributedNotificationCenter.h"

namespace platform::linux_platform {

// Distributed notifications as broadcast signals on the session bus (see
// signalAddressFor). Without a bus, nothing is sent.
class BusNotifications : public DistributedNotificationCenter {
public:
    explicit BusNotifications(GDBusConnection* bus) : bus_(bus) {}

    void postNotificationName(const std::string& name, bool deliverImmediately) override;

private:
    GDBusConnection* bus_;
};

}  // namespace platform::linux_platform
