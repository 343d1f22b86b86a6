#include "MacXPC.h"

#include <atomic>

#include "MacStrings.h"

// Forwards the protocol's requests to the program's exported object, on the
// connection's queue, where NSXPC delivers them.
@interface QHExportedObject : NSObject <AutoPasteHelperXPC>
- (instancetype)initWithObject:(std::shared_ptr<platform::XPCExportedObject>)object;
@end

@implementation QHExportedObject {
    std::shared_ptr<platform::XPCExportedObject> _object;
}

- (instancetype)initWithObject:(std::shared_ptr<platform::XPCExportedObject>)object {
    if ((self = [super init])) _object = std::move(object);
    return self;
}

- (void)pingWithReply:(void (^)(BOOL))reply {
    _object->invoke("pingWithReply:", platform::macos::replyOnce(reply));
}

- (void)pasteWithReply:(void (^)(BOOL))reply {
    _object->invoke("pasteWithReply:", platform::macos::replyOnce(reply));
}

@end

@interface QHListenerDelegate : NSObject <NSXPCListenerDelegate>
- (instancetype)initWithDelegate:(platform::XPCListenerDelegate*)delegate
                           owner:(platform::macos::MacXPCListener*)owner;
@end

@implementation QHListenerDelegate {
    platform::XPCListenerDelegate* _delegate;
    platform::macos::MacXPCListener* _owner;
}

- (instancetype)initWithDelegate:(platform::XPCListenerDelegate*)delegate
                           owner:(platform::macos::MacXPCListener*)owner {
    if ((self = [super init])) {
        _delegate = delegate;
        _owner = owner;
    }
    return self;
}

- (BOOL)listener:(NSXPCListener*)listener shouldAcceptNewConnection:(NSXPCConnection*)newConnection {
    platform::macos::MacXPCConnection connection(newConnection);
    return _delegate->shouldAcceptNewConnection(*_owner, connection) ? YES : NO;
}

@end

namespace platform::macos {

namespace {

class Reply {
public:
    explicit Reply(void (^block)(BOOL)) : block_(block) {}
    ~Reply() { send(false); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;

    void send(bool value) {
        // The first answer wins, from whichever thread it comes.
        if (!answered_.exchange(true)) block_(value ? YES : NO);
    }

private:
    void (^block_)(BOOL);
    std::atomic<bool> answered_{false};
};

}  // namespace

XPCReply replyOnce(void (^reply)(BOOL)) {
    auto shared = std::make_shared<Reply>(reply);
    return [shared](bool value) { shared->send(value); };
}

void MacXPCConnection::setCodeSigningRequirement(const std::string& requirement) {
    [connection_ setCodeSigningRequirement:toNSString(requirement)];
}

void MacXPCConnection::setExportedInterface(const XPCInterface& interface) {
    // The protocol is known to the runtime by name: this file declares and
    // adopts it.
    Protocol* protocol = NSProtocolFromString(toNSString(interface.protocolName));
    connection_.exportedInterface = protocol != nil ? [NSXPCInterface interfaceWithProtocol:protocol] : nil;
}

void MacXPCConnection::setExportedObject(std::shared_ptr<XPCExportedObject> object) {
    connection_.exportedObject = [[QHExportedObject alloc] initWithObject:std::move(object)];
}

ProcessIdentifier MacXPCConnection::processIdentifier() const { return connection_.processIdentifier; }

void MacXPCConnection::setInvalidationHandler(std::function<void()> handler) {
    connection_.invalidationHandler = ^{
      handler();
    };
}

void MacXPCConnection::resume() { [connection_ resume]; }

MacXPCListener::~MacXPCListener() {
    listener_.delegate = nil;
    [listener_ invalidate];
}

void MacXPCListener::setDelegate(XPCListenerDelegate* delegate) {
    bridge_ = delegate != nullptr ? [[QHListenerDelegate alloc] initWithDelegate:delegate owner:this] : nil;
    listener_.delegate = bridge_;
}

void MacXPCListener::resume() { [listener_ resume]; }

std::unique_ptr<XPCListener> MacXPC::makeListener(const std::string& machServiceName) {
    return std::make_unique<MacXPCListener>(
        [[NSXPCListener alloc] initWithMachServiceName:toNSString(machServiceName)]);
}

}  // namespace platform::macos
