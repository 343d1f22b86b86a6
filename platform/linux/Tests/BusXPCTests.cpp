#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "BusXPC.h"
#include "GLibSupport.h"
#include "LinuxTestSupport.h"

namespace platform::linux_platform {
namespace {

using linux_test::waitUntil;

constexpr const char* machService = "7RVD2LMQ5X.me.ombrel.quillory.autopaste";
constexpr const char* busName = "_7RVD2LMQ5X.me.ombrel.quillory.autopaste";
constexpr const char* objectPath = "/me/ombrel/quillory/autopaste";
constexpr const char* interfaceName = "me.ombrel.quillory.AutoPasteHelperXPC";

// Accepts every peer and records what reaches it, and as the object every
// connection exports answers pings at once, pastes from another thread, and
// drops "forget" requests without answering them.
class Recorder : public XPCListenerDelegate,
                 public XPCExportedObject,
                 public std::enable_shared_from_this<Recorder> {
public:
    bool shouldAcceptNewConnection(XPCListener&, XPCConnection& connection) override {
        const ProcessIdentifier pid = connection.processIdentifier();
        connection.setCodeSigningRequirement("anchor apple generic");
        connection.setExportedInterface(
            {"AutoPasteHelperXPC", {"pingWithReply:", "pasteWithReply:", "forgetWithReply:"}});
        connection.setExportedObject(shared_from_this());
        connection.setInvalidationHandler([this, pid] {
            std::lock_guard lock(mutex);
            ended.push_back(pid);
        });
        connection.resume();
        std::lock_guard lock(mutex);
        accepted.push_back(pid);
        threads.insert(g_thread_self());
        return true;
    }
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
    // A copy of one of the records below, taken under the lock.
    template <typename Record>
    Record read(const Record& record) {
        std::lock_guard lock(mutex);
        return record;
    }

    std::mutex mutex;
    std::vector<ProcessIdentifier> accepted, ended;
    std::vector<std::string> calls;
    std::set<GThread*> threads;
};

// "true", "false", or the name of the D-Bus error.
std::string call(GDBusConnection* peer, const char* method) {
    ErrorSlot error;
    GVariantPtr reply(g_dbus_connection_call_sync(peer, busName, objectPath, interfaceName, method, nullptr,
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 10000,
                                                  nullptr, error.out()));
    if (reply)
        return g_variant_get_boolean(GVariantPtr(g_variant_get_child_value(reply.get(), 0)).get()) ? "true"
                                                                                                   : "false";
    GCharPtr remote(g_dbus_error_get_remote_error(error.get()));
    return remote ? remote.get() : error.message();
}

class BusXPCTest : public testing::Test {
protected:
    void SetUp() override {
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus, nullptr);
        xpc = std::make_unique<BusXPC>(bus);
        listener = xpc->makeListener(machService);
        listener->setDelegate(recorder.get());
        listener->resume();
    }
    void TearDown() override {
        listener.reset();
        g_object_unref(bus);
    }

    GDBusConnection* bus = nullptr;
    std::unique_ptr<BusXPC> xpc;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::unique_ptr<XPCListener> listener;
};

TEST_F(BusXPCTest, EachPeerIsOneConnectionWhoseCallsRunInOrderOnTheListenersThreadAndGetOneAnswerEach) {
    GDBusConnection* first = linux_test::newBusPeer();
    GDBusConnection* second = linux_test::newBusPeer();
    // Ping answered true, then false: the caller saw the first answer only.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(call(first, "Ping"), "true");
    EXPECT_EQ(call(first, "Paste"), "false");
    EXPECT_EQ(call(first, "Forget"), "org.freedesktop.DBus.Error.Failed");
    EXPECT_EQ(call(first, "Unknown"), "org.freedesktop.DBus.Error.UnknownMethod");
    // Arguments Ping does not take: see reliability.BadInput.
    EXPECT_EQ(call(second, "Ping"), "true");

    // Both peers run in this process.
    EXPECT_EQ(recorder->read(recorder->accepted), (std::vector<ProcessIdentifier>{::getpid(), ::getpid()}));
    EXPECT_EQ(recorder->read(recorder->calls),
              (std::vector<std::string>{"pingWithReply:", "pingWithReply:", "pingWithReply:",
                                        "pasteWithReply:", "forgetWithReply:", "pingWithReply:"}));
    const auto threads = recorder->read(recorder->threads);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(g_thread_self()), 0u);
    g_object_unref(first);
    g_object_unref(second);
}

// The bus tells of a peer's leaving after everything it sent; GDBus may
// hand over the leaving before the last calls. Once all have left, their
// connections have let go of the exported object.
TEST_F(BusXPCTest, APeerLeavingEndsItsConnectionAfterTheCallsItSentBefore) {
    constexpr int peers = 20;
    for (int i = 0; i < peers; ++i) {
        GDBusConnection* peer = linux_test::newBusPeer();
        EXPECT_EQ(call(peer, "Ping"), "true");
        // Sent without waiting for the answers.
        for (int paste = 0; paste < 3; ++paste) {
            g_dbus_connection_call(peer, busName, objectPath, interfaceName, "Paste", nullptr, nullptr,
                                   G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
        }
        g_dbus_connection_flush_sync(peer, nullptr, nullptr);
        g_dbus_connection_close_sync(peer, nullptr, nullptr);
        g_object_unref(peer);
    }
    EXPECT_TRUE(waitUntil([&] { return recorder->read(recorder->ended).size() == peers; }));
    EXPECT_EQ(recorder->read(recorder->ended), std::vector<ProcessIdentifier>(peers, ::getpid()));
    const auto calls = recorder->read(recorder->calls);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "pasteWithReply:"), 3 * peers);
    EXPECT_TRUE(waitUntil([&] { return recorder.use_count() == 1; }));
}

TEST_F(BusXPCTest, AnotherUserIsRefusedBeforeAnythingReachesTheObject) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to call as another user";
    const std::string target = std::string(interfaceName) + ".Paste";
    const char* argv[] = {"setpriv",  "--reuid=65534", "--regid=65534", "--clear-groups", "gdbus",
                          "call",     "--session",     "--dest",        busName,          "--object-path",
                          objectPath, "--method",      target.c_str(),  nullptr};
    const std::string address =
        std::string("DBUS_SESSION_BUS_ADDRESS=") + g_getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* envp[] = {address.c_str(), "HOME=/", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", nullptr};
    gchar* err = nullptr;
    gint status = 0;
    ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<char**>(argv), const_cast<char**>(envp), G_SPAWN_SEARCH_PATH,
                             nullptr, nullptr, nullptr, &err, &status, nullptr));
    EXPECT_FALSE(g_spawn_check_wait_status(status, nullptr));
    EXPECT_NE(std::string(err).find("org.freedesktop.DBus.Error.AccessDenied"), std::string::npos) << err;
    g_free(err);
    // The caller got a connection, which the platform refused and ended.
    EXPECT_EQ(recorder->read(recorder->accepted).size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return recorder->read(recorder->ended).size() == 1; }));
    EXPECT_TRUE(recorder->read(recorder->calls).empty());
}

}  // namespace
}  // namespace platform::linux_platform
