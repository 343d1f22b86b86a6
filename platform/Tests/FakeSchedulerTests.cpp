#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/FakePlatform.h"
#include "platform/Platform.h"

namespace {

using fake::FakePlatform;

// The helper's own tests lean on the fake's virtual time; this pins what
// they assume of it: deadline order across queues, work scheduled from work
// running after it, equal deadlines in scheduling order, and a sleeping
// thread letting time pass while nothing else runs.
TEST(FakeScheduler, RunsWorkByDeadlineAcrossQueuesAndLetsABlockedThreadHoldItsWork) {
    FakePlatform desktop;
    auto& main = desktop.scheduler.mainQueue();
    auto& connection = desktop.scheduler.makeQueue("xpc.connection.1");
    std::vector<std::string> ran;
    const auto record = [&](std::string name) {
        return [&ran, &desktop, name] {
            ran.push_back(name + "@" + std::to_string(desktop.now()) + " " +
                          desktop.scheduler.currentQueueLabel());
        };
    };
    connection.asyncAfter(0.03, record("a1"));
    main.asyncAfter(0.03, record("a2"));
    main.async([&] {
        desktop.scheduler.systemQueue().async(record("system"));
        ran.push_back("now");
    });
    main.asyncAfter(0.005, [&] {
        desktop.posix.usleep(30000);  // blocks main until 0.035
        ran.push_back("slept");
    });

    // The sleep outlasts the advance: the clock stands where the thread woke.
    desktop.advance(0.029);
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "system@0.000000 system", "slept"}));
    EXPECT_DOUBLE_EQ(desktop.now(), 0.035);
    EXPECT_EQ(desktop.scheduler.currentQueue(), nullptr);
    desktop.advance(1);
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "system@0.000000 system", "slept",
                                             "a1@0.035000 xpc.connection.1", "a2@0.035000 main"}));
    EXPECT_DOUBLE_EQ(desktop.now(), 1.035);
}

}  // namespace
