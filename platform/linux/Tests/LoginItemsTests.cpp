#include <gtest/gtest.h>

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

// A bundle whose agent does nothing but exit: the bus's attempt to start it
// now changes nothing here.
struct AgentBundle {
    explicit AgentBundle(const std::string& folder) : path(folder + "/Test Helper.app") {
        linux_test::writeBundle(path, "me.ombrel.test.helper", "Test Helper", "#!/bin/sh\nexit 0\n");
        linux_test::writeText(
            path + "/Contents/Library/LaunchAgents/" + plistName,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>Label</key><string>me.ombrel.test.agent</string>"
            "<key>BundleProgram</key><string>Contents/MacOS/Test Helper</string>"
            "<key>EnvironmentVariables</key><dict><key>KVX_AUTOPASTE_AGENT</key><string>1</string></dict>"
            "<key>MachServices</key><dict><key>1TESTTEAM1.me.ombrel.test.service</key><true/></dict>"
            "</dict></plist>\n");
    }
    std::string path;
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

class LoginItemsTest : public testing::Test {
protected:
    void SetUp() override { bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr); }
    void TearDown() override {
        system.closeAndWait();
        g_object_unref(bus);
    }

    std::string folder = linux_test::freshFolder();
    AgentBundle bundle{folder};
    GDBusConnection* bus = nullptr;
    SerialQueue system{"test.system"};
};

TEST_F(LoginItemsTest,
       TheAgentIsRegisteredInBothFilesTheUserCanTurnItOffAndItsUnregisteredEvenWithoutItsBundle) {
    LinuxServiceManagement loginItems(bus, system, bundle.info);
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceNotRegistered);
    Error error;
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error)) << error.localizedDescription;
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceEnabled);

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
