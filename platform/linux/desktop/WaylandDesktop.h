#pragma once

#include <memory>
#include <string>
#include <vector>

#include "GtkAlertPresenter.h"
#include "LinuxDesktop.h"
#include "WaylandConnection.h"
#include "platform/KeyboardEvents.h"

namespace platform::linux_desktop {

// The Wayland desktop, on a wlroots compositor: the front window from
// zwlr_foreign_toplevel_manager_v1, typing through
// zwp_virtual_keyboard_manager_v1, GTK alerts as native Wayland windows.
// On a compositor that lacks either protocol, or one that cannot be
// reached, it finds no window and types nothing, and says why. Main thread
// only.
class WaylandDesktop : public Desktop {
public:
    // Without a connection: `unreachable` says why.
    WaylandDesktop(std::unique_ptr<WaylandConnection> connection, std::string unreachable);
    ~WaylandDesktop() override;

    std::optional<FrontWindow> frontWindow() override;
    void watchActivations(std::function<void()> changed) override;
    bool activateProcess(ProcessIdentifier pid) override;
    bool windowExists(std::uint32_t window) override;
    void activateSelf() override;

    AlertPresenter& alerts() override { return alerts_; }
    KeyboardEvents& keyboardEvents() override { return keyboard_; }
    bool canPostEvents() override;
    std::string summary() override;

    // Why pasting cannot work here; none when it can.
    std::optional<std::string> refusal() const;

private:
    // Typing refused, with the desktop's reason.
    class Keyboard : public KeyboardEvents {
    public:
        explicit Keyboard(WaylandDesktop& desktop) : desktop_(desktop) {}
        std::shared_ptr<EventSource> createSource(EventSourceStateID) override { return nullptr; }
        std::shared_ptr<KeyboardEvent> createKeyboardEvent(EventSource&, VirtualKeyCode, bool) override {
            return nullptr;
        }
        void setFlags(KeyboardEvent&, EventFlags) override {}
        void post(EventTapLocation, KeyboardEvent&) override {}
        std::optional<Error> unavailability() override;

    private:
        WaylandDesktop& desktop_;
    };

    std::unique_ptr<WaylandConnection> connection_;
    std::string unreachable_;
    // The protocols pasting needs that the compositor does not offer.
    std::vector<std::string> missing_;
    Keyboard keyboard_;
    GtkAlertPresenter alerts_;
    std::function<void()> changed_;
};

}  // namespace platform::linux_desktop
