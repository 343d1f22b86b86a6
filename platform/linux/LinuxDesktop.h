#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/KeyboardEvents.h"
#include "platform/RunningApplication.h"

// The seam inside the Linux platform between the process side (main loop,
// bus, files, processes, login items, log) and the graphical desktop (X11
// with XTest, or a Wayland compositor; GTK, gettext). Without a display
// there is no Desktop, and the process side falls back to its headless
// behaviour.
namespace platform::linux_desktop {

// One window, as the desktop that reported it names it: an X window id, or
// the number the Wayland desktop gives each toplevel it hears of. Only that
// desktop can make sense of it; 0 names none.
using WindowHandle = std::uint64_t;

// The window that receives keystrokes now.
struct FrontWindow {
    WindowHandle window = 0;
    // From _NET_WM_PID; 0 when the window names none. Wayland names no
    // process behind a window: there the window alone stands for it.
    ProcessIdentifier pid = 0;
    std::optional<std::string> applicationId;  // _GTK_APPLICATION_ID, or the Wayland app_id
    std::optional<std::string> windowClass;    // WM_CLASS class part

    bool operator==(const FrontWindow&) const = default;
};

class Desktop {
public:
    virtual ~Desktop() = default;

    virtual std::optional<FrontWindow> frontWindow() = 0;
    // Calls `changed` on the main queue (GLib's default main context) each
    // time another window becomes active.
    virtual void watchActivations(std::function<void()> changed) = 0;
    // Activates the most recently active window of the process.
    virtual bool activateProcess(ProcessIdentifier pid) = 0;
    // Activates that window; false when it has gone.
    virtual bool activateWindow(WindowHandle window) = 0;
    // Whether the window is still there (on X11 one round trip; on Wayland
    // the compositor has said so, in events already sent).
    virtual bool windowExists(WindowHandle window) = 0;
    // Brings this process's own windows (an alert) to the front.
    virtual void activateSelf() = 0;

    virtual AlertPresenter& alerts() = 0;
    // Key codes are macOS virtual key codes, translated when posted.
    virtual KeyboardEvents& keyboardEvents() = 0;
    // Whether synthetic input can be posted (the XTEST extension is there,
    // or the compositor gave a virtual keyboard).
    virtual bool canPostEvents() = 0;
    // What the desktop is and what it found, for the log at start.
    virtual std::string summary() = 0;
};

// Opens the display named by DISPLAY; none without one.
std::unique_ptr<Desktop> openX11Desktop();
// Connects to the compositor named by WAYLAND_DISPLAY. Always a desktop:
// one that cannot reach its compositor, or lacks what pasting needs, posts
// nothing and says why through its keyboard events' unavailability.
std::unique_ptr<Desktop> openWaylandDesktop();

// gettext catalogues from the bundle's Contents/Resources, the English text
// (the message id) as fallback.
std::unique_ptr<Localization> makeGettextLocalization(const std::string& resourcesPath);

}  // namespace platform::linux_desktop
