#include <glib.h>
#include <gtest/gtest.h>
#include <poll.h>
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

// Whether any file descriptor the main context waits on is ready now: a
// source left on a dead connection would make the main loop spin.
bool mainContextHasReadyDescriptors() {
    GMainContext* context = g_main_context_default();
    if (!g_main_context_acquire(context)) return true;
    gint priority = 0;
    g_main_context_prepare(context, &priority);
    GPollFD descriptors[64];
    gint timeout = 0;
    const gint count = g_main_context_query(context, G_MAXINT, &timeout, descriptors, 64);
    std::vector<pollfd> waiting;
    for (gint i = 0; i < std::min(count, 64); ++i) {
        waiting.push_back({descriptors[i].fd, static_cast<short>(descriptors[i].events), 0});
    }
    const int ready = poll(waiting.data(), waiting.size(), 0);
    g_main_context_check(context, priority, descriptors, std::min(count, 64));
    g_main_context_dispatch(context);
    g_main_context_release(context);
    return ready > 0;
}

}  // namespace

TEST(WithoutAWindowManager, TheInputFocusIsTheFrontAndActivationMovesIt) {
    GLibPlatform platform;
    ASSERT_FALSE(hasWindowManager());
    auto desktop = platform::linux_desktop::openX11Desktop();
    ASSERT_NE(desktop, nullptr);
    Program first({QUILLORY_PASTE_TARGET, "--title", "First"});
    Program second({QUILLORY_PASTE_TARGET, "--title", "Second"});
    auto firstWindow = first.waitForLine("window 0 ");
    ASSERT_TRUE(firstWindow && second.waitForLine("window 0 "));

    // What a click into a window does without a window manager.
    ASSERT_EQ(run({"xdotool", "windowfocus", "--sync", windowIdOf(*firstWindow)}), 0);
    ASSERT_TRUE(first.waitForLine("focus 0"));
    auto front = desktop->frontWindow();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->pid, first.pid());
    EXPECT_EQ(front->windowClass, "Quillory-paste-target");

    EXPECT_TRUE(desktop->activateProcess(second.pid()));
    EXPECT_TRUE(second.waitForLine("focus 0"));
    EXPECT_TRUE(runUntil([&] {
        auto now = desktop->frontWindow();
        return now && now->pid == second.pid();
    }));
}

TEST(DisplayLoss, LosingTheDisplayEndsNothingButTheDesktopsAbilities) {
    GLibPlatform platform;
    WindowManager windowManager;
    ASSERT_TRUE(windowManager.isRunning());
    auto desktop = platform::linux_desktop::openX11Desktop();
    ASSERT_NE(desktop, nullptr);

    // An alert first: its process must leave nothing on the main context.
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
    auto& keyboard = desktop->keyboardEvents();
    EXPECT_EQ(keyboard.createSource(platform::eventSourceStateCombinedSessionState), nullptr);
    EXPECT_EQ(keyboard.createSource(platform::eventSourceStateHIDSystemState), nullptr);
    EXPECT_EQ(desktop->frontWindow(), std::nullopt);
    EXPECT_FALSE(desktop->activateProcess(getpid()));
    desktop->activateSelf();

    // The main loop goes quiet rather than spinning on the dead connections.
    bool quiet = false;
    runUntil([&] { return quiet = !mainContextHasReadyDescriptors(); }, 5);
    EXPECT_TRUE(quiet);
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
