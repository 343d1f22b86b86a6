#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "AlertAnswers.h"
#include "platform/Alert.h"

namespace platform::linux_desktop {

// Alerts as GTK 3 message dialogs, each shown by a short-lived alert process
// of the bundle (Contents/Libexec) while the main context goes on running:
// the agent itself never loads GTK, so its memory is back at rest once the
// alert is answered. Main thread only.
class GtkAlertPresenter : public AlertPresenter {
public:
    // Asks the window manager to bring an X window to the front.
    using ActivateWindow = std::function<void(std::uint32_t window)>;

    // Names and values added to the alert process's environment, asked for
    // at each alert.
    using Environment = std::vector<std::pair<std::string, std::string>>;

    explicit GtkAlertPresenter(ActivateWindow activateWindow, std::function<Environment()> environment = {});

    ModalResponse runModal(const Alert& alert) override;

    // Brings the alert that is up, if any, to the front.
    void bringToFront();
    // Ends the alerts that are up; later ones are answered at once.
    void displayLost();

private:
    struct Showing;

    ActivateWindow activateWindow_;
    std::function<Environment()> environment_;
    // Innermost last: an alert may come up while another waits.
    std::vector<Showing*> showing_;
    bool isDisplayLost_ = false;
};

}  // namespace platform::linux_desktop
