#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "BusXPC.h"
#include "LinuxTestSupport.h"

namespace platform::linux_platform {
namespace {

using linux_test::waitUntil;

constexpr const char* machService = "7RVD2LMQ5X.me.ombrel.quillory.autopaste";
constexpr const char* busName = "_7RVD2LMQ5X.me.ombrel.quillory.autopaste";
constexpr const char* objectPath = "/me/ombrel/quillory/autopaste";
constexpr const char* interfaceName = "me.ombrel.quillory.AutoPasteHelperXPC";

// The exported object: answers pings at once, pastes from another thread,
// and drops "forget" requests without answering them.
class RecordingObject : public XPCExportedObject {
public:
    void invoke(std::string_view selector, XPCReply reply) override {
        {
            std::lock_guard lock(mutex);
            calls.emplace_back(selector);
            threads.insert(g_thread_self());
        }
        if (selector == "pingWithReply:") {
            reply(true);
            reply(false);  // a second answer goes nowhere
        } else if (selector == "pasteWithReply:") {
            std::thread([reply] { reply(false); }).detach();
        }
    }
    std::mutex mutex;
    std::vector<std::string> calls;
    std::set<GThread*> threads;
};

class RecordingDelegate : public XPCListenerDelegate {
public:
    bool shouldAcceptNewConnection(XPCListener&, XPCConnection& connection) override {
        const ProcessIdentifier pid = connection.processIdentifier();
        connection.setCodeSigningRequirement("anchor apple generic");
        connection.setExportedInterface(
            {"AutoPasteHelperXPC", {"pingWithReply:", "pasteWithReply:", "forgetWithReply:"}});
        connection.setExportedObject(object);
        connection.setInvalidationHandler([this, pid] {
            std::lock_guard lock(mutex);
            ended.push_back(pid);
        });
        connection.resume();
        std::lock_guard lock(mutex);
        accepted.push_back(pid);
        acceptedOn.insert(g_thread_self());
        return true;
    }
    std::vector<ProcessIdentifier> acceptedPids() {
        std::lock_guard lock(mutex);
        return accepted;
    }
    std::vector<ProcessIdentifier> endedPids() {
        std::lock_guard lock(mutex);
        return ended;
    }

