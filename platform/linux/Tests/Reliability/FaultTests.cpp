// Faults around the agent: clients that leave early, the bundle removed
// under load, the session bus gone, a termination signal mid-paste, two
// set-ups at once.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "AgentHarness.h"

namespace agent_harness {
namespace {

namespace fs = std::filesystem;

class Faults : public ServingAgentTest {};

TEST_F(Faults, ClientsThatLeaveBeforeTheirPastesAreAnsweredCostNothing) {
    // The first connection makes what the agent keeps for good.
    EXPECT_EQ(callOnce("Paste").value, false);
    const Usage rest = agent->usage();

    // This program, as clients that send three pastes each and leave.
    std::vector<std::unique_ptr<Child>> leavers;
    for (int i = 0; i < 10; ++i)
        leavers.push_back(
            std::make_unique<Child>(std::vector<std::string>{"/proc/self/exe", "--exiting-client", "3"}));
    for (auto& leaver : leavers) EXPECT_EQ(leaver->waitForEnd(20), "exited 0");
    if (logsToStandardError()) {
        // Each paste ran, to an answer nobody took; each connection ended.
        const std::string pasted = "Could not create the ⌘V keyboard events.";
        EXPECT_TRUE(waitUntil([&] { return agent->count(pasted) == 1 + 30; })) << agent->log();
        for (auto& leaver : leavers) {
            const std::string ended = "Connection from pid " + std::to_string(leaver->pid()) + " ended";
            EXPECT_TRUE(waitUntil([&] { return agent->count(ended) == 1; })) << ended;
        }
    }
    expectAsLeanAs(rest);
    EXPECT_EQ(callOnce("Ping").value, true);
}

TEST_F(Faults, RemovingTheBundleUnderLoadUninstallsOnceAndEnds) {
    // Registered, as a set-up leaves it; this agent already runs.
    ASSERT_EQ(helper->open({{"QUILLORY_NEW_INSTANCE", "1"}})->waitForEnd(30), "exited 0");
    ASSERT_TRUE(helper->isRegistered());
    EXPECT_EQ(ownerOf(bus), agent->pid());

    // Twenty clients ping, four requests in flight each, until one answer
    // says false or fails.
    auto clients = makeClients(20);
    ASSERT_TRUE(drive(clients, 20, 4, 0, 30));
    const auto pump = [&] {
        for (auto& client : clients) {
            const auto arrivals = client->arrivals();
            const bool stopped = std::any_of(arrivals.begin(), arrivals.end(),
                                             [](const Answer& answer) { return answer.value != true; });
            while (!stopped && client->sent() - client->answered() < 4) client->send(Request::ping);
        }
    };
    pump();
    fs::remove_all(helper->bundle());
    const auto removed = std::chrono::steady_clock::now();

    EXPECT_TRUE(waitUntil(
        [&] {
            pump();
            return !agent->isRunning();
        },
        15));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - removed).count();
    EXPECT_LT(seconds, 10.0) << "the agent ended " << seconds << " s after the bundle went";
    EXPECT_EQ(agent->waitForEnd(), "exited 0");
    // Everything sent got its one answer: true, then false, then errors
    // once the agent has gone.
    EXPECT_TRUE(waitUntil([&] { return allAnswered(clients); }));
    int falses = 0;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const std::string name = "client " + std::to_string(i);
        int stage = 0;  // 0 true, 1 false, 2 errors
        for (const auto& answer : clients[i]->answers(name)) {
            const int now = answer.value == true ? 0 : answer.value == false ? 1 : 2;
            EXPECT_GE(now, stage) << name << " got " << (answer.value ? "an answer" : answer.error)
                                  << " after a later kind";
            stage = std::max(stage, now);
            if (now == 1) ++falses;
        }
    }
    EXPECT_GE(falses, 1);

    // willStop once at the uninstall and once at the termination; every
    // signal of the agent has arrived once the bus answers after its end.
    EXPECT_EQ(ownerOf(bus), std::nullopt);
    EXPECT_EQ(notifications->countAfterRoundTrip("willStop"), 2);
    if (logsToStandardError()) {
        EXPECT_EQ(agent->count("This copy is no longer installed; unregistering the agent."), 1)
            << agent->log();
    }
    EXPECT_FALSE(fs::exists(helper->bundle()));
    EXPECT_FALSE(helper->isRegistered());
}

