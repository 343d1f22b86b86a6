#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/RunLoopQueue.h"

namespace {

using namespace std::chrono_literals;
using platform::RunLoopQueue;

// A run loop as Core Foundation runs one: a signalled source is unsignalled
// before its callout, and a timer does not fire while its own callout runs.
class Loop {
public:
    RunLoopQueue queue{{[this] { signalled_ = true; },
                        [this](std::optional<RunLoopQueue::Time> at) { timer_ = at; },
                        [this] { return clock_; }}};

    // Passes of the loop until nothing is signalled; the limit stands for a
    // nested loop's timeout.
    void run(int limit = 100) {
        while (signalled_ && limit-- > 0) {
            signalled_ = false;
            queue.perform();
        }
    }
    void advance(RunLoopQueue::Time by) {
        run();
        clock_ += by;
        if (timer_ && *timer_ <= clock_ && !inTimerCallout_) {
            timer_.reset();
            inTimerCallout_ = true;
            queue.timerFired();
            inTimerCallout_ = false;
        }
        run();
    }

private:
    bool signalled_ = false;
    std::optional<RunLoopQueue::Time> timer_;
    RunLoopQueue::Time clock_{};
    bool inTimerCallout_ = false;
};

TEST(RunLoopQueue, RunsWorkInOrderAndDeadlinesWhenTheyAreDue) {
    Loop loop;
    std::vector<std::string> ran;
    auto record = [&](const char* name) { return [&ran, name] { ran.push_back(name); }; };
    loop.queue.asyncAfter(0.05, record("late"));
    loop.queue.asyncAfter(0.01, record("soon"));
    loop.queue.asyncAfter(0.01, record("soon too"));
    loop.queue.async(record("now"));
    loop.queue.async(record("now too"));
    loop.run();
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "now too"}));

    loop.advance(9ms);
    EXPECT_EQ(ran.size(), 2u);
    loop.queue.async(record("queued meanwhile"));
    loop.advance(1ms);
    loop.advance(40ms);
    EXPECT_EQ(ran,
              (std::vector<std::string>{"now", "now too", "queued meanwhile", "soon", "soon too", "late"}));

    // A deadline alone on an idle queue still sets the timer.
    loop.queue.asyncAfter(0.01, record("alone"));
    loop.advance(10ms);
    EXPECT_EQ(ran.back(), "alone");
}

// The re-check after a paste opens a modal alert from a deadline's work: the
// work queued before it, during it and coming due during it all runs while
// the alert is up.
TEST(RunLoopQueue, WorkRunsInsideANestedLoopThatAnItemOpens) {
    Loop loop;
    std::vector<std::string> ran;
    auto record = [&](const char* name) { return [&ran, name] { ran.push_back(name); }; };
    loop.queue.asyncAfter(0.15, [&] {
        ran.push_back("alert opens");
        loop.run();
        EXPECT_EQ(ran.back(), "due with the alert");
        loop.queue.async(record("queued during the alert"));
        loop.queue.asyncAfter(0.03, record("due during the alert"));
        loop.run();
        loop.advance(30ms);
        ran.push_back("alert closes");
    });
    loop.queue.asyncAfter(0.15, record("due with the alert"));
    loop.queue.async(record("paste"));
    loop.run();
    EXPECT_EQ(ran, std::vector<std::string>{"paste"});
    loop.advance(150ms);
    EXPECT_EQ(ran,
              (std::vector<std::string>{"paste", "alert opens", "due with the alert",
                                        "queued during the alert", "due during the alert", "alert closes"}));
}

}  // namespace
