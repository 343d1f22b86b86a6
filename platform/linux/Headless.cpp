#include "Headless.h"

#include "platform/Log.h"

namespace platform::linux_platform {

ModalResponse HeadlessAlerts::runModal(const Alert& alert) {
    std::string buttons;
    for (const auto& title : alert.buttons()) buttons += (buttons.empty() ? "" : ", ") + title;
    Logger(subsystem_, "alert")
        .notice(
            "No display to show an alert on; it is answered without a button. Message: %{public}s "
            "Informative text: %{public}s Buttons: %{public}s",
            alert.messageText(), alert.informativeText(), buttons);
    return headlessAlertResponse;
}

}  // namespace platform::linux_platform
