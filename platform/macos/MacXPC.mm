#include "MacXPC.h"

#include <objc/runtime.h>
#include <os/log.h>

#include <atomic>

#include "MacLog.h"
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

// Until it is answered, a request holds a user-initiated activity: App Nap
// would otherwise be free to stretch the paste's 30 ms and 60 ms timers in a
// windowless background app. Idle system sleep stays allowed.
class Reply {
public:
    explicit Reply(void (^block)(BOOL))
        : block_(block),
          activity_([NSProcessInfo.processInfo
              beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                                reason:@"Answering a request of Quillory"]) {}
    ~Reply() { send(false); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;

    void send(bool value) {
        // The first answer wins, from whichever thread it comes.
        if (answered_.exchange(true)) return;
        block_(value ? YES : NO);
        [NSProcessInfo.processInfo endActivity:activity_];
    }

private:
    void (^block_)(BOOL);
    id<NSObject> activity_;
    std::atomic<bool> answered_{false};
};

// Whether the program's interface is the protocol: the same name, and each
// selector one of its required methods.
bool describes(const XPCInterface& interface, Protocol* protocol) {
    if (interface.protocolName != protocol_getName(protocol)) return false;
    for (const auto& selector : interface.selectors) {
        if (protocol_getMethodDescription(protocol, NSSelectorFromString(toNSString(selector)), YES, YES)
                .name == nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

XPCReply replyOnce(void (^reply)(BOOL)) {
    auto shared = std::make_shared<Reply>(reply);
    return [shared](bool value) { shared->send(value); };
}

void MacXPCConnection::setCodeSigningRequirement(const std::string& requirement) {
    [connection_ setCodeSigningRequirement:toNSString(requirement)];
}

void MacXPCConnection::setExportedInterface(const XPCInterface& interface) {
    // The one protocol this layer can forward, named at compile time: a
    // lookup by name that failed would leave every request dropped unseen.
    Protocol* protocol = @protocol(AutoPasteHelperXPC);
    connection_.exportedInterface = [NSXPCInterface interfaceWithProtocol:protocol];
    if (!describes(interface, protocol)) {
        os_log_error(platformLog("xpc"),
                     "The exported interface %{public}s does not match the protocol %{public}s",
                     interface.protocolName.c_str(), protocol_getName(protocol));
    }
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
