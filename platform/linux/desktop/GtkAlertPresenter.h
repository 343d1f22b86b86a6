#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Alert.h"

namespace platform::linux_desktop {

// Alerts as GTK 3 message dialogs, each in a nested run of GLib's default
// main context, so main-queue work goes on while one is up. GTK is set up
// when the first alert is shown, not at start. Main thread only.
class GtkAlertPresenter : public AlertPresenter {
public:
    // Closed without a button (Escape, the window's close button).
    static constexpr ModalResponse closedResponse = 0;
    // Not shown, or ended because the display went away.
    static constexpr ModalResponse abortedResponse = -1001;

    // `activateWindow` asks the window manager to bring an X window to the front.
    explicit GtkAlertPresenter(std::function<void(std::uint32_t window)> activateWindow);
    ~GtkAlertPresenter() override;

    ModalResponse runModal(const Alert& alert) override;

    // Brings the alert that is up, if any, to the front.
    void bringToFront();
    // Ends the alerts that are up; later ones are answered at once.
    void displayLost();

    struct Showing;

private:
    bool setUpGtk();

    std::function<void(std::uint32_t)> activateWindow_;
    std::vector<Showing*> showing_;
    bool isDisplayLost_ = false;
};

}  // namespace platform::linux_desktop
