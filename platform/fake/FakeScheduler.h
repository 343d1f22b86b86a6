#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dispatch.h"

namespace fake {

using Nanos = std::chrono::nanoseconds;

// Seconds as a virtual-time duration, rounded to the nanosecond.
Nanos seconds(double value);

class FakeScheduler;

// A serial queue whose work runs only when a test lets virtual time pass.
class FakeQueue : public platform::DispatchQueue {
public:
    FakeQueue(FakeScheduler& scheduler, std::string label)
        : scheduler_(scheduler), label_(std::move(label)) {}

    void async(WorkItem item) override;
    void asyncAfter(double seconds, WorkItem item) override;

    const std::string& label() const { return label_; }
    std::size_t pendingCount() const;

private:
    FakeScheduler& scheduler_;
    std::string label_;
};

// Virtual time and every queue of the fake process. Work runs in order of
// deadline, items with equal deadlines in the order they were scheduled.
class FakeScheduler {
public:
    FakeScheduler();

    Nanos now() const { return now_; }
    double nowSeconds() const { return std::chrono::duration<double>(now_).count(); }

    FakeQueue& mainQueue() { return *main_; }
    // The queue on which the system delivers completions of its own choosing.
    FakeQueue& systemQueue() { return *system_; }
    // Owned by the scheduler; lives as long as it.
    FakeQueue& makeQueue(std::string label);

    // The queue whose work item is running, or none.
    const FakeQueue* currentQueue() const { return running_.empty() ? nullptr : running_.back(); }
    std::string currentQueueLabel() const { return currentQueue() ? currentQueue()->label() : "none"; }
    bool isOnMainQueue() const { return currentQueue() == main_; }

    // Runs the earliest item that is due now; false when none is.
    bool runOne();
    // Runs due items until none is left at the current time.
    void runUntilIdle();
    // Lets `seconds` of virtual time pass, running each item at its deadline.
    void advance(double seconds);
    // Moves the clock without running anything, as a blocked thread does.
    void sleep(Nanos duration) { now_ += duration; }

    // The process ended: nothing runs any more.
    void stop() { stopped_ = true; }
    bool isStopped() const { return stopped_; }

    std::size_t pendingCount() const;
    std::size_t pendingCount(const FakeQueue& queue) const;

    // Drops every pending item unrun, and whatever the dropped items schedule
    // as they are destroyed.
    void discardPending();

private:
    friend class FakeQueue;
    struct Item {
        Nanos deadline;
        std::uint64_t sequence;
        FakeQueue* queue;
        platform::DispatchQueue::WorkItem work;
    };

    void schedule(FakeQueue& queue, Nanos delay, platform::DispatchQueue::WorkItem work);
    bool runNextDueBy(Nanos limit);

    Nanos now_{0};
    std::uint64_t nextSequence_ = 0;
    std::vector<Item> items_;
    std::deque<std::unique_ptr<FakeQueue>> queues_;
    FakeQueue* main_;
    FakeQueue* system_;
    std::vector<const FakeQueue*> running_;
    bool stopped_ = false;
};

}  // namespace fake
