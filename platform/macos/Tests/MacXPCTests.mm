// The XPC layer over a real NSXPC connection: an anonymous listener and a
// client connected to its endpoint, in this process.

#include <Security/Security.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "HelperXPC.h"
#include "MacStrings.h"
#include "MacXPC.h"

using namespace platform;

namespace {

constexpr int64_t waitLimit = 10 * NSEC_PER_SEC;

bool wait(dispatch_semaphore_t semaphore) {
    return dispatch_semaphore_wait(semaphore, dispatch_time(DISPATCH_TIME_NOW, waitLimit)) == 0;
}

// Pings are answered twice, pastes kept (or dropped) unanswered: what a
// faulty exported object could do.
class Exported : public XPCExportedObject {
public:
    explicit Exported(dispatch_semaphore_t destroyed) : destroyed(destroyed) {}
    ~Exported() override { dispatch_semaphore_signal(destroyed); }

    void invoke(std::string_view selector, XPCReply reply) override {
        if (selector == "pingWithReply:") {
            reply(true);
            reply(false);
        } else if (keepPastes) {
            kept = std::move(reply);
            dispatch_semaphore_signal(pasteArrived);
        }
    }

    bool keepPastes = false;
    XPCReply kept;
    dispatch_semaphore_t pasteArrived = dispatch_semaphore_create(0);
    dispatch_semaphore_t destroyed;
};

class Server : public XPCListenerDelegate {
public:
    Server() : listener([NSXPCListener anonymousListener]) {
        listener.setDelegate(this);
        listener.resume();
    }

    bool shouldAcceptNewConnection(XPCListener&, XPCConnection& connection) override {
        connection.setExportedInterface({"AutoPasteHelperXPC", {"pingWithReply:", "pasteWithReply:"}});
        // Handed over: from here on only the connection holds it.
        connection.setExportedObject(std::move(exported));
        connection.setInvalidationHandler([ended = ended] { dispatch_semaphore_signal(ended); });
        connection.resume();
        return true;
    }

    dispatch_semaphore_t destroyed = dispatch_semaphore_create(0);
    std::shared_ptr<Exported> exported = std::make_shared<Exported>(destroyed);
    dispatch_semaphore_t ended = dispatch_semaphore_create(0);
    macos::MacXPCListener listener;
};

NSXPCConnection* connect(Server& server) {
    NSXPCConnection* client =
        [[NSXPCConnection alloc] initWithListenerEndpoint:server.listener.listener().endpoint];
    client.remoteObjectInterface = [NSXPCInterface interfaceWithProtocol:@protocol(AutoPasteHelperXPC)];
    [client resume];
    return client;
}

}  // namespace

TEST(MacXPC, EveryRequestIsAnsweredExactlyOnceEvenByAFaultyObject) {
    Server server;
    NSXPCConnection* client = connect(server);
    id<AutoPasteHelperXPC> proxy = [client remoteObjectProxyWithErrorHandler:^(NSError*){
    }];

    struct Counts {
        std::atomic<int> pingTrue{0}, pingFalse{0}, pasteFalse{0};
    };
    auto counts = std::make_shared<Counts>();
    dispatch_semaphore_t replied = dispatch_semaphore_create(0);
    [proxy pingWithReply:^(BOOL value) {
      (value ? counts->pingTrue : counts->pingFalse)++;
      dispatch_semaphore_signal(replied);
    }];
    // Dropped unanswered: the platform answers false in its place.
    [proxy pasteWithReply:^(BOOL value) {
      if (!value) counts->pasteFalse++;
      dispatch_semaphore_signal(replied);
    }];
    ASSERT_TRUE(wait(replied));
    ASSERT_TRUE(wait(replied));
    // One more round trip, so that a second answer to either would be in by now.
    [proxy pingWithReply:^(BOOL) {
      dispatch_semaphore_signal(replied);
    }];
    ASSERT_TRUE(wait(replied));

    EXPECT_EQ(counts->pingTrue.load(), 2);
    EXPECT_EQ(counts->pingFalse.load(), 0);
    EXPECT_EQ(counts->pasteFalse.load(), 1);
    [client invalidate];
}

TEST(MacXPC, AClientGoneMidRequestEndsTheConnectionAndReleasesTheExportedObject) {
    Server server;
    std::shared_ptr<Exported> exported = server.exported;
    exported->keepPastes = true;

    NSXPCConnection* client = connect(server);
    [[client remoteObjectProxyWithErrorHandler:^(NSError*){
    }] pasteWithReply:^(BOOL){
    }];
    ASSERT_TRUE(wait(exported->pasteArrived));
    [client invalidate];
    ASSERT_TRUE(wait(server.ended));

    // The late answer goes nowhere and breaks nothing. The reply may hold
    // the connection, which holds the exported object: let it go first.
    XPCReply late = std::move(exported->kept);
    exported->kept = nullptr;
    late(true);
    late = nullptr;
    // Only this test holds the object now: the ended connection let it go.
    ASSERT_EQ(server.exported, nullptr);
    exported.reset();
    EXPECT_TRUE(wait(server.destroyed));
}

// A requirement that does not compile makes NSXPC raise on the listener's
// queue, at the first connection: the release build's, and a development
// build's that also admits the demo's two programs by code directory hash.
TEST(MacXPC, TheServedClientRequirementsCompile) {
    for (const std::string& text : {quillory::HelperXPC::servedClientRequirement(""),
                                    quillory::HelperXPC::servedClientRequirement(
                                        "cdhash H\"0123456789abcdef0123456789abcdef01234567\" or "
                                        "cdhash H\"89abcdef0123456789abcdef0123456789abcdef\"")}) {
        SecRequirementRef requirement = nullptr;
        EXPECT_EQ(SecRequirementCreateWithString((__bridge CFStringRef)macos::toNSString(text),
                                                 kSecCSDefaultFlags, &requirement),
                  errSecSuccess)
            << text;
        if (requirement != nullptr) CFRelease(requirement);
    }
}
