#pragma once

#include <dispatch/dispatch.h>

#include "platform/Dispatch.h"

namespace platform::macos {

// A serial dispatch queue of libdispatch: the main queue, or any other.
class MacDispatchQueue : public DispatchQueue {
public:
    explicit MacDispatchQueue(dispatch_queue_t queue) : queue_(queue) {}

    void async(WorkItem item) override;
    void asyncAfter(double seconds, WorkItem item) override;

    dispatch_queue_t queue() const { return queue_; }

private:
    dispatch_queue_t queue_;
};

}  // namespace platform::macos
