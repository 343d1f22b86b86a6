#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "GtkAlertPresenter.h"
#include "LinuxDesktop.h"
#include "PasteShortcut.h"
#include "VirtualKeyboardEvents.h"
#include "WaylandConnection.h"

struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct zwp_virtual_keyboard_manager_v1;

namespace platform::linux_desktop {

// The Wayland desktop of a wlroots compositor (sway, Hyprland, river,
// labwc...): the front window is the toplevel that
// zwlr_foreign_toplevel_manager_v1 says is activated, named by its app_id;
// re-activation asks the compositor to activate a toplevel for the seat;
// typing goes through one virtual keyboard (zwp_virtual_keyboard_manager_v1);
// alerts are native Wayland windows. On a compositor that lacks either
// protocol, or cannot be reached, it finds no window and types nothing, and
// says why. Main thread only.
class WaylandDesktop : public Desktop {
public:
    // Without a connection: `unreachable` says why.
    WaylandDesktop(std::unique_ptr<WaylandConnection> connection, std::string unreachable);
    ~WaylandDesktop() override;

    std::optional<FrontWindow> frontWindow() override;
    void watchActivations(std::function<void()> changed) override;
    // Wayland names no process behind a window: always false.
    bool activateProcess(ProcessIdentifier pid) override;
    bool activateWindow(WindowHandle window) override;
    bool windowExists(WindowHandle window) override;
    void activateSelf() override;

    AlertPresenter& alerts() override { return alerts_; }
    KeyboardEvents& keyboardEvents() override { return keyboard_; }
    bool canPostEvents() override { return !refusal(); }
    std::string summary() override;

    // Why pasting cannot work here; none when it can.
    std::optional<std::string> refusal() const;

    // For the toplevels' event handlers.
    struct Toplevel {
        WaylandDesktop* desktop = nullptr;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        WindowHandle id = 0;
        std::string appId;
        bool isActivated = false;
        // What the events since the last `done` said.
        std::string pendingAppId;
        bool isPendingActivated = false;
    };
    void toplevelAnnounced(zwlr_foreign_toplevel_handle_v1* handle);
    void toplevelDone(Toplevel& toplevel);
    void toplevelClosed(Toplevel& toplevel);
    void managerFinished();

private:
    void bind();
    // Makes the virtual keyboard, once: compiling its keymap takes as long
    // as the rest of the agent's start, so it is made just after the start,
    // or at the first paste if that comes sooner.
    void makeKeyboard();
    // Tells the watcher of a new front window, once per change, after the
    // events that made it have all been handled.
    void announce();
    Toplevel* find(WindowHandle window);
    // The paste shortcut of the toplevel in front, which receives the keys.
    PasteShortcutChoice frontPasteShortcut();

    std::unique_ptr<WaylandConnection> connection_;
    std::string unreachable_;
    // The protocols pasting needs that the compositor does not offer.
    std::vector<std::string> missing_;
    // Why the virtual keyboard could not be made; empty when it was, or
    // before it is tried.
    std::string keyboardFailure_;
    bool isKeyboardTried_ = false;
    unsigned keyboardSoon_ = 0;  // the main-context source that makes it
    wl_seat* seat_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* toplevelManager_ = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
    std::map<WindowHandle, std::unique_ptr<Toplevel>> toplevels_;
    WindowHandle nextHandle_ = 1;
    WindowHandle front_ = 0;
    WindowHandle announced_ = 0;
    bool isAnnouncing_ = false;
    PasteShortcuts pasteShortcuts_;
    VirtualKeyboardEvents keyboard_;
    GtkAlertPresenter alerts_;
    std::function<void()> changed_;
};

}  // namespace platform::linux_desktop
