#include "platform/RunLoopQueue.h"

#include <algorithm>

namespace platform {

void RunLoopQueue::async(WorkItem item) {
    {
        const std::lock_guard lock(mutex_);
        due_.push_back(std::move(item));
    }
    loop_.signal();
}

void RunLoopQueue::asyncAfter(double seconds, WorkItem item) {
    const Time deadline =
        loop_.now() + std::chrono::duration_cast<Time>(std::chrono::duration<double>(std::max(seconds, 0.0)));
    bool earliest = false;
    {
        const std::lock_guard lock(mutex_);
        const auto added = waiting_.emplace(std::pair(deadline, added_++), std::move(item)).first;
        earliest = added == waiting_.begin();
    }
    // The timer belongs to the loop's thread: the source sets it there.
    if (earliest) loop_.signal();
}

void RunLoopQueue::moveDueWork() {
    std::optional<Time> next;
    {
        const std::lock_guard lock(mutex_);
        const Time now = loop_.now();
        auto waiting = waiting_.begin();
        for (; waiting != waiting_.end() && waiting->first.first <= now; ++waiting)
            due_.push_back(std::move(waiting->second));
        waiting_.erase(waiting_.begin(), waiting);
        if (!waiting_.empty()) next = waiting_.begin()->first.first;
    }
    if (next != timerSetFor_) {
        timerSetFor_ = next;
        loop_.setTimer(next);
    }
}

void RunLoopQueue::perform() {
    moveDueWork();
    WorkItem item;
    bool more = false;
    {
        const std::lock_guard lock(mutex_);
        if (due_.empty()) return;
        item = std::move(due_.front());
        due_.pop_front();
        more = !due_.empty();
    }
    if (more) loop_.signal();
    item();
}

void RunLoopQueue::timerFired() {
    timerSetFor_.reset();
    moveDueWork();
    loop_.signal();
}

}  // namespace platform
