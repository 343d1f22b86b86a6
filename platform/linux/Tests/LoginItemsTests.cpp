#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "GLibSupport.h"
#include "LinuxTestSupport.h"
#include "LoginItems.h"
#include "Queues.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;
using linux_test::readText;

constexpr const char* plistName = "me.ombrel.test.agent.plist";
constexpr const char* machServices =
    "<key>MachServices</key><dict><key>1TESTTEAM1.me.ombrel.test.service</key><true/></dict>";
constexpr const char* runsAtLoad = "<key>RunAtLoad</key><true/>";

// A bundle whose agent notes each start in `starts` and fails at once, so
// that the bus ends that start (one that exits 0 is waited for until the
// activation times out). `runAtLoad` is the property list's entry, if any.
struct AgentBundle {
    AgentBundle(const std::string& folder, const std::string& runAtLoad)
        : path(folder + "/Test Helper.app"), starts(folder + "/starts") {
        linux_test::writeBundle(path, "me.ombrel.test.helper", "Test Helper",
                                "#!/bin/sh\necho started >> '" + starts + "'\nexit 1\n");
        writeList(runAtLoad);
    }

    void writeList(const std::string& runAtLoad, const std::string& services = machServices) {
        linux_test::writeText(
            path + "/Contents/Library/LaunchAgents/" + plistName,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>Label</key><string>me.ombrel.test.agent</string>"
            "<key>BundleProgram</key><string>Contents/MacOS/Test Helper</string>"
            "<key>EnvironmentVariables</key><dict><key>KVX_AUTOPASTE_AGENT</key><string>1</string></dict>" +
                services + runAtLoad + "</dict></plist>\n");
    }

    std::size_t startCount() const {
        const std::string text = readText(starts);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }

    std::string path;
    std::string starts;
    BundleInfo info{path, "me.ombrel.test.helper", path + "/Contents/MacOS/Test Helper", "Test Helper"};
};

std::string autostartPath() { return autostartFilePath("me.ombrel.test.agent"); }
std::string activationPath() { return activationFilePath("_1TESTTEAM1.me.ombrel.test.service"); }

void setAutostartKey(const char* key, const char* value) {
    GKeyFilePtr entry(g_key_file_new());
    ASSERT_TRUE(g_key_file_load_from_file(entry.get(), autostartPath().c_str(), G_KEY_FILE_NONE, nullptr));
    g_key_file_set_value(entry.get(), "Desktop Entry", key, value);
    ASSERT_TRUE(g_key_file_save_to_file(entry.get(), autostartPath().c_str(), nullptr));
}

// Requests to start a service that left through a connection with a
// StartRequests filter on it. The filter runs on GDBus's worker thread and
// may still run just after its removal: what it counts lives as long as the
// program.
std::atomic<int> startRequestsSeen{0};

class StartRequests {
public:
    explicit StartRequests(GDBusConnection* bus)
        : bus_(bus),
          before_(startRequestsSeen),
          filter_(g_dbus_connection_add_filter(bus, &StartRequests::see, nullptr, nullptr)) {}
    ~StartRequests() { g_dbus_connection_remove_filter(bus_, filter_); }

    // Once the bus has answered a call sent after them, every earlier
    // message has passed the filter.
    int sentSoFar() {
        GVariantPtr(g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        return startRequestsSeen - before_;
    }

private:
    static GDBusMessage* see(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
        if (!incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL &&
            g_strcmp0(g_dbus_message_get_member(message), "StartServiceByName") == 0)
            ++startRequestsSeen;
        return message;
    }

    GDBusConnection* bus_;
    int before_;
    guint filter_;
};

class LoginItemsTest : public testing::Test {
protected:
    void SetUp() override { bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr); }
    void TearDown() override {
        system.closeAndWait();
        g_object_unref(bus);
    }

    std::string folder = linux_test::freshFolder();
    AgentBundle bundle{folder, runsAtLoad};
    GDBusConnection* bus = nullptr;
    SerialQueue system{"test.system"};
};