TEST_F(Faults, WhenTheSessionBusDiesTheAgentEndsWithoutSpinning) {
    // An agent of a bus of its own, with clients at work on it.
    PrivateServer privateBus(PrivateServer::Kind::bus);
    g_autoptr(GDBusConnection) watcher = linux_test::newBusPeer(privateBus.address());
    ASSERT_NE(watcher, nullptr);
    Notifications watched(watcher);
    const auto busAgent = helper->startAgent({{"DBUS_SESSION_BUS_ADDRESS", privateBus.address()}});
    ASSERT_EQ(waitForAgent(watcher, watched), busAgent->pid());
    auto clients = makeClients(5, privateBus.address());
    ASSERT_TRUE(drive(clients, 50, 4, 5, 30));
    for (auto& client : clients)
        for (int i = 0; i < 4; ++i) client->send(Request::ping);

    const double cpuBefore = busAgent->usage().cpuSeconds;
    ::kill(privateBus.process().pid(), SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_EQ(busAgent->waitForEnd(10), "exited 0");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    EXPECT_LT(seconds, 5.0);
    EXPECT_LT(busAgent->cpuSeconds() - cpuBefore, 1.0);
    if (logsToStandardError()) {
        EXPECT_EQ(busAgent->count("session bus"), 1) << busAgent->log();
    }
}

TEST_F(Faults, ATerminationSignalDuringPastesEndsTheAgent) {
    auto clients = makeClients(5);
    // Pastes only: one is under way at every moment.
    ASSERT_TRUE(drive(clients, 10, 2, 1, 30));
    for (auto& client : clients)
        for (int i = 0; i < 2; ++i) client->send(Request::paste);
    ::kill(agent->pid(), SIGTERM);
    const std::string end = agent->waitForEnd(5);
    EXPECT_TRUE(end == "killed by TERM" || end == "exited 0") << end;
    // The pastes under way got errors from the bus, each once.
    EXPECT_TRUE(waitUntil([&] { return allAnswered(clients); }));
    for (std::size_t i = 0; i < clients.size(); ++i) clients[i]->answers("client " + std::to_string(i));
    EXPECT_TRUE(helper->processes().empty());
}

// Both end (one may end the other: a set-up stops every other process of
// its bundle), and one agent is registered and answers.
void expectOneAgentAfter(const InstalledHelper& helper, GDBusConnection* bus,
                         const Environment& environment) {
    const auto first = helper.open(environment);
    const auto second = helper.open(environment);
    // Reaped together: a set-up waits for the other to end, and an unreaped
    // process has not ended for it.
    EXPECT_TRUE(waitUntil(
        [&] {
            const bool firstRuns = first->isRunning();
            return !second->isRunning() && !firstRuns;
        },
        30))
        << "a set-up did not end";
    for (auto* setUp : {first.get(), second.get()}) {
        const std::string end = setUp->waitForEnd();
        EXPECT_TRUE(end == "exited 0" || end == "killed by TERM") << end;
    }
    EXPECT_TRUE(helper.isRegistered());
    // The bus starts the agent if neither set-up's start survived.
    EXPECT_EQ(callOnce("Ping").value, true);
    std::vector<pid_t> running;
    EXPECT_TRUE(waitUntil([&] {
        running = helper.processes();
        return running.size() == 1 && ownerOf(bus) == running.front();
    })) << running.size()
        << " processes of the helper run";
}

TEST_F(Faults, TwoSetUpsAtOnceBothEndAndLeaveOneAgent) {
    // The agent of this fixture is not registered: stop it for a clean start.
    agent.reset();
    expectOneAgentAfter(*helper, bus, {});
    // With the agent registered and running, as `open -n` does twice.
    for (int round = 0; round < 3; ++round) {
        const auto before = helper->processes();
        expectOneAgentAfter(*helper, bus, {{"QUILLORY_NEW_INSTANCE", "1"}});
        EXPECT_NE(helper->processes(), before) << "round " << round << ": the agent was not stopped";
    }
}

}  // namespace
}  // namespace agent_harness
