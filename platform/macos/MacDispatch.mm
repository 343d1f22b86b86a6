#include "MacDispatch.h"

#include <cstdint>

namespace platform::macos {

void MacDispatchQueue::async(WorkItem item) {
    const WorkItem work = std::move(item);
    dispatch_async(queue_, ^{
      work();
    });
}

void MacDispatchQueue::asyncAfter(double seconds, WorkItem item) {
    const WorkItem work = std::move(item);
    const auto delay = static_cast<std::int64_t>(seconds * static_cast<double>(NSEC_PER_SEC));
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), queue_, ^{
      work();
    });
}

}  // namespace platform::macos
