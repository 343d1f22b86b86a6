// The helper in Wayland sessions: the agent started as the login items
// start it, on a headless compositor of the test's own, with the test's
// windows as native Wayland windows (and, for the X11 ones, Xwayland's).

#include <gtest/gtest.h>

#include <string>

#include "AgentHarness.h"
#include "desktop/Tests/DesktopTestSupport.h"

namespace agent_harness {
namespace {

using desktop_test::Program;

// A program of the test on the compositor, as a native Wayland client.
std::vector<std::string> onWayland(const PrivateServer& compositor, std::vector<std::string> command) {
    std::vector<std::string> arguments{"env", std::string("WAYLAND_DISPLAY=") + compositor.address(),
                                       "GDK_BACKEND=wayland", "NO_AT_BRIDGE=1"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return arguments;
}

// A program of the test on an X display.
std::vector<std::string> onX11(const std::string& display, std::vector<std::string> command) {
    std::vector<std::string> arguments{"env", "DISPLAY=" + display, "GDK_BACKEND=x11", "NO_AT_BRIDGE=1"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return arguments;
}

// weston offers neither the foreign-toplevel nor the virtual-keyboard
// protocol, as GNOME's Mutter does not. Its session also has an X display,
// as sessions with Xwayland have: typing there would reach only X11 windows
// and answer true all the same.
class WaylandWithoutThePasteProtocols : public ServingAgentTest {
protected:
    WaylandWithoutThePasteProtocols() {
        agentEnvironment = {{"WAYLAND_DISPLAY", weston.address()}, {"DISPLAY", xDisplay.address()}};
    }

    PrivateServer weston{PrivateServer::Kind::weston};
    PrivateServer xDisplay{PrivateServer::Kind::display};
};

TEST_F(WaylandWithoutThePasteProtocols, PingsButRefusesEveryPasteAndSaysWhy) {
    // The user works in an X11 window that has the keyboard: a fallback to
    // X11 would type into it.
    Program xTarget(onX11(xDisplay.address(), {QUILLORY_PASTE_TARGET}));
    const auto xWindow = xTarget.waitForLine("window 0 ");
    ASSERT_TRUE(xWindow);
    ASSERT_EQ(desktop_test::run({"env", std::string("DISPLAY=") + xDisplay.address(), "xdotool",
                                 "windowfocus", "--sync", desktop_test::windowIdOf(*xWindow)}),
              0);
    Program waylandTarget(onWayland(weston, {QUILLORY_PASTE_TARGET}));
    ASSERT_TRUE(waylandTarget.waitForLine("window 0 wayland"));

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(callOnce("Ping").value, true);
        EXPECT_EQ(callOnce("Paste").value, false);
    }
    // A real key typed after the pastes arrives after anything they typed.
    ASSERT_EQ(desktop_test::run({"env", std::string("DISPLAY=") + xDisplay.address(), "xdotool", "key", "x"}),
              0);
    ASSERT_TRUE(xTarget.waitForLine("key 0 x none"));
    for (const auto& line : xTarget.lines()) EXPECT_FALSE(line.starts_with("key 0 v")) << line;
    for (const auto& line : waylandTarget.lines()) EXPECT_FALSE(line.starts_with("key ")) << line;

    EXPECT_EQ(agent->waitForEnd(), "running");
    if (logsToStandardError()) {
        const std::string log = agent->log();
        EXPECT_EQ(agent->count("info me.ombrel.quillory.autopastehelper:desktop Desktop: Wayland on "), 1)
            << log;
        const std::string lacks =
            "The Wayland compositor lacks zwlr_foreign_toplevel_manager_v1, zwp_virtual_keyboard_manager_v1";
        EXPECT_EQ(
            agent->count("error me.ombrel.quillory.autopastehelper:desktop Pasting is unavailable on this "
                         "desktop. " +
                         lacks),
            1)
            << log;
        EXPECT_EQ(agent->count("Could not create the ⌘V keyboard events. " + lacks), 3) << log;
    }
}

// The session says Wayland but its compositor cannot be reached: no paste,
// and a clear error, rather than X11 through the display that is set.
class WaylandSessionWithoutItsCompositor : public ServingAgentTest {
protected:
    WaylandSessionWithoutItsCompositor() {
        agentEnvironment = {{"XDG_SESSION_TYPE", "wayland"},
                            {"WAYLAND_DISPLAY", "wayland-nowhere"},
                            {"DISPLAY", xDisplay.address()}};
    }

    PrivateServer xDisplay{PrivateServer::Kind::display};
};

TEST_F(WaylandSessionWithoutItsCompositor, PingsButRefusesEveryPasteAndSaysWhy) {
    EXPECT_EQ(callOnce("Ping").value, true);
    EXPECT_EQ(callOnce("Paste").value, false);
    if (logsToStandardError()) {
        const std::string unreachable = "Cannot reach the Wayland display wayland-nowhere";
        EXPECT_EQ(agent->count("Pasting is unavailable on this desktop. " + unreachable), 1) << agent->log();
        EXPECT_EQ(agent->count("Could not create the ⌘V keyboard events. " + unreachable), 1) << agent->log();
    }
}

}  // namespace
}  // namespace agent_harness
