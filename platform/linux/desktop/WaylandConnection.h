#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
typedef struct _GSource GSource;

namespace platform::linux_desktop {

// One connection to the Wayland compositor, read from GLib's default main
// context: events are dispatched on the main queue as they arrive, with no
// thread and no timer. Main thread only.
class WaylandConnection {
public:
    struct Global {
        std::uint32_t name;
        std::string interface;
        std::uint32_t version;
    };

    // The display named by WAYLAND_DISPLAY (wayland-0 without it); none
    // when it cannot be reached, with the reason in `error`.
    static std::unique_ptr<WaylandConnection> open(std::string& error);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    wl_registry* registry() const { return registry_; }
    // The compositor's globals as first announced.
    const std::vector<Global>& globals() const { return globals_; }
    std::optional<Global> global(const std::string& interface) const;

    // Waits for the compositor to have handled every request sent so far;
    // false once the connection is lost.
    bool roundTrip();
    // Sends what is queued; false once the connection is lost.
    bool flush();
    // Dispatches the events that have already arrived, without asking the
    // compositor anything.
    void drain();
    // Starts reading on the main context.
    void attachToMainContext();

    bool isLost() const { return isLost_; }
    // Why, once lost: a protocol error names the interface.
    std::string lossReason() const;
    // Runs once, on the main queue, when the connection is lost.
    void addLostHandler(std::function<void()> handler);
    // Runs after each batch of events has been dispatched, on the main queue.
    void setDispatchedHandler(std::function<void()> handler) { dispatched_ = std::move(handler); }
    // Records a loss that a failed call revealed.
    void noticeError();

    // Called by the main-context source.
    bool prepareRead();
    bool finishRead(bool readable);
    void dispatchPending();

private:
    explicit WaylandConnection(wl_display* display);
    void markLost();
    void cancelRead();

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    std::vector<Global> globals_;
    bool isLost_ = false;
    bool isReading_ = false;
    std::vector<std::function<void()>> lostHandlers_;
    std::function<void()> dispatched_;
    GSource* source_ = nullptr;
    void* fdTag_ = nullptr;
};

}  // namespace platform::linux_desktop
