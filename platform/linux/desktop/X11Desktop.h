#pragma once

#include <deque>
#include <memory>

#include "GtkAlertPresenter.h"
#include "LinuxDesktop.h"
#include "PasteShortcut.h"
#include "XTestKeyboardEvents.h"
#include "XcbConnection.h"

namespace platform::linux_desktop {

// The X11 desktop: the window manager's active window (EWMH), XTest input and
// GTK alerts. Main thread only.
class X11Desktop : public Desktop {
public:
    explicit X11Desktop(std::unique_ptr<XcbConnection> connection);

    std::optional<FrontWindow> frontWindow() override;
    void watchActivations(std::function<void()> changed) override;
    bool activateProcess(ProcessIdentifier pid) override;
    bool activateWindow(WindowHandle window) override {
        return activateX11Window(static_cast<xcb_window_t>(window));
    }
    bool windowExists(WindowHandle window) override {
        return connection_->windowExists(static_cast<xcb_window_t>(window));
    }
    void activateSelf() override;

    AlertPresenter& alerts() override { return alerts_; }
    KeyboardEvents& keyboardEvents() override { return keyboard_; }
    bool canPostEvents() override;
    std::string summary() override;

    // Asks the window manager to activate `window`, as a pager would; sets
    // the input focus where no EWMH window manager runs.
    bool activateX11Window(xcb_window_t window);

private:
    struct Activated {
        xcb_window_t window = XCB_NONE;
        ProcessIdentifier pid = 0;
    };

    void handleEvent(const xcb_generic_event_t& event);
    bool activateX11Window(xcb_window_t window, XcbConnection::Asked rootCheck);
    // The window manager's check window when an EWMH window manager runs.
    bool hasEwmhWindowManager();
    // The same with the root's property already asked for.
    bool hasEwmhWindowManager(XcbConnection::Asked& rootCheck);
    XcbConnection::Asked askRootCheck();
    // _NET_ACTIVE_WINDOW; none without an EWMH window manager.
    std::optional<xcb_window_t> activeWindow();
    // The top-level window that holds the input focus.
    xcb_window_t focusedTopLevel();
    std::optional<ProcessIdentifier> pidOf(xcb_window_t window);
    void remember(xcb_window_t window);
    void remember(xcb_window_t window, ProcessIdentifier pid);

    // What frontWindow reads of a window, asked for at once.
    struct Questions {
        XcbConnection::Asked attributes;
        XcbConnection::Asked pid;
        XcbConnection::Asked applicationId;
        XcbConnection::Asked windowClass;
    };
    Questions ask(xcb_window_t window);
    // The front window that `questions` asked about; none when it is gone.
    std::optional<FrontWindow> describe(xcb_window_t window, Questions& questions);
    // The front window as the server says it is now; round trips.
    std::optional<FrontWindow> askFront();
    // Read at the window manager's announcement, so that a paste need not ask.
    void learnFront(xcb_window_t window);
    // From now on the desktop hears when `window`, or the window manager
    // whose check window `check` is, goes away.
    void watch(xcb_window_t window, xcb_window_t check);
    // The known front no longer stands when its window or the window manager goes.
    void forgetFrontOnDestruction(const xcb_generic_event_t& event);

    // The paste shortcut of the window in front, which receives the keys.
    PasteShortcutChoice frontPasteShortcut();

    std::unique_ptr<XcbConnection> connection_;
    PasteShortcuts pasteShortcuts_;
    XTestKeyboardEvents keyboard_;
    GtkAlertPresenter alerts_;
    std::function<void()> changed_;
    // Most recent first: the active windows seen in notifications or asked for.
    std::deque<Activated> history_;
    Activated lastAnnounced_;
    // The front window as last read from the window manager, until it
    // announces another or the window or the window manager goes: the window
    // a paste's keys go to, known without a question to the server.
    std::optional<FrontWindow> knownFront_;
    // The windows whose going the desktop hears of.
    xcb_window_t watchedWindow_ = XCB_NONE;
    xcb_window_t watchedCheck_ = XCB_NONE;
};

}  // namespace platform::linux_desktop
