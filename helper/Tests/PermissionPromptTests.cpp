#include <gtest/gtest.h>

#include "HelperTestSupport.h"
#include "PermissionPrompt.h"

namespace quillory {
namespace {

using fake::seconds;
using platform::alertFirstButtonReturn;
using platform::alertSecondButtonReturn;

const std::string title = "Quillory Helper needs permission to press \u2318V";

// The instructions name the settings pane, which macOS 27 renamed.
std::string instructions(const std::string& pane) {
    return "To paste the clip you pick in Quillory, this helper presses \u2318V for you. That needs your "
           "permission.\n\nOpen System Settings \u2192 Privacy & Security \u2192 " +
           pane +
           ", then turn on Quillory Helper.\n\nUntil then, press \u2318V yourself: the clip is already "
           "copied.";
}

const std::string privacyPane =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
const std::string explaining = "Explaining the missing permission to post events";

class PermissionPromptStory : public testing::HelperStory {};

TEST_F(PermissionPromptStory, ExplainsWhereToGrantThePermissionInTheUsersLanguage) {
    desktop.process.osVersion = {26, 4, 1};
    desktop.advance(2);
    PermissionPrompt().showIfDue();  // answered "Open System Settings"
    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    EXPECT_EQ(desktop.alerts.shown[0].messageText, title);
    EXPECT_EQ(desktop.alerts.shown[0].informativeText, instructions("Accessibility"));
    EXPECT_EQ(desktop.alerts.shown[0].buttons, (std::vector<std::string>{"Open System Settings", "Not Now"}));
    // The helper comes to the front first, or the alert would go unseen.
    EXPECT_EQ(desktop.application.activations, std::vector<fake::Nanos>{seconds(2)});
    EXPECT_EQ(desktop.workspace.openedURLs, std::vector<std::string>{privacyPane});
    EXPECT_EQ(desktop.log.texts("permission"), std::vector<std::string>{explaining});
    EXPECT_EQ(desktop.log.lines.at(0).message.level, platform::LogLevel::info);

    // From macOS 27 the pane has another name; the address stays the same.
    desktop.process.osVersion = {27, 0, 0};
    desktop.localization.translations = {{title, "Titel"},
                                         {instructions("Device Control and Data Access"), "Anleitung"},
                                         {"Open System Settings", "Systemeinstellungen \u00f6ffnen"},
                                         {"Not Now", "Nicht jetzt"}};
    PermissionPrompt().showIfDue();
    ASSERT_EQ(desktop.alerts.shown.size(), 2u);
    EXPECT_EQ(desktop.alerts.shown[1].messageText, "Titel");
    EXPECT_EQ(desktop.alerts.shown[1].informativeText, "Anleitung");
    EXPECT_EQ(desktop.alerts.shown[1].buttons,
              (std::vector<std::string>{"Systemeinstellungen \u00f6ffnen", "Nicht jetzt"}));
    EXPECT_EQ(desktop.workspace.openedURLs, (std::vector<std::string>{privacyPane, privacyPane}));
}

TEST_F(PermissionPromptStory, ShowsAtMostOnceInTenMinutesCountedFromTheDismissalOnTheMonotonicClock) {
    PermissionPrompt prompt;
    desktop.alerts.answerNext({alertSecondButtonReturn, 5});  // "Not Now" after 5 s
    prompt.showIfDue();
    EXPECT_TRUE(desktop.workspace.openedURLs.empty());

    desktop.advance(595);  // 600 s after it appeared
    prompt.showIfDue();
    desktop.advance(4);  // 599 s after its dismissal
    prompt.showIfDue();
    EXPECT_EQ(desktop.alerts.shown.size(), 1u);
    desktop.advance(1);
    prompt.showIfDue();
    ASSERT_EQ(desktop.alerts.shown.size(), 2u);
    EXPECT_EQ(desktop.alerts.shown[1].shownAt, seconds(605));

    // "Open System Settings" starts the interval just the same.
    desktop.advance(599.9);
    prompt.showIfDue();
    EXPECT_EQ(desktop.alerts.shown.size(), 2u);
    desktop.advance(0.1);
    prompt.showIfDue();
    EXPECT_EQ(desktop.alerts.shown.size(), 3u);
    EXPECT_EQ(desktop.log.count(explaining), 3u);

    // Setting the clock back does not hold the next alert back.
    desktop.advance(10);
    desktop.clock.setWallClock(-std::chrono::hours(24));
    desktop.advance(590);
    prompt.showIfDue();
    EXPECT_EQ(desktop.alerts.shown.size(), 4u);

    // Nor does setting it forward bring the next one early.
    desktop.advance(10);
    desktop.clock.setWallClock(std::chrono::hours(1));
    prompt.showIfDue();
    EXPECT_EQ(desktop.alerts.shown.size(), 4u);
}

// Never two at once, though work that runs during the modal wait asks
// again: PasterStory.WithoutThePermissionItPastesAnywayAndThenExplainsOnce.

}  // namespace
}  // namespace quillory
