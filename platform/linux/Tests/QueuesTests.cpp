#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "LinuxTestSupport.h"
#include "Queues.h"

namespace platform::linux_platform {
namespace {

using linux_test::waitUntil;

// The main thread is busy (as in a long work item), without sleeping.
void busyFor(gint64 microseconds) {
    const gint64 until = g_get_monotonic_time() + microseconds;
    while (g_get_monotonic_time() < until) {
    }
}

TEST(MainQueue, RunsWorkInTheOrderItBecameDueAndNeverEarly) {
    ContextQueue main(g_main_context_default());
    std::vector<std::string> ran;
    const gint64 start = g_get_monotonic_time();
    auto record = [&](std::string name, double seconds) {
        const gint64 deadline = start + static_cast<gint64>(seconds * 1e6);
        return [&ran, name, deadline] {
            EXPECT_GE(g_get_monotonic_time(), deadline) << name << " ran early";
            ran.push_back(name);
        };
    };
    main.async(record("now", 0));
    main.asyncAfter(0.030, record("30 ms", 0.030));
    main.asyncAfter(0.0004, record("0.4 ms", 0.0004));
    main.asyncAfter(0.010, record("10 ms", 0.010));
    main.asyncAfter(0.040, [&] {
        // Scheduled later for an earlier deadline; both are overdue when
        // this item ends, and the async item is submitted after that.
        main.asyncAfter(0.020, record("60 ms", 0.060));
        main.asyncAfter(0.010, record("50 ms", 0.050));
        busyFor(30000);
        main.async([&] { ran.push_back("async"); });
    });
    ASSERT_TRUE(waitUntil([&] { return ran.size() == 7; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "0.4 ms", "10 ms", "30 ms", "50 ms", "60 ms", "async"}));
}

TEST(MainQueue, DelayedWorkRunsWithinAFractionOfAMillisecondAlsoInANestedLoop) {
    // GLib's own timeouts wait whole milliseconds: 2.3 ms would be 3 ms,
    // 0.7 ms late every time. The median of several runs allows for a busy
    // machine.
    ContextQueue main(g_main_context_default());
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    std::vector<gint64> late;
    std::function<void()> next = [&] {
        if (late.size() == 15) {
            g_main_loop_quit(loop);
            return;
        }
        const gint64 deadline = g_get_monotonic_time() + 2300;
        main.asyncAfter(0.0023, [&, deadline] {
            late.push_back(g_get_monotonic_time() - deadline);
            next();
        });
    };
    // Inside a work item, as during a modal alert: the later work runs in
    // the nested loop, which nothing else wakes.
    main.async([&] {
        next();
        g_main_loop_run(loop);
    });
    while (late.size() < 15) g_main_context_iteration(nullptr, TRUE);
    g_main_loop_unref(loop);
    std::sort(late.begin(), late.end());
    EXPECT_GE(late.front(), 0);
    EXPECT_LT(late[late.size() / 2], 500) << "median lateness in microseconds";
}

TEST(MainQueue, KeepsEachThreadsOrderAndRunsEverythingOnTheMainThread) {
    ContextQueue main(g_main_context_default());
    constexpr int threads = 4;
    constexpr int items = 200;
    std::vector<std::vector<int>> seen(threads);
    std::atomic<int> ran{0};
    GThread* mainThread = g_thread_self();
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < items; ++i) {
                main.async([&, t, i] {
                    EXPECT_EQ(g_thread_self(), mainThread);
                    seen[t].push_back(i);
                    ++ran;
                });
            }
        });
    }
    for (auto& sender : senders) sender.join();
    ASSERT_TRUE(waitUntil([&] { return ran == threads * items; }));
    for (const auto& list : seen) EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
}

TEST(SerialQueue, RunsItsWorkInOrderOnItsOwnThreadAndFinishesItWhenClosed) {
    std::vector<int> ran;
    std::vector<GThread*> threads;
    std::atomic<bool> done{false};
    SerialQueue queue("test.serial");
    queue.asyncAfter(0.020, [&] { ran.push_back(4); });
    for (int i = 0; i < 3; ++i) {
        queue.async([&, i] {
            threads.push_back(g_thread_self());
            ran.push_back(i);
            // Both delays end meanwhile; the queued items were due first.
            if (i == 0) busyFor(30000);
        });
    }
    queue.asyncAfter(0.010, [&] { ran.push_back(3); });
    queue.asyncAfter(0.040, [&] { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    queue.async([&] { ran.push_back(5); });
    queue.closeAndWait();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(threads.size(), 3u);
    EXPECT_EQ(threads[0], threads[2]);
    EXPECT_NE(threads[0], g_thread_self());
}

}  // namespace
}  // namespace platform::linux_platform
