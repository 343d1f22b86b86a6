#include "PermissionPrompt.h"

#include "LogSubsystem.h"
#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/ProcessInfo.h"
#include "platform/Workspace.h"

namespace quillory {

namespace {

constexpr std::chrono::seconds leastTimeBetweenAlerts{600};
// From this version on the permission sits under another name in System Settings.
constexpr platform::OperatingSystemVersion renamedPaneVersion{27, 0, 0};

}  // namespace

PermissionPrompt::PermissionPrompt() : log(logSubsystem, "permission") {}

const std::string& PermissionPrompt::systemSettingsURL() {
    static const std::string url =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
    return url;
}

std::string PermissionPrompt::instructions() {
    if (platform::ProcessInfo::shared().isOperatingSystemAtLeast(renamedPaneVersion)) {
        return platform::localized(
            "To paste the clip you pick in Quillory, this helper presses ⌘V for you. That needs your "
            "permission.\n\nOpen System Settings → Privacy & Security → Device Control and Data Access, then "
            "turn on Quillory Helper.\n\nUntil then, press ⌘V yourself: the clip is already copied.");
    }
    return platform::localized(
        "To paste the clip you pick in Quillory, this helper presses ⌘V for you. That needs your "
        "permission.\n\nOpen System Settings → Privacy & Security → Accessibility, then turn on Quillory "
        "Helper.\n\nUntil then, press ⌘V yourself: the clip is already copied.");
}

void PermissionPrompt::showIfDue() {
    // Main-queue work runs during the modal wait and may ask again.
    if (isShowing) return;
    auto& clock = platform::Clock::shared();
    if (lastShown && clock.monotonicNow() - *lastShown < leastTimeBetweenAlerts) return;

    isShowing = true;
    log.info("Explaining the missing permission to post events");
    platform::Application::shared().activate();

    platform::Alert alert;
    alert.setMessageText(platform::localized("Quillory Helper needs permission to press ⌘V"));
    alert.setInformativeText(instructions());
    alert.addButton(platform::localized("Open System Settings"));
    alert.addButton(platform::localized("Not Now"));
    if (alert.runModal() == platform::alertFirstButtonReturn) {
        platform::Workspace::shared().openURL(systemSettingsURL());
    }

    isShowing = false;
    // The interval runs from the dismissal, not from when the alert appeared.
    lastShown = clock.monotonicNow();
}

}  // namespace quillory
