#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RunningApplication.h"

namespace platform {

using XPCReply = std::function<void(bool)>;

// The methods a connection exports: each takes only a reply block that
// receives one Boolean.
struct XPCInterface {
    std::string protocolName;
    std::vector<std::string> selectors;
};

// Receives the requests of the exported interface, one selector at a time.
class XPCExportedObject {
public:
    virtual ~XPCExportedObject() = default;
    virtual void invoke(std::string_view selector, XPCReply reply) = 0;
};

// One client's connection. The platform keeps it alive while it is valid and
// delivers its requests serially on its own queue, never the main thread.
class XPCConnection {
public:
    virtual ~XPCConnection() = default;
    virtual void setCodeSigningRequirement(const std::string& requirement) = 0;
    virtual void setExportedInterface(const XPCInterface& interface) = 0;
    // The connection holds the exported object strongly.
    virtual void setExportedObject(std::shared_ptr<XPCExportedObject> object) = 0;
    virtual ProcessIdentifier processIdentifier() const = 0;
    virtual void setInvalidationHandler(std::function<void()> handler) = 0;
    virtual void resume() = 0;
};

class XPCListener;

class XPCListenerDelegate {
public:
    virtual ~XPCListenerDelegate() = default;
    // Called on the listener's queue, once per incoming connection.
    virtual bool shouldAcceptNewConnection(XPCListener& listener, XPCConnection& connection) = 0;
};

class XPCListener {
public:
    virtual ~XPCListener() = default;
    // Not owned: the delegate outlives its listener.
    virtual void setDelegate(XPCListenerDelegate* delegate) = 0;
    // Connections are accepted from here on.
    virtual void resume() = 0;
};

class XPC {
public:
    virtual ~XPC() = default;
    virtual std::unique_ptr<XPCListener> makeListener(const std::string& machServiceName) = 0;

    static XPC& shared();
};

}  // namespace platform