TEST_F(LoginItemsTest,
       ARunAtLoadAgentStartsNowAndAtLoginTheUserCanTurnItOffAndItsUnregisteredEvenWithoutItsBundle) {
    LinuxServiceManagement loginItems(bus, system, bundle.info);
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceNotRegistered);
    Error error;
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error)) << error.localizedDescription;
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceEnabled);
    // Started now, as launchd runs such a job when it loads it.
    EXPECT_TRUE(linux_test::waitUntil([&] { return bundle.startCount() > 0; }));

    // The program's path has a space; both files quote it, and both start it
    // with the property list's environment and as a new instance.
    const std::string expected = "/usr/bin/env \"KVX_AUTOPASTE_AGENT=1\" \"QUILLORY_NEW_INSTANCE=1\" \"" +
                                 bundle.path + "/Contents/MacOS/Test Helper\"";
    EXPECT_EQ(readText(activationPath()),
              "[D-BUS Service]\nName=_1TESTTEAM1.me.ombrel.test.service\nExec=" + expected + "\n");
    const std::string autostart = readText(autostartPath());
    EXPECT_NE(autostart.find("\nExec=" + expected + "\n"), std::string::npos) << autostart;
    EXPECT_NE(autostart.find("\nType=Application\n"), std::string::npos) << autostart;

    // Turned off in the desktop's startup applications, it needs approval,
    // and the user's choice stands.
    setAutostartKey("X-GNOME-Autostart-enabled", "false");
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceRequiresApproval);
    EXPECT_FALSE(loginItems.agent(plistName)->registerService(&error));
    setAutostartKey("X-GNOME-Autostart-enabled", "true");
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceEnabled);
    setAutostartKey("Hidden", "true");
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceRequiresApproval);
    // Half a registration counts as none, so that registering mends it.
    fs::remove(autostartPath());
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error));
    fs::remove(activationPath());
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceNotRegistered);
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error));

    // The bundle deleted, the agent it had at the start can still be
    // unregistered; the reply comes off the main thread.
    fs::remove_all(bundle.path);
    auto agent = loginItems.agent(plistName);
    EXPECT_EQ(agent->status(), appServiceEnabled);
    std::atomic<bool> replied{false};
    std::optional<Error> failure;
    GThread* repliedOn = nullptr;
    agent->unregister([&](std::optional<Error> error) {
        failure = std::move(error);
        repliedOn = g_thread_self();
        replied = true;
    });
    ASSERT_TRUE(linux_test::waitUntil([&] { return replied.load(); }));
    EXPECT_FALSE(failure);
    EXPECT_NE(repliedOn, g_thread_self());
    EXPECT_EQ(agent->status(), appServiceNotRegistered);
    EXPECT_FALSE(fs::exists(activationPath()));
    EXPECT_FALSE(fs::exists(autostartPath()));
    EXPECT_FALSE(agent->unregister(&error));
    EXPECT_NE(error.localizedDescription.find("not registered"), std::string::npos)
        << error.localizedDescription;
}

TEST_F(LoginItemsTest, AnAgentWithoutRunAtLoadIsStartedOnlyOnDemandNeitherAtRegistrationNorAtLogin) {
    bundle.writeList("");
    LinuxServiceManagement loginItems(bus, system, bundle.info);
    Error error;
    StartRequests starts(bus);
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error)) << error.localizedDescription;
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceEnabled);
    EXPECT_EQ(starts.sentSoFar(), 0);
    EXPECT_TRUE(fs::exists(activationPath()));
    EXPECT_FALSE(fs::exists(autostartPath()));

    // The first request, from another client, starts it; the bus answers
    // once the agent has ended.
    GDBusConnection* client = linux_test::newBusPeer();
    GVariantPtr(g_dbus_connection_call_sync(client, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus", "StartServiceByName",
                                            g_variant_new("(su)", "_1TESTTEAM1.me.ombrel.test.service", 0u),
                                            nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
    EXPECT_EQ(bundle.startCount(), 1u);
    g_object_unref(client);

    // Registered under a list that ran it at load, then under one that says
    // it does not: registering again takes the login entry away.
    bundle.writeList(runsAtLoad);
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceNotRegistered);
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error));
    ASSERT_TRUE(fs::exists(autostartPath()));
    const int startsAtLoad = starts.sentSoFar();
    EXPECT_EQ(startsAtLoad, 1);
    bundle.writeList("<key>RunAtLoad</key><false/>");
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceNotRegistered);
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error));
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceEnabled);
    EXPECT_FALSE(fs::exists(autostartPath()));
    EXPECT_EQ(starts.sentSoFar(), startsAtLoad);

    // Without a service either, nothing would ever start it.
    bundle.writeList("", "");
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceNotRegistered);
    EXPECT_FALSE(loginItems.agent(plistName)->registerService(&error));
    EXPECT_NE(error.localizedDescription.find("neither RunAtLoad nor MachServices"), std::string::npos)
        << error.localizedDescription;
}

TEST_F(LoginItemsTest, TheAppsOwnLoginItemIsItsAutostartEntryAndUnknownItemsAreNotFound) {
    LinuxServiceManagement loginItems(bus, system, bundle.info);
    auto app = loginItems.mainApp();
    EXPECT_EQ(app->status(), appServiceNotRegistered);
    Error error;
    ASSERT_TRUE(app->registerService(&error)) << error.localizedDescription;
    const std::string path = autostartFilePath("me.ombrel.test.helper");
    EXPECT_NE(readText(path).find("Exec=\"" + bundle.path + "/Contents/MacOS/Test Helper\""),
              std::string::npos);
    EXPECT_EQ(app->status(), appServiceEnabled);
    ASSERT_TRUE(app->unregister(&error));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(app->status(), appServiceNotRegistered);

    LinuxServiceManagement loose(bus, system, BundleInfo{folder, std::nullopt, folder + "/tool", "tool"});
    EXPECT_EQ(loose.mainApp()->status(), appServiceNotFound);
    auto missing = loginItems.agent("me.ombrel.test.other.plist");
    EXPECT_EQ(missing->status(), appServiceNotFound);
    EXPECT_FALSE(missing->registerService(&error));
    EXPECT_NE(error.localizedDescription.find("me.ombrel.test.other.plist"), std::string::npos);
}

// Desktop and D-Bus service files split and unquote Exec as the shell does.
TEST(CommandLines, QuoteWhatTheShellRulesOfDesktopAndServiceFilesWouldSplitOrExpand) {
    EXPECT_EQ(commandLine({{"A", "x y"}}, {"/opt/My App/run", "$HOME", "say \"hi\"", "a\\b"}),
              R"(/usr/bin/env "A=x y" "/opt/My App/run" "\$HOME" "say \"hi\"" "a\\b")");
}

}  // namespace
}  // namespace platform::linux_platform
