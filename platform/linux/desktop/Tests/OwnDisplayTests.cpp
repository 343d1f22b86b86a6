#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <cstdio>

#include <algorithm>

#include "DesktopTestSupport.h"
#include "GtkAlertPresenter.h"
#include "LinuxDesktop.h"

using namespace desktop_test;

namespace {

// This test's own X server, started before the window manager, so that
// stopping it touches no display but its own.
desktop_test::Program* server = nullptr;

}  // namespace

// The desktop on a display of its own: first without a window manager, then
// with one, until the display goes.
TEST(OwnDisplay, TheInputFocusIsTheFrontUntilAWindowManagerRunsAndLosingTheDisplayEndsOnlyAbilities) {
    GLibPlatform platform;
    ASSERT_FALSE(hasWindowManager());
    auto desktop = platform::linux_desktop::openX11Desktop();
    ASSERT_NE(desktop, nullptr);
    {
        Program first({QUILLORY_PASTE_TARGET, "--title", "First"});
        Program second({QUILLORY_PASTE_TARGET, "--title", "Second"});
        auto firstWindow = first.waitForLine("window 0 ");
        ASSERT_TRUE(firstWindow && second.waitForLine("window 0 "));

        // What a click into a window does without a window manager.
        ASSERT_EQ(run({"xdotool", "windowfocus", "--sync", windowIdOf(*firstWindow)}), 0);
        ASSERT_TRUE(first.waitForLine("focus 0"));
        auto frontIs = [&](pid_t pid) {
            auto front = desktop->frontWindow();
            return front && front->pid == pid && front->windowClass == "Quillory-paste-target";
        };
        EXPECT_TRUE(frontIs(first.pid()));
        EXPECT_TRUE(desktop->activateProcess(second.pid()));
        EXPECT_TRUE(second.waitForLine("focus 0"));
        EXPECT_TRUE(runUntil([&] { return frontIs(second.pid()); }));
    }

    WindowManager windowManager;
    ASSERT_TRUE(windowManager.isRunning());

    // Then an alert: its process must leave nothing on the main context.
    desktop->watchActivations([&] {
        auto front = desktop->frontWindow();
        if (front && parentOf(front->pid) == getpid()) run({"xdotool", "key", "Return"});
    });
    platform::Alert alert;
    alert.setMessageText("Quillory Helper is on");
    alert.addButton("OK");
    ASSERT_EQ(desktop->alerts().runModal(alert), platform::alertFirstButtonReturn);
    ASSERT_TRUE(desktop->canPostEvents());

    ASSERT_EQ(kill(server->pid(), SIGTERM), 0);

    // Noticed by the desktop's own connection, on the main context, without a request.
    EXPECT_TRUE(runUntil([&] {
        return std::any_of(platform.logLines.begin(), platform.logLines.end(), [](const std::string& line) {
            return line.find("Lost the connection") != std::string::npos;
        });
    }));
    // Alerts are answered at once, with no button.
    EXPECT_EQ(desktop->alerts().runModal(alert), platform::linux_desktop::abortedResponse);

    // This process is still here; the desktop can do nothing more.
    EXPECT_FALSE(desktop->canPostEvents());
    EXPECT_EQ(desktop->keyboardEvents().createSource(platform::eventSourceStateCombinedSessionState),
              nullptr);
    EXPECT_EQ(desktop->frontWindow(), std::nullopt);
    EXPECT_FALSE(desktop->activateProcess(getpid()));
    desktop->activateSelf();
    EXPECT_EQ(platform::linux_desktop::openX11Desktop(), nullptr) << "a display that cannot be reached";

    // The main loop goes quiet rather than spinning on the dead connections:
    // soon nothing is ready to run.
    EXPECT_TRUE(runUntil([] { return !g_main_context_iteration(nullptr, FALSE); }, 5));
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Xvfb names the display it found free on its standard output.
    desktop_test::Program xvfb(
        {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
    auto number = xvfb.waitForLine("");
    if (!number) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", (":" + *number).c_str(), 1);
    unsetenv("XAUTHORITY");
    server = &xvfb;
    return RUN_ALL_TESTS();
}