    std::shared_ptr<RecordingObject> object = std::make_shared<RecordingObject>();
    std::mutex mutex;
    std::vector<ProcessIdentifier> accepted;
    std::set<GThread*> acceptedOn;
    std::vector<ProcessIdentifier> ended;
};

struct Answer {
    std::optional<bool> value;
    std::string error;
};

Answer call(GDBusConnection* peer, const char* method) {
    GError* error = nullptr;
    GVariant* reply =
        g_dbus_connection_call_sync(peer, busName, objectPath, interfaceName, method, nullptr,
                                    G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    Answer answer;
    if (reply != nullptr) {
        gboolean value = FALSE;
        g_variant_get(reply, "(b)", &value);
        answer.value = value != FALSE;
        g_variant_unref(reply);
    } else {
        gchar* remote = g_dbus_error_get_remote_error(error);
        answer.error = remote != nullptr ? remote : error->message;
        g_free(remote);
        g_error_free(error);
    }
    return answer;
}

class BusXPCTest : public testing::Test {
protected:
    void SetUp() override {
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus, nullptr);
        xpc = std::make_unique<BusXPC>(bus);
        listener = xpc->makeListener(machService);
        listener->setDelegate(&delegate);
        listener->resume();
    }
    void TearDown() override {
        listener.reset();
        g_object_unref(bus);
    }

    GDBusConnection* bus = nullptr;
    std::unique_ptr<BusXPC> xpc;
    RecordingDelegate delegate;
    std::unique_ptr<XPCListener> listener;
};

TEST_F(BusXPCTest, EachPeerIsOneConnectionWhoseCallsRunInOrderOnTheListenersThread) {
    GDBusConnection* first = linux_test::newBusPeer();
    GDBusConnection* second = linux_test::newBusPeer();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(call(first, "Ping").value, true);
    EXPECT_EQ(call(first, "Paste").value, false);
    EXPECT_EQ(call(second, "Ping").value, true);

    // Both peers run in this process.
    EXPECT_EQ(delegate.acceptedPids(), (std::vector<ProcessIdentifier>{::getpid(), ::getpid()}));
    std::lock_guard lock(delegate.object->mutex);
    EXPECT_EQ(delegate.object->calls,
              (std::vector<std::string>{"pingWithReply:", "pingWithReply:", "pingWithReply:",
                                        "pasteWithReply:", "pingWithReply:"}));
    EXPECT_EQ(delegate.acceptedOn.size(), 1u);
    EXPECT_EQ(delegate.acceptedOn.count(g_thread_self()), 0u);
    EXPECT_EQ(delegate.object->threads, delegate.acceptedOn);
    g_object_unref(first);
    g_object_unref(second);
}

TEST_F(BusXPCTest, EveryCallGetsExactlyOneAnswer) {
    GDBusConnection* peer = linux_test::newBusPeer();
    EXPECT_EQ(call(peer, "Forget").error, "org.freedesktop.DBus.Error.Failed");
    EXPECT_EQ(call(peer, "Unknown").error, "org.freedesktop.DBus.Error.UnknownMethod");
    // Arguments Ping does not take: see reliability.BadInput.
    // Ping answered true, then false: the caller saw the first answer only.
    EXPECT_EQ(call(peer, "Ping").value, true);
    std::lock_guard lock(delegate.object->mutex);
    EXPECT_EQ(delegate.object->calls, (std::vector<std::string>{"forgetWithReply:", "pingWithReply:"}));
    g_object_unref(peer);
}

// The bus tells of a peer's leaving after everything it sent; GDBus may
// hand over the leaving before the last calls. Once all have left, their
// connections have let go of the exported object.
TEST_F(BusXPCTest, APeerLeavingEndsItsConnectionAfterTheCallsItSentBefore) {
    constexpr int peers = 20;
    for (int i = 0; i < peers; ++i) {
        GDBusConnection* peer = linux_test::newBusPeer();
        EXPECT_EQ(call(peer, "Ping").value, true);
        for (int paste = 0; paste < 3; ++paste) {
            GDBusMessage* message =
                g_dbus_message_new_method_call(busName, objectPath, interfaceName, "Paste");
            g_dbus_connection_send_message(peer, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
            g_object_unref(message);
        }
        g_dbus_connection_flush_sync(peer, nullptr, nullptr);
        g_dbus_connection_close_sync(peer, nullptr, nullptr);
        g_object_unref(peer);
    }
    const auto pastes = [&] {
        std::lock_guard lock(delegate.object->mutex);
        return std::count(delegate.object->calls.begin(), delegate.object->calls.end(), "pasteWithReply:");
    };
    EXPECT_TRUE(waitUntil([&] { return delegate.endedPids().size() == peers; }));
    EXPECT_EQ(delegate.endedPids(), std::vector<ProcessIdentifier>(peers, ::getpid()));
    EXPECT_EQ(pastes(), 3 * peers);
    EXPECT_TRUE(waitUntil([&] { return delegate.object.use_count() == 1; }));
}

TEST_F(BusXPCTest, AnotherUserIsRefusedBeforeAnythingReachesTheObject) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to call as another user";
    for (const std::string method : {"Ping", "Paste"}) {
        const std::string target = std::string(interfaceName) + "." + method;
        const char* argv[] = {"setpriv",  "--reuid=65534", "--regid=65534", "--clear-groups", "gdbus",
                              "call",     "--session",     "--dest",        busName,          "--object-path",
                              objectPath, "--method",      target.c_str(),  nullptr};
        const std::string address =
            std::string("DBUS_SESSION_BUS_ADDRESS=") + g_getenv("DBUS_SESSION_BUS_ADDRESS");
        const char* envp[] = {address.c_str(), "HOME=/", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", nullptr};
        gchar* out = nullptr;
        gchar* err = nullptr;
        gint status = 0;
        ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<char**>(argv), const_cast<char**>(envp),
                                 G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &status, nullptr));
        EXPECT_FALSE(g_spawn_check_wait_status(status, nullptr));
        EXPECT_NE(std::string(err).find("org.freedesktop.DBus.Error.AccessDenied"), std::string::npos) << err;
        g_free(out);
        g_free(err);
    }
    // Each caller got a connection, which the platform refused and ended.
    EXPECT_EQ(delegate.acceptedPids().size(), 2u);
    EXPECT_TRUE(waitUntil([&] { return delegate.endedPids().size() == 2; }));
    std::lock_guard lock(delegate.object->mutex);
    EXPECT_TRUE(delegate.object->calls.empty());
}

}  // namespace
}  // namespace platform::linux_platform
