#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ProcessUsage.h"

namespace quillory_bench {
namespace {

TEST(ProcessUsage, ReadsStatAfterACommandNameWithSpacesAndStatusFieldsByTheirWholeName) {
    // Fields 14 and 15 (utime 7, stime 5) of a real line's layout.
    const std::string stat =
        "4242 (Quillory (Helper) x) S 1 4242 4242 0 -1 4194560 900 0 0 0 7 5 0 0 20 0 4 0 123 0 0";
    EXPECT_EQ(cpuTicksOfStat(stat), 12);
    EXPECT_EQ(cpuTicksOfStat("4242 (cut short) S 1 2"), std::nullopt);
    EXPECT_EQ(cpuTicksOfStat("no command at all"), std::nullopt);

    const std::string status =
        "Name:\tQuillory Helper\nVmRSSX:\t1 kB\nVmRSS:\t    5120 kB\n"
        "voluntary_ctxt_switches:\t31\nnonvoluntary_ctxt_switches:\t4\n";
    EXPECT_EQ(statusField(status, "VmRSS"), 5120);
    EXPECT_EQ(statusField(status, "nonvoluntary_ctxt_switches"), 4);
    EXPECT_EQ(statusField(status, "Name"), std::nullopt);
    EXPECT_EQ(statusField(status, "VmSwap"), std::nullopt);
}

TEST(ProcessUsage, WakeupsCountThreadsThatStartedOrEndedInBetween) {
    ProcessUsage before;
    before.switchesByThread = {{100, 40}, {101, 7}, {102, 3}};
    ProcessUsage after;
    after.switchesByThread = {{100, 40}, {101, 9}, {103, 5}};
    // 101 ran twice, 102 ended, 103 started and ran five times.
    EXPECT_EQ(wakeupsBetween(before, after), 2 + 1 + 5);
    EXPECT_EQ(wakeupsBetween(after, after), 0);
}

TEST(ProcessUsage, OfThisProcessListsItsThreadsAndIsGoneForAnEndedOne) {
    const auto usage = usageOf(::getpid());
    ASSERT_TRUE(usage.has_value());
    ASSERT_TRUE(usage->switchesByThread.contains(::getpid()));
    EXPECT_GT(usage->rssKb, 0);

    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(usageOf(child), std::nullopt);
}

}  // namespace
}  // namespace quillory_bench
