// Many clients at once, and many that come and go: every request answered
// once and in order, and the agent as lean afterwards as before.

#include <gtest/gtest.h>

#include "AgentHarness.h"

namespace agent_harness {
namespace {

// What the agent may grow by for good under load: allocator slack, not a
// leak (a leak of a few hundred bytes per request would show).
constexpr long residentGrowthLimitKiB = 2 * 1024;

class Load : public ServingAgentTest {
protected:
    // Requests from `count` clients, each answered as it must be: pings
    // true, pastes false (there is no display to post keystrokes on).
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
        connections += count;
    }

    // Once every client has left, the agent has ended their connections,
    // and holds no more threads and descriptors than it did at rest.
    Usage settled(const std::optional<Usage>& rest = std::nullopt) {
        if (logsToStandardError()) {
            EXPECT_TRUE(waitUntil([&] { return agent->count(" ended\n") == connections; }, 10))
                << agent->count(" ended\n") << " of " << connections << " connections ended";
        }
        Usage now = agent->usage();
        if (!rest) return now;
        EXPECT_TRUE(waitUntil(
            [&] {
                now = agent->usage();
                return now.threads <= rest->threads && now.descriptors <= rest->descriptors;
            },
            20))
            << "threads " << now.threads << " (at rest " << rest->threads << "), descriptors "
            << now.descriptors << " (at rest " << rest->descriptors << ")";
        if (residentMemoryTellsLeaks) {
            EXPECT_LE(now.residentKiB - rest->residentKiB, residentGrowthLimitKiB)
                << "resident memory grew from " << rest->residentKiB << " KiB to " << now.residentKiB
                << " KiB";
        }
        return now;
    }

    int connections = 0;
};

TEST_F(Load, ManyClientsAreAnsweredOnceAndInOrderAndLeaveNothingBehind) {
    // What the first requests make, the agent keeps for good (GLib's caches,
    // the permission prompt's state): measured after them.
    serve(20, 20, 4, 10);
    const Usage rest = settled();
    // Connections that come and go.
    for (int batch = 0; batch < 15; ++batch) serve(20, 5, 5, 5);
    settled(rest);
    // Twenty clients of five hundred requests each.
    serve(20, 500, 8, 10);
    settled(rest);
    EXPECT_EQ(notifications->count("willStop"), 0);
}

}  // namespace
}  // namespace agent_harness
