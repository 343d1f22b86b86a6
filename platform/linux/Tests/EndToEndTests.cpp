// The helper at work: the bundle of the build, installed into the session's
// $HOME/Applications, registered, started by the bus, set up again and
// replaced, as a user and the main app would do it.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "AgentHarness.h"
#include "Processes.h"

namespace agent_harness {
namespace {

class HelperEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus, nullptr);
        notifications = std::make_unique<Notifications>(bus);
    }

    void TearDown() override {
        notifications.reset();
        g_object_unref(bus);
    }

    // Opens the helper the ordinary way and waits for that process to end.
    std::unique_ptr<Child> openToEnd(const Environment& environment = {}) {
        auto opened = helper.open(environment);
        EXPECT_TRUE(opened->waitForEnd(20));
        EXPECT_TRUE(opened->exitedWith(0)) << opened->describeEnd();
        return opened;
    }

    // Waits until `count` starts were announced and an agent serves.
    pid_t agentAfterStart(int count) {
        EXPECT_TRUE(waitUntil([&] { return notifications->count("didStart") >= count && ownerOf(bus); }))
            << "no agent started";
        return ownerOf(bus).value_or(0);
    }

    InstalledHelper helper;
    GDBusConnection* bus = nullptr;
    std::unique_ptr<Notifications> notifications;
};

TEST_F(HelperEndToEnd, SetUpRegistersTheAgentWhichTheBusStartsOnDemandAndASecondSetUpReloads) {
    const auto setUp = openToEnd();
    EXPECT_EQ(setUp->count(":alert "), 0);
    if (logsToStandardError()) {
        EXPECT_EQ(setUp->count("Registered the agent."), 1);
    }
    EXPECT_TRUE(helper.isRegistered());

    // Registering started the agent at once.
    const pid_t first = agentAfterStart(1);
    linux_test::Watched firstAgent(first);
    EXPECT_EQ(platform::linux_platform::executableOfProcess(first), helper.executable());
    ::kill(first, SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return firstAgent.hasEnded(); }));

    // The next request starts it again, through the activation file.
    EXPECT_EQ(callOnce("Ping").value, true);
    const pid_t second = agentAfterStart(2);
    linux_test::Watched secondAgent(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(notifications->count("willStop"), 0);

    // What `open -n` does on macOS: a new instance, even though one runs.
    const auto again = openToEnd({{"QUILLORY_NEW_INSTANCE", "1"}});
    if (logsToStandardError()) {
        EXPECT_EQ(again->count("Stopping the running agent, pid " + std::to_string(second)), 1);
        EXPECT_EQ(again->count("Reloaded the agent."), 1);
    }
    EXPECT_TRUE(waitUntil([&] { return secondAgent.hasEnded(); }));
    EXPECT_NE(agentAfterStart(3), second);
    EXPECT_EQ(callOnce("Ping").value, true);
}

TEST_F(HelperEndToEnd, OpeningAgainHandsOverToAReplacedCopy) {
    openToEnd();
    const pid_t first = agentAfterStart(1);
    linux_test::Watched firstAgent(first);

    // (Opened again unchanged, it reaches the agent: HelperOnTheDesktop.)
    // A new version installed over the old one, then opened.
    const std::string executable = helper.executable();
    std::filesystem::copy_file(std::string(QUILLORY_BUNDLE_DIR) + "/Contents/MacOS/Quillory Helper",
                               executable + ".new");
    std::filesystem::rename(executable + ".new", executable);
    openToEnd();

    EXPECT_TRUE(waitUntil([&] { return firstAgent.hasEnded(); }));
    // It ended in order: it announced it.
    EXPECT_TRUE(waitUntil([&] { return notifications->count("willStop") == 1; }));
    const pid_t second = agentAfterStart(2);
    EXPECT_NE(second, first);
    struct stat running = {};
    struct stat installed = {};
    ASSERT_EQ(::stat(("/proc/" + std::to_string(second) + "/exe").c_str(), &running), 0);
    ASSERT_EQ(::stat(executable.c_str(), &installed), 0);
    EXPECT_EQ(running.st_ino, installed.st_ino);
    EXPECT_EQ(callOnce("Ping").value, true);
}

}  // namespace
}  // namespace agent_harness
