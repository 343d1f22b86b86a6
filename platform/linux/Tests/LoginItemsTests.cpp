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
using linux_test::TemporaryFolder;
using linux_test::waitUntil;
using linux_test::writeText;

constexpr const char* plistName = "me.ombrel.test.agent.plist";

// A bundle whose agent does nothing but exit: the bus's attempt to start it
// now changes nothing here.
struct AgentBundle {
    explicit AgentBundle(const std::string& folder) : path(folder + "/Test Helper.app") {
        writeText(path + "/Contents/Info.plist",
                  linux_test::infoPlist("me.ombrel.test.helper", "Test Helper"));
        writeText(path + "/Contents/MacOS/Test Helper", "#!/bin/sh\nexit 0\n");
        fs::permissions(path + "/Contents/MacOS/Test Helper", fs::perms::owner_all);
        writeText(
            path + "/Contents/Library/LaunchAgents/" + plistName,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>Label</key><string>me.ombrel.test.agent</string>"
            "<key>BundleProgram</key><string>Contents/MacOS/Test Helper</string>"
            "<key>EnvironmentVariables</key><dict><key>KVX_AUTOPASTE_AGENT</key><string>1</string></dict>"
            "<key>MachServices</key><dict><key>1TESTTEAM1.me.ombrel.test.service</key><true/></dict>"
            "</dict></plist>\n");
    }
    BundleInfo info() const {
        return BundleInfo{path, "me.ombrel.test.helper", path + "/Contents/MacOS/Test Helper", "Test Helper"};
    }
    std::string path;
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

    TemporaryFolder folder;
    AgentBundle bundle{folder.path()};
    GDBusConnection* bus = nullptr;
    SerialQueue system{"test.system"};
};

TEST_F(LoginItemsTest, RegisteringWritesTheBusActivationAndTheAutostartEntry) {
    LinuxServiceManagement loginItems(bus, system, bundle.info());
    auto agent = loginItems.agent(plistName);
    EXPECT_EQ(agent->status(), appServiceNotRegistered);
    Error error;
    ASSERT_TRUE(agent->registerService(&error)) << error.localizedDescription;
    EXPECT_EQ(agent->status(), appServiceEnabled);

    // The program's path has a space; both files quote it, and both start it
    // with the property list's environment and as a new instance.
    const std::string program = bundle.path + "/Contents/MacOS/Test Helper";
    const std::string expected =
        "/usr/bin/env \"KVX_AUTOPASTE_AGENT=1\" \"QUILLORY_NEW_INSTANCE=1\" \"" + program + "\"";
    EXPECT_EQ(readText(activationPath()),
              "[D-BUS Service]\nName=_1TESTTEAM1.me.ombrel.test.service\nExec=" + expected + "\n");
    GKeyFilePtr entry(g_key_file_new());
    ASSERT_TRUE(g_key_file_load_from_file(entry.get(), autostartPath().c_str(), G_KEY_FILE_NONE, nullptr));
    GCharPtr exec(g_key_file_get_string(entry.get(), "Desktop Entry", "Exec", nullptr));
    EXPECT_EQ(std::string(exec.get()), expected);
    gchar** argv = nullptr;
    ASSERT_TRUE(g_shell_parse_argv(exec.get(), nullptr, &argv, nullptr));
    EXPECT_EQ(std::string(argv[3]), program);
    g_strfreev(argv);
    GCharPtr type(g_key_file_get_string(entry.get(), "Desktop Entry", "Type", nullptr));
    EXPECT_STREQ(type.get(), "Application");

    ASSERT_TRUE(agent->unregister(&error)) << error.localizedDescription;
    EXPECT_EQ(agent->status(), appServiceNotRegistered);
    EXPECT_FALSE(fs::exists(activationPath()));
    EXPECT_FALSE(fs::exists(autostartPath()));
    EXPECT_FALSE(agent->unregister(&error));
    EXPECT_NE(error.localizedDescription.find("not registered"), std::string::npos)
        << error.localizedDescription;
}

TEST_F(LoginItemsTest, TheUserTurningItOffInStartupApplicationsNeedsApproval) {
    LinuxServiceManagement loginItems(bus, system, bundle.info());
    Error error;
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error));
    setAutostartKey("X-GNOME-Autostart-enabled", "false");
    EXPECT_EQ(loginItems.agent(plistName)->status(), appServiceRequiresApproval);
    // The user's choice stands.
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
}

TEST_F(LoginItemsTest, ADeletedBundlesAgentCanStillBeUnregisteredAndTheReplyComesOffTheMainThread) {
    LinuxServiceManagement loginItems(bus, system, bundle.info());
    Error error;
    ASSERT_TRUE(loginItems.agent(plistName)->registerService(&error));
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
    ASSERT_TRUE(waitUntil([&] { return replied.load(); }));
    EXPECT_FALSE(failure);
    EXPECT_NE(repliedOn, g_thread_self());
    EXPECT_FALSE(fs::exists(activationPath()));
    EXPECT_FALSE(fs::exists(autostartPath()));
}

TEST_F(LoginItemsTest, TheAppsOwnLoginItemIsItsAutostartEntryAndUnknownItemsAreNotFound) {
    LinuxServiceManagement loginItems(bus, system, bundle.info());
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

    LinuxServiceManagement loose(bus, system,
                                 BundleInfo{folder.path(), std::nullopt, folder.path() + "/tool", "tool"});
    EXPECT_EQ(loose.mainApp()->status(), appServiceNotFound);
    auto missing = loginItems.agent("me.ombrel.test.other.plist");
    EXPECT_EQ(missing->status(), appServiceNotFound);
    EXPECT_FALSE(missing->registerService(&error));
    EXPECT_NE(error.localizedDescription.find("me.ombrel.test.other.plist"), std::string::npos);
}

TEST(CommandLines, QuoteWhatTheShellRulesOfDesktopAndServiceFilesWouldSplitOrExpand) {
    const std::string line = commandLine({{"A", "x y"}}, {"/opt/My App/run", "$HOME", "say \"hi\"", "a\\b"});
    EXPECT_EQ(line, R"(/usr/bin/env "A=x y" "/opt/My App/run" "\$HOME" "say \"hi\"" "a\\b")");
    gchar** argv = nullptr;
    ASSERT_TRUE(g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr));
    ASSERT_EQ(g_strv_length(argv), 6u);
    EXPECT_STREQ(argv[1], "A=x y");
    EXPECT_STREQ(argv[2], "/opt/My App/run");
    EXPECT_STREQ(argv[3], "$HOME");
    EXPECT_STREQ(argv[4], "say \"hi\"");
    EXPECT_STREQ(argv[5], "a\\b");
    g_strfreev(argv);
    EXPECT_EQ(commandLine({}, {"/bin/tool"}), "\"/bin/tool\"");
}

}  // namespace
}  // namespace platform::linux_platform
