#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

typedef struct _GSource GSource;

namespace platform::linux_desktop {

// One XCB connection to the display, read from GLib's default main context.
// XCB reports a lost server as a connection error instead of exiting, which
// is why the desktop uses it rather than Xlib. Main thread only.
class XcbConnection {
public:
    enum class Atom {
        netActiveWindow,
        netWmPid,
        netSupportingWmCheck,
        netClientListStacking,
        gtkApplicationId,
        utf8String,
        timestampProbe,
    };

    // None when the display named by DISPLAY cannot be opened.
    static std::unique_ptr<XcbConnection> open();
    ~XcbConnection();

    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* raw() const { return connection_; }
    xcb_window_t root() const { return root_; }
    xcb_atom_t atom(Atom atom) const { return atoms_.at(atom); }
    bool hasXTest() const { return hasXTest_; }
    // The type of XKB's events, when the server has XKB; this connection
    // then hears of keymap and layout group changes.
    std::optional<std::uint8_t> xkbEventBase() const { return xkbEventBase_; }

    // Each event read from the display goes to `handler`, on the main queue.
    void setEventHandler(std::function<void(const xcb_generic_event_t&)> handler);
    // Runs once, on the main queue, when the connection to the display is lost.
    void addLostHandler(std::function<void()> handler);

    bool isLost() const { return isLost_; }
    // One round trip: whether the server still answers. Notices a loss at once.
    bool isAlive();
    // Records a loss that a failed request revealed.
    void noticeError();

    // A current server timestamp, from a property change on a window of our
    // own; XCB_CURRENT_TIME when the server does not answer.
    xcb_timestamp_t serverTime();

    // A question sent to the server whose answer is read later, so that
    // several questions share one round trip. An answer never read is
    // discarded.
    class Asked {
    public:
        Asked() = default;
        Asked(xcb_connection_t* connection, unsigned sequence)
            : connection_(connection), sequence_(sequence) {}
        Asked(Asked&& other) noexcept { *this = std::move(other); }
        Asked& operator=(Asked&& other) noexcept;
        ~Asked() { discard(); }

        bool wasAsked() const { return connection_ != nullptr; }
        // The sequence number to read the answer by; once.
        unsigned take();

    private:
        void discard();
        xcb_connection_t* connection_ = nullptr;
        unsigned sequence_ = 0;
    };

    // Property values; none when the window is gone or has no such property.
    std::optional<std::vector<std::uint32_t>> cardinals(xcb_window_t window, xcb_atom_t property,
                                                        xcb_atom_t type);
    std::optional<std::string> text(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);
    // Whether the window exists and, with `mustBeViewable`, is shown on screen.
    bool windowExists(xcb_window_t window, bool mustBeViewable = false);
    // The same in two halves: ask now, read the answer later.
    Asked askCardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);
    Asked askText(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);
    Asked askWindowAttributes(xcb_window_t window);
    std::optional<std::vector<std::uint32_t>> cardinals(Asked& asked, xcb_atom_t type);
    std::optional<std::string> text(Asked& asked, xcb_atom_t type);
    bool windowExists(Asked& asked, bool mustBeViewable = false);
    // Children of `window`, bottom of the stack first; empty when it is gone.
    std::vector<xcb_window_t> children(xcb_window_t window, xcb_window_t* parent = nullptr);
    // Replaces this connection's event mask on `window`; no answer to wait for.
    void selectEvents(xcb_window_t window, std::uint32_t mask);
    // How many answers of the server the questions above have waited for:
    // what a caller that must not wait can be checked against.
    std::uint64_t answersAwaited() const { return answersAwaited_; }

    // Called by the main-context source, and by whoever needs what the server
    // has already said: reads without waiting. Does nothing when called from
    // the event handler.
    bool hasQueuedEvents();
    void dispatchEvents();
    bool isReadable() const;

private:
    XcbConnection(xcb_connection_t* connection, xcb_window_t root);
    void internAtoms();
    void followKeyboardLayouts();
    void attachToMainContext();
    void markLost();

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_window_t timestampWindow_ = XCB_NONE;
    bool hasXTest_ = false;
    std::optional<std::uint8_t> xkbEventBase_;
    bool isLost_ = false;
    bool dispatching_ = false;
    std::uint64_t answersAwaited_ = 0;
    std::map<Atom, xcb_atom_t> atoms_;
    std::deque<xcb_generic_event_t*> queued_;
    std::function<void(const xcb_generic_event_t&)> eventHandler_;
    std::vector<std::function<void()>> lostHandlers_;
    GSource* source_ = nullptr;
    void* fdTag_ = nullptr;
};

}  // namespace platform::linux_desktop
