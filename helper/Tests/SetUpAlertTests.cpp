#include <gtest/gtest.h>

#include "HelperTestSupport.h"
#include "SetUpAlert.h"

namespace quillory {
namespace {

using platform::alertFirstButtonReturn;
using platform::alertSecondButtonReturn;

TEST(SetUpAlert, EachAlertShowsItsLocalizedTextsAndButtonsInOrder) {
    fake::FakePlatform desktop;
    desktop.localization.translations = {{"Open Login Items", "Anmeldeobjekte öffnen"}};
    // The helper comes to the front before each alert, or the alert opens behind the user's window.
    std::vector<std::size_t> activationsAtShow;
    desktop.alerts.onShow = [&](const fake::ShownAlert&) {
        activationsAtShow.push_back(desktop.application.activations.size());
    };
    SetUpAlert::alreadyOn();
    SetUpAlert::turnedOff();
    SetUpAlert::failed();

    ASSERT_EQ(desktop.alerts.shown.size(), 3u);
    const auto& on = desktop.alerts.shown[0];
    EXPECT_EQ(on.messageText, "Quillory Helper is on");
    EXPECT_EQ(
        on.informativeText,
        "It pastes the clip you pick in Quillory into the app you were using. To turn Auto-Paste off, use "
        "the Auto-Paste switch in Quillory → Settings → General.");
    EXPECT_EQ(on.buttons, (std::vector<std::string>{"OK", "Anmeldeobjekte öffnen"}));
    const auto& off = desktop.alerts.shown[1];
    EXPECT_EQ(off.messageText, "Quillory Helper is turned off");
    EXPECT_EQ(
        off.informativeText,
        "It was turned off in System Settings → General → Login Items. To turn Auto-Paste back on, turn on "
        "Quillory Helper there.");
    EXPECT_EQ(off.buttons, (std::vector<std::string>{"Anmeldeobjekte öffnen", "Cancel"}));
    const auto& failed = desktop.alerts.shown[2];
    EXPECT_EQ(failed.messageText, "Quillory Helper could not be turned on");
    EXPECT_EQ(
        failed.informativeText,
        "Move it to the Trash, download it again from ombrel.me, and open it from the Applications folder.");
    EXPECT_EQ(failed.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(activationsAtShow, (std::vector<std::size_t>{1, 2, 3}));
}

TEST(SetUpAlert, OnlyTheOpenLoginItemsButtonOpensTheSettingsAndNothingEndsTheProcess) {
    struct Case {
        const char* name;
        void (*show)();
        platform::ModalResponse response;
        bool opensLoginItems;
    };
    for (const Case& step : {
             Case{"alreadyOn Open Login Items", SetUpAlert::alreadyOn, alertSecondButtonReturn, true},
             Case{"turnedOff Cancel", SetUpAlert::turnedOff, alertSecondButtonReturn, false},
             Case{"failed OK", SetUpAlert::failed, alertFirstButtonReturn, false},
             Case{"failed, any other response", SetUpAlert::failed, alertSecondButtonReturn, false},
         }) {
        SCOPED_TRACE(step.name);
        fake::FakePlatform desktop;
        desktop.alerts.answerNext({step.response, 2.0});
        step.show();
        ASSERT_EQ(desktop.alerts.shown.size(), 1u);
        // Opened after the user pressed the button, not while the alert was up.
        EXPECT_EQ(
            desktop.loginItems.loginItemsSettingsOpenedAt,
            step.opensLoginItems ? std::vector<fake::Nanos>{fake::seconds(2.0)} : std::vector<fake::Nanos>{});
        EXPECT_TRUE(desktop.loginItems.calls.empty());
        EXPECT_FALSE(desktop.application.isTerminated());
    }
}

}  // namespace
}  // namespace quillory
