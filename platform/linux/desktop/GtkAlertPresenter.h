#pragma once

#include <cstdint>
#include <functional>

#include "GtkDialogs.h"
#include "platform/Alert.h"

namespace platform::linux_desktop {

// Alerts as GTK 3 message dialogs. The GTK module is loaded, and GTK set
// up, when the first alert is shown. Main thread only.
class GtkAlertPresenter : public AlertPresenter {
public:
    explicit GtkAlertPresenter(GtkDialogs::ActivateWindow activateWindow);

    ModalResponse runModal(const Alert& alert) override;

    // Brings the alert that is up, if any, to the front.
    void bringToFront();
    // Ends the alerts that are up; later ones are answered at once.
    void displayLost();

private:
    GtkDialogs* dialogs();

    GtkDialogs::ActivateWindow activateWindow_;
    bool isDisplayLost_ = false;
};

}  // namespace platform::linux_desktop
