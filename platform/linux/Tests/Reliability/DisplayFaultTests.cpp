// The agent on a display of its own, which goes away while it serves.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>

#include "AgentHarness.h"

namespace agent_harness {
namespace {

class DisplayFaults : public ServingAgentTest {
protected:
    DisplayFaults() { agentEnvironment = {{"DISPLAY", display.address()}}; }

    PrivateServer display{PrivateServer::Kind::display};
};

TEST_F(DisplayFaults, KillingTheDisplayWhileServingLeavesPingsTrueAndPastesFalse) {
    // With the display, a paste posts its keystroke: true.
    EXPECT_EQ(callOnce("Paste").value, true);

    // Ten clients, every other request a paste; the display goes meanwhile.
    auto clients = makeClients(10);
    ASSERT_TRUE(drive(clients, 6, 2, 2, 60));
    ::kill(display.process().pid(), SIGKILL);
    ASSERT_NE(display.process().waitForEnd(10), "running");
    ASSERT_TRUE(drive(clients, 40, 2, 2, 60)) << "not every request was answered";

    for (std::size_t i = 0; i < clients.size(); ++i) {
        const std::string name = "client " + std::to_string(i);
        bool pastesFailed = false;
        for (const auto& answer : clients[i]->answers(name)) {
            if (answer.request == Request::ping) {
                EXPECT_EQ(answer.value, true) << name << " " << answer.error;
            } else {
                // Once the display is gone, no paste succeeds again.
                EXPECT_TRUE(answer.value.has_value()) << name << " " << answer.error;
                EXPECT_FALSE(pastesFailed && answer.value == true)
                    << name << ": a paste succeeded after one failed";
                pastesFailed = pastesFailed || answer.value == false;
            }
        }
        EXPECT_TRUE(pastesFailed) << name << ": no paste failed after the display went";
    }
    EXPECT_EQ(agent->waitForEnd(), "running");
    if (logsToStandardError()) {
        EXPECT_EQ(agent->count("Lost the connection to the X display"), 1) << agent->log();
    }

    // Still serving, and idle between requests rather than spinning on the
    // dead connection: CPU time well below the time that passed.
    const double cpuBefore = agent->usage().cpuSeconds;
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(callOnce("Ping").value, true);
        EXPECT_EQ(callOnce("Paste").value, false);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    const double cpu = agent->usage().cpuSeconds - cpuBefore;
    EXPECT_LT(cpu, 0.7 * elapsed) << cpu << " s of CPU time in " << elapsed << " s";
    EXPECT_EQ(notifications->count("willStop"), 0);
}

}  // namespace
}  // namespace agent_harness
