#pragma once

#include <glib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/Dispatch.h"

namespace platform::linux_platform {

// A serial queue served by a GLib main context: the main queue is the
// default context, run by the application's loop and by every nested loop
// (modal dialogs). Work runs in the order it became due: async work when it
// is submitted, delayed work at its deadline on the monotonic clock, to the
// microsecond: a timer file descriptor wakes the context (GLib's own
// timeouts wait whole milliseconds, up to one too long). One GSource
// carries the queue, so a work item that runs a nested loop lets later work
// run inside it.
class ContextQueue : public DispatchQueue {
public:
    explicit ContextQueue(GMainContext* context);
    ~ContextQueue() override;
    ContextQueue(const ContextQueue&) = delete;
    ContextQueue& operator=(const ContextQueue&) = delete;

    void async(WorkItem item) override;
    void asyncAfter(double seconds, WorkItem item) override;

    GMainContext* context() const { return context_; }

private:
    friend struct QueueSource;
    void schedule(gint64 due, WorkItem item);
    // Runs the earliest item that is due, if any.
    void runNext();
    // Wakes the context at `due` (monotonic microseconds), or never.
    void wakeAt(std::optional<gint64> due);

    GMainContext* context_;
    int timer_;
    GSource* source_;
    std::mutex mutex_;
    std::uint64_t sequence_ = 0;
    std::map<std::pair<gint64, std::uint64_t>, WorkItem> pending_;
};

// A serial queue on a thread of its own that runs a main context: its own,
// or one prepared by the caller (to register GLib callbacks in it first).
// Closing it (or destroying it) lets the work already submitted run, then
// ends the thread without waiting for it; closeAndWait() waits.
class SerialQueue : public DispatchQueue {
public:
    explicit SerialQueue(const std::string& name, GMainContext* context = nullptr);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(WorkItem item) override;
    void asyncAfter(double seconds, WorkItem item) override;
    void close();
    // From the queue's own thread it cannot wait, and only closes.
    void closeAndWait();
    // Whether the thread has run its last work and ended.
    bool hasEnded() const;

    // The context that runs this queue's work (for GLib sources).
    GMainContext* context() const;

private:
    struct Thread;
    std::shared_ptr<Thread> thread_;
    bool closed_ = false;
};

}  // namespace platform::linux_platform
