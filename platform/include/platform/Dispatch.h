#pragma once

#include <functional>

namespace platform {

// A serial dispatch queue. The main queue runs on the main thread, inside the
// application's event loop (and inside modal alerts).
class DispatchQueue {
public:
    using WorkItem = std::function<void()>;

    virtual ~DispatchQueue() = default;

    // Safe to call from any thread.
    virtual void async(WorkItem item) = 0;
    // Deadline: now plus `seconds` on the monotonic clock.
    virtual void asyncAfter(double seconds, WorkItem item) = 0;

    static DispatchQueue& main();
};

}  // namespace platform
