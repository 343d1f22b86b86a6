#pragma once

// NSXPC behind the seam. Only Objective-C++ includes this header.

#import <Foundation/Foundation.h>

#include <memory>

#include "AutoPasteHelperProtocol.h"
#include "platform/XPC.h"

@class QHListenerDelegate;

namespace platform::macos {

// The reply handed to the exported object: sends its Boolean at the first
// call and ignores later ones; dropped unanswered (every copy destroyed), it
// sends false, so the client's reply block always runs exactly once.
XPCReply replyOnce(void (^reply)(BOOL));

// An NSXPCConnection, for the duration of the listener delegate's call; the
// connection itself lives on while it is valid.
class MacXPCConnection : public XPCConnection {
public:
    explicit MacXPCConnection(NSXPCConnection* connection) : connection_(connection) {}

    void setCodeSigningRequirement(const std::string& requirement) override;
    void setExportedInterface(const XPCInterface& interface) override;
    void setExportedObject(std::shared_ptr<XPCExportedObject> object) override;
    ProcessIdentifier processIdentifier() const override;
    void setInvalidationHandler(std::function<void()> handler) override;
    void resume() override;

private:
    NSXPCConnection* connection_;
};

class MacXPCListener : public XPCListener {
public:
    // A listener for a Mach service, or an anonymous one (tests).
    explicit MacXPCListener(NSXPCListener* listener) : listener_(listener) {}
    ~MacXPCListener() override;
    MacXPCListener(const MacXPCListener&) = delete;
    MacXPCListener& operator=(const MacXPCListener&) = delete;

    void setDelegate(XPCListenerDelegate* delegate) override;
    void resume() override;

    NSXPCListener* listener() const { return listener_; }

private:
    NSXPCListener* listener_;
    // NSXPCListener holds its delegate weakly; this keeps the bridge alive.
    QHListenerDelegate* bridge_ = nullptr;
};

class MacXPC : public XPC {
public:
    std::unique_ptr<XPCListener> makeListener(const std::string& machServiceName) override;
};

}  // namespace platform::macos
