#pragma once

#include <time.h>

#include <cerrno>

// The floors' waits: absolute deadlines on the monotonic clock, so that a
// late wake-up does not push back the next deadline.
namespace quillory_bench {

inline timespec monotonicAfter(long nanoseconds) {
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC, &at);
    at.tv_nsec += nanoseconds;
    at.tv_sec += at.tv_nsec / 1'000'000'000;
    at.tv_nsec %= 1'000'000'000;
    return at;
}

inline void sleepUntil(const timespec& deadline) {
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace quillory_bench
