#include "MacDispatch.h"

#import <AppKit/AppKit.h>

#include <time.h>

namespace platform::macos {

namespace {

RunLoopQueue::Time monotonicNow() { return std::chrono::nanoseconds(clock_gettime_nsec_np(CLOCK_MONOTONIC)); }

// The timer repeats at this interval only so that it stays valid after
// firing; every firing sets the next date itself.
constexpr CFTimeInterval never = 1.0e10;

}  // namespace

MacMainQueue::MacMainQueue()
    : RunLoopQueue({[this] {
                        CFRunLoopSourceSignal(source_);
                        // Signalled from another thread, the loop may be asleep.
                        CFRunLoopWakeUp(runLoop_);
                    },
                    [this](std::optional<Time> deadline) { setTimer(deadline); }, monotonicNow}),
      runLoop_(CFRunLoopGetMain()) {
    // AppKit's modal loops run in this mode; adding it again is harmless.
    CFRunLoopAddCommonMode(runLoop_, (__bridge CFStringRef)NSModalPanelRunLoopMode);

    CFRunLoopSourceContext source{};
    source.info = this;
    source.perform = [](void* queue) { static_cast<MacMainQueue*>(queue)->perform(); };
    source_ = CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &source);
    CFRunLoopAddSource(runLoop_, source_, kCFRunLoopCommonModes);

    CFRunLoopTimerContext timer{};
    timer.info = this;
    timer_ = CFRunLoopTimerCreate(
        kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + never, never, 0, 0,
        [](CFRunLoopTimerRef, void* queue) { static_cast<MacMainQueue*>(queue)->timerFired(); }, &timer);
    CFRunLoopAddTimer(runLoop_, timer_, kCFRunLoopCommonModes);
}

MacMainQueue::~MacMainQueue() {
    CFRunLoopTimerInvalidate(timer_);
    CFRelease(timer_);
    CFRunLoopSourceInvalidate(source_);
    CFRelease(source_);
}

// Deadlines are kept on the monotonic clock; the timer, on absolute time,
// only wakes the loop, and fires again if it came early.
void MacMainQueue::setTimer(std::optional<Time> deadline) {
    CFTimeInterval wait = never;
    if (deadline) wait = std::chrono::duration<double>(*deadline - monotonicNow()).count();
    CFRunLoopTimerSetNextFireDate(timer_, CFAbsoluteTimeGetCurrent() + wait);
}

}  // namespace platform::macos
