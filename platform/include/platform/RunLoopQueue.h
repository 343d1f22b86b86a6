#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/Dispatch.h"

namespace platform {

// A serial queue that a run loop drives through a source and a timer, so
// that its work also runs inside nested loops (modal alerts) of that run
// loop. The source runs one item per call and asks to be called again before
// running it whenever more is due: an item that opens a nested loop leaves
// the items behind it runnable there. The timer only moves work that has
// come due: a timer does not fire while its own callout runs, so an item run
// from there would hold back every later deadline.
class RunLoopQueue : public DispatchQueue {
public:
    using Time = std::chrono::nanoseconds;

    struct RunLoop {
        // Any thread: have perform() called soon on the loop's thread.
        std::function<void()> signal;
        // The loop's thread: have timerFired() called at this monotonic time
        // (none: no deadline waits).
        std::function<void(std::optional<Time>)> setTimer;
        // The monotonic clock.
        std::function<Time()> now;
    };

    explicit RunLoopQueue(RunLoop loop) : loop_(std::move(loop)) {}

    void async(WorkItem item) override;
    void asyncAfter(double seconds, WorkItem item) override;

    // The source's callout: runs the first due item.
    void perform();
    // The timer's callout.
    void timerFired();

private:
    // Moves the items whose deadline has come behind the due ones and sets
    // the timer for the next deadline.
    void moveDueWork();

    RunLoop loop_;
    std::mutex mutex_;
    std::deque<WorkItem> due_;
    // Keyed by deadline, then by the order of adding, so that equal
    // deadlines keep that order.
    std::map<std::pair<Time, std::uint64_t>, WorkItem> waiting_;
    std::uint64_t added_ = 0;
    // The loop's thread only: the time the timer is set for.
    std::optional<Time> timerSetFor_;
};

}  // namespace platform
