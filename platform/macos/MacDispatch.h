#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include "platform/RunLoopQueue.h"

namespace platform::macos {

// The main queue, run by the main run loop in its common modes, the modal
// panel mode among them: its work also runs while an alert is up. GCD's main
// queue cannot do that: it is serial, and runs nothing else while the block
// that opened the alert waits for it. Made on the main thread.
class MacMainQueue : public RunLoopQueue {
public:
    MacMainQueue();
    ~MacMainQueue() override;
    MacMainQueue(const MacMainQueue&) = delete;
    MacMainQueue& operator=(const MacMainQueue&) = delete;

private:
    void setTimer(std::optional<Time> deadline);

    CFRunLoopRef runLoop_;
    CFRunLoopSourceRef source_ = nullptr;
    CFRunLoopTimerRef timer_ = nullptr;
};

}  // namespace platform::macos
