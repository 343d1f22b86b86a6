#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "DesktopTestSupport.h"
#include "GtkAlertPresenter.h"
#include "LinuxDesktop.h"

using namespace desktop_test;

namespace {

// An alert process that this process started.
bool isAlertProcess(pid_t pid) {
    std::error_code error;
    return parentOf(pid) == getpid() &&
           std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).filename() ==
               "QuilloryAlert";
}

class GtkAlertTest : public testing::Test {
protected:
    void SetUp() override {
        desktop = platform::linux_desktop::openX11Desktop();
        ASSERT_NE(desktop, nullptr);
        desktop->watchActivations([this] {
            auto front = desktop->frontWindow();
            if (!front) return;
            const bool isAlert = isAlertProcess(front->pid);
            if (isAlert) alertProcess = front->pid;
            if (onActivation) onActivation(isAlert);
        });
        // An alert that never gets its key press ends the test instead of hanging it.
        watchdog = g_timeout_add_seconds(
            60,
            [](gpointer presenter) -> gboolean {
                ADD_FAILURE() << "the alert was not answered";
                static_cast<platform::linux_desktop::GtkAlertPresenter*>(presenter)->displayLost();
                return G_SOURCE_REMOVE;
            },
            &dynamic_cast<platform::linux_desktop::GtkAlertPresenter&>(desktop->alerts()));
    }
    void TearDown() override {
        if (watchdog != 0) g_source_remove(watchdog);
    }

    // Shows the alert; each time a window becomes active, `onActivation`
    // learns whether it is the alert.
    platform::ModalResponse show(std::vector<std::string> buttons) {
        platform::Alert alert;
        alert.setMessageText("Quillory Helper is on");
        alert.setInformativeText("It pastes the clip you pick in Quillory into the app you were using.");
        for (auto& button : buttons) alert.addButton(button);
        return desktop->alerts().runModal(alert);
    }

    // Presses keys on the keyboard, through XTest, as a user would.
    static void press(std::vector<std::string> keys) {
        keys.insert(keys.begin(), {"xdotool", "key", "--delay", "20"});
        EXPECT_EQ(run(keys), 0);
    }

    GLibPlatform platform;
    std::unique_ptr<platform::linux_desktop::Desktop> desktop;
    std::function<void(bool alertInFront)> onActivation;
    // The process that showed the latest alert.
    pid_t alertProcess = 0;
    guint watchdog = 0;
};

}  // namespace

TEST_F(GtkAlertTest, RealKeysAnswerInButtonOrderWhileMainQueueWorkGoesOn) {
    Program target({QUILLORY_PASTE_TARGET});
    auto targetWindow = target.waitForLine("window 0 ");
    ASSERT_TRUE(targetWindow);
    // Work on the main queue: GLib's default main context, as in the agent.
    int ticks = 0;
    const guint ticker = g_timeout_add(
        20,
        [](gpointer count) -> gboolean {
            ++*static_cast<int*>(count);
            return G_SOURCE_CONTINUE;
        },
        &ticks);

    // The user switches away from the alert; the agent brings it back, and the
    // key press reaches it rather than the window in between.
    int ticksWhenShown = -1;
    enum { waitingForAlert, switchedAway, broughtBack, pressed } step = waitingForAlert;
    onActivation = [&](bool alertInFront) {
        if (step == waitingForAlert && alertInFront) {
            ticksWhenShown = ticks;
            step = switchedAway;
            switchTo(windowIdOf(*targetWindow));
        } else if (step == switchedAway && !alertInFront) {
            step = broughtBack;
            desktop->activateSelf();
        } else if (step == broughtBack && alertInFront) {
            step = pressed;
            // The user takes a moment to read it.
            platform::DispatchQueue::main().asyncAfter(0.2, [] { press({"Return"}); });
        }
    };
    EXPECT_EQ(show({"OK", "Open Login Items"}), platform::alertFirstButtonReturn);
    EXPECT_GE(ticksWhenShown, 1) << "main-queue work ran before the alert came up";
    EXPECT_GT(ticks, ticksWhenShown) << "main-queue work ran while the alert waited for its answer";
    g_source_remove(ticker);

    // Left goes from the default, the first button, to the second; Escape closes.
    auto answerWith = [&](std::vector<std::string> keys, std::vector<std::string> buttons) {
        onActivation = [keys](bool alertInFront) {
            if (alertInFront) press(keys);
        };
        return show(buttons);
    };
    EXPECT_EQ(answerWith({"Left", "Return"}, {"Open Login Items", "Cancel"}),
              platform::alertSecondButtonReturn);
    EXPECT_EQ(answerWith({"Escape"}, {"OK", "Open Login Items"}), platform::linux_desktop::closedResponse);
}

TEST_F(GtkAlertTest, WithoutItsDisplayAnAlertIsAnsweredWithNoButtonAndItsProcessEnds) {
    // The alert process inherits a display it cannot reach.
    const std::string display = g_getenv("DISPLAY");
    g_setenv("DISPLAY", ":4095", TRUE);
    const platform::ModalResponse response = show({"OK"});
    g_setenv("DISPLAY", display.c_str(), TRUE);

    EXPECT_EQ(response, platform::linux_desktop::abortedResponse);
    EXPECT_NE(std::find(platform.logLines.begin(), platform.logLines.end(),
                        "desktop: Could not show the alert \"Quillory Helper is on\": there is no display."),
              platform.logLines.end());

    // The display goes while an alert is up.
    auto& presenter = dynamic_cast<platform::linux_desktop::GtkAlertPresenter&>(desktop->alerts());
    onActivation = [&](bool alertInFront) {
        if (alertInFront) presenter.displayLost();
    };
    EXPECT_EQ(show({"OK"}), platform::linux_desktop::abortedResponse);
    ASSERT_NE(alertProcess, 0);
    // Ended and reaped: no zombie stays behind.
    EXPECT_TRUE(runUntil([&] { return ::kill(alertProcess, 0) != 0; }));
}
