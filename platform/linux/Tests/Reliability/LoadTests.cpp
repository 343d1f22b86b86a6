// Many clients at once, and many that come and go: every request answered
// once and in order, and the agent as lean afterwards as before.

#include <gtest/gtest.h>

#include "AgentHarness.h"

namespace agent_harness {
namespace {

class Load : public ServingAgentTest {
protected:
    // Requests from `count` clients, each answered as it must be: pings
    // true, pastes false (there is no display to post keystrokes on). Once
    // the clients have left, the agent has ended their connections.
    void serve(int count, int requests, int window, int pasteEvery) {
        auto clients = makeClients(count);
        ASSERT_TRUE(drive(clients, requests, window, pasteEvery, 120)) << "not every request was answered";
        for (std::size_t i = 0; i < clients.size(); ++i) {
            const std::string name = "client " + std::to_string(i);
            const auto answers = clients[i]->answers(name);
            for (const auto& answer : answers)
                EXPECT_EQ(answer.value, std::optional<bool>(answer.request == Request::ping))
                    << name << " " << answer.error;
            EXPECT_EQ(answers.size(), static_cast<std::size_t>(requests)) << name;
        }
        clients.clear();
        connections += count;
        if (logsToStandardError()) {
            EXPECT_TRUE(waitUntil([&] { return agent->count(" ended\n") == connections; }, 10))
                << agent->count(" ended\n") << " of " << connections << " connections ended";
        }
    }

    int connections = 0;
};

TEST_F(Load, ManyClientsAreAnsweredOnceAndInOrderAndLeaveNothingBehind) {
    // What the first requests make, the agent keeps for good (GLib's caches,
    // the permission prompt's state): measured after them.
    serve(20, 20, 4, 10);
    const Usage rest = agent->usage();
    // Connections that come and go.
    for (int batch = 0; batch < 15; ++batch) serve(20, 5, 5, 5);
    expectAsLeanAs(rest);
    // Twenty clients of five hundred requests each.
    serve(20, 500, 8, 10);
    expectAsLeanAs(rest);
    EXPECT_EQ(notifications->count("willStop"), 0);
}

}  // namespace
}  // namespace agent_harness
