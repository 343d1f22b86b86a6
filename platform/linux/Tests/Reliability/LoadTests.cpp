// Many clients at once, and many that come and go: every request answered
// once and in order, and the agent as lean afterwards as before.

#include <gtest/gtest.h>

#include "ReliabilitySupport.h"

namespace reliability {
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
            int pings = 0;
            int pastes = 0;
            for (const auto& answer : checkAnswers(*clients[i], name)) {
                const bool isPing = answer.request == Request::ping;
                (isPing ? pings : pastes)++;
                EXPECT_EQ(answer.value, std::optional<bool>(isPing)) << name << " " << answer.error;
            }
            EXPECT_EQ(pings + pastes, requests) << name;
        }
        connections += count;
    }

    // Once every client has left, the agent has ended their connections.
    Usage settled() {
        expectEveryConnectionEnded();
        return agent->usage();
    }

    // Then it holds no more threads and descriptors than it did at rest.
    Usage atRest(const Usage& rest) {
        expectEveryConnectionEnded();
        Usage now;
        const bool settled = waitUntil(
            [&] {
                now = agent->usage();
                return now.threads <= rest.threads && now.descriptors <= rest.descriptors;
            },
            20);
        EXPECT_TRUE(settled) << "threads " << now.threads << " (at rest " << rest.threads << "), descriptors "
                             << now.descriptors << " (at rest " << rest.descriptors << ")";
        return now;
    }

    void expectEveryConnectionEnded() {
        if (!logsToStandardError()) return;
        EXPECT_TRUE(waitUntil([&] { return agent->count(" ended\n") == connections; }, 10))
            << agent->count(" ended\n") << " of " << connections << " connections ended";
    }

    int connections = 0;
};

TEST_F(Load, TwentyClientsOfFiveHundredRequestsEachAreAnsweredOnceAndInOrder) {
    // What the first requests make, the agent keeps for good (GLib's caches,
    // the permission prompt's state): measured after them.
    serve(20, 20, 4, 10);
    const Usage rest = settled();

    serve(20, 500, 8, 10);
    const Usage after = atRest(rest);
    if (residentMemoryTellsLeaks) {
        EXPECT_LE(after.residentKiB - rest.residentKiB, residentGrowthLimitKiB)
            << "resident memory grew from " << rest.residentKiB << " KiB to " << after.residentKiB << " KiB";
    }
    EXPECT_EQ(notifications->count("willStop"), 0);
}

TEST_F(Load, ConnectionsThatComeAndGoLeaveNothingBehind) {
    serve(20, 5, 5, 5);
    const Usage rest = settled();

    for (int batch = 0; batch < 15; ++batch) serve(20, 5, 5, 5);
    const Usage after = atRest(rest);
    if (residentMemoryTellsLeaks) {
        EXPECT_LE(after.residentKiB - rest.residentKiB, residentGrowthLimitKiB)
            << "resident memory grew from " << rest.residentKiB << " KiB to " << after.residentKiB << " KiB";
    }
}

}  // namespace
}  // namespace reliability
