#include "SetUpAlert.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/ServiceManagement.h"

namespace quillory::SetUpAlert {

namespace {

// Where the helper can be downloaded again. It is part of the English text of
// failed(), and so of that text's localization key: translations must change
// with it.
constexpr const char* downloadHost = "ombrel.me";

// Shows one alert; `opensLoginItemsOn` is the response of its "Open Login
// Items" button, if it has one.
void show(const std::string& message, const std::string& information, const std::vector<std::string>& buttons,
          std::optional<platform::ModalResponse> opensLoginItemsOn) {
    platform::Application::shared().activate();
    platform::Alert alert;
    alert.setMessageText(platform::localized(message));
    alert.setInformativeText(platform::localized(information));
    for (const auto& title : buttons) alert.addButton(platform::localized(title));
    const platform::ModalResponse response = alert.runModal();
    if (opensLoginItemsOn && response == *opensLoginItemsOn) {
        platform::ServiceManagement::shared().openSystemSettingsLoginItems();
    }
}

}  // namespace

void alreadyOn() {
    show("Quillory Helper is on",
         "It pastes the clip you pick in Quillory into the app you were using. To turn Auto-Paste off, use "
         "the "
         "Auto-Paste switch in Quillory → Settings → General.",
         {"OK", "Open Login Items"}, platform::alertSecondButtonReturn);
}

void turnedOff() {
    show("Quillory Helper is turned off",
         "It was turned off in System Settings → General → Login Items. To turn Auto-Paste back on, turn "
         "on Quillory Helper there.",
         {"Open Login Items", "Cancel"}, platform::alertFirstButtonReturn);
}

void failed() {
    show("Quillory Helper could not be turned on",
         std::string("Move it to the Trash, download it again from ") + downloadHost +
             ", and open it from the Applications folder.",
         {"OK"}, std::nullopt);
}

}  // namespace quillory::SetUpAlert
