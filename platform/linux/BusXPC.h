#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>

#include "platform/XPC.h"

// XPC over the session bus. A listener owns the service's bus name (see
// serviceAddressFor) and serves, at its object path, one method per
// selector of the interface its connections export: `Name() -> (b)`.
//
// Each calling peer (unique bus name) is one connection. The peer's first
// message goes through the delegate's shouldAcceptNewConnection on the
// listener's thread; its leaving the bus invalidates the connection; its
// calls reach the exported object in order, one at a time, on the
// listener's thread, never the main thread. Code signatures do not exist here: a
// connection with a requirement admits only callers that run as this user,
// by the bus's credentials, and answers everyone else AccessDenied before
// anything reaches the exported object. Every call is answered once: a
// reply dropped unanswered sends an error.
namespace platform::linux_platform {

class BusXPC : public XPC {
public:
    explicit BusXPC(GDBusConnection* bus) : bus_(bus) {}

    std::unique_ptr<XPCListener> makeListener(const std::string& machServiceName) override;

private:
    GDBusConnection* bus_;
};

}  // namespace platform::linux_platform
