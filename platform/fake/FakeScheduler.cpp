#include "fake/FakeScheduler.h"

#include <algorithm>
#include <cmath>

namespace fake {

Nanos seconds(double value) { return Nanos(std::llround(value * 1e9)); }

void FakeQueue::async(WorkItem item) { scheduler_.schedule(*this, Nanos(0), std::move(item)); }

void FakeQueue::asyncAfter(double delay, WorkItem item) {
    scheduler_.schedule(*this, seconds(delay), std::move(item));
}

std::size_t FakeQueue::pendingCount() const { return scheduler_.pendingCount(*this); }

FakeScheduler::FakeScheduler() {
    main_ = &makeQueue("main");
    system_ = &makeQueue("system");
}

FakeQueue& FakeScheduler::makeQueue(std::string label) {
    queues_.push_back(std::make_unique<FakeQueue>(*this, std::move(label)));
    return *queues_.back();
}

void FakeScheduler::schedule(FakeQueue& queue, Nanos delay, platform::DispatchQueue::WorkItem work) {
    items_.push_back(Item{now_ + std::max(delay, Nanos(0)), nextSequence_++, &queue, std::move(work)});
}

bool FakeScheduler::runNextDueBy(Nanos limit) {
    if (stopped_) return false;
    auto earliest = items_.end();
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        if (it->deadline > limit) continue;
        // A serial queue runs one item at a time: a queue already running
        // (further up this stack) waits, except the main queue, whose work
        // also runs inside a modal alert.
        const bool busy =
            it->queue != main_ && std::find(running_.begin(), running_.end(), it->queue) != running_.end();
        if (busy) continue;
        if (earliest == items_.end() ||
            std::tie(it->deadline, it->sequence) < std::tie(earliest->deadline, earliest->sequence)) {
            earliest = it;
        }
    }
    if (earliest == items_.end()) return false;
    Item item = std::move(*earliest);
    items_.erase(earliest);
    now_ = std::max(now_, item.deadline);
    running_.push_back(item.queue);
    item.work();
    running_.pop_back();
    return true;
}

bool FakeScheduler::runOne() { return runNextDueBy(now_); }

void FakeScheduler::runUntilIdle() {
    while (runNextDueBy(now_)) {
    }
}

void FakeScheduler::advance(double delay) {
    const Nanos target = now_ + seconds(delay);
    while (runNextDueBy(target)) {
    }
    if (!stopped_) now_ = std::max(now_, target);
}

std::size_t FakeScheduler::pendingCount() const { return items_.size(); }

void FakeScheduler::discardPending() {
    while (!items_.empty()) {
        const auto dropped = std::move(items_);
        items_.clear();
    }
}

std::size_t FakeScheduler::pendingCount(const FakeQueue& queue) const {
    return static_cast<std::size_t>(
        std::count_if(items_.begin(), items_.end(), [&](const Item& item) { return item.queue == &queue; }));
}

}  // namespace fake
