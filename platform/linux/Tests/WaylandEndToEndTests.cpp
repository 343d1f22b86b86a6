// The helper in Wayland sessions: the agent started as the login items
// start it, on a headless compositor of the test's own, with the test's
// windows as native Wayland windows (and, for the X11 ones, Xwayland's).

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <gtest/gtest.h>

#include <string>

#include "LinuxDesktop.h"
#include "ProcessUsage.h"
#include "WaylandConnection.h"
#include "WaylandKeymap.h"
#include "virtual-keyboard-unstable-v1-client.h"

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

const std::string clip = "Clip from Quillory: Grüße, 42";

// A wlroots desktop: headless sway with Xwayland, the agent on it, and the
// main app's stand-in holding a clip, as a native Wayland window.
class OnSway : public ServingAgentTest {
protected:
    OnSway() { agentEnvironment = {{"WAYLAND_DISPLAY", sway.address()}, {"DISPLAY", sway.xDisplay()}}; }

    void SetUp() override {
        ASSERT_FALSE(sway.ipcSocket().empty()) << sway.process().log();
        ServingAgentTest::SetUp();
    }

    // The user switches to a window, as a click would; returns once sway has.
    void focus(const std::string& criteria) {
        EXPECT_EQ(desktop_test::run({"swaymsg", "-q", "-s", sway.ipcSocket(), "[" + criteria + "] focus"}),
                  0);
    }

    // The main app's stand-in, in front, its clip on the clipboard.
    std::unique_ptr<Program> startMainApp() {
        auto mainApp =
            std::make_unique<Program>(onWayland(sway, {QUILLORY_MAIN_APP_STANDIN, "--clip", clip}));
        EXPECT_TRUE(mainApp->waitForLine("window wayland") && mainApp->waitForLine("clip"));
        return mainApp;
    }

    // A paste that lands in the window: reply true, Control+V, the clip.
    void expectPastedInto(Program& target) {
        const std::size_t mark = target.lines().size();
        EXPECT_EQ(callOnce("Paste").value, true);
        EXPECT_TRUE(target.waitForLine("key 0 v control", mark)) << testing::PrintToString(target.lines());
        EXPECT_TRUE(target.waitForLine("text 0 ", mark).value_or("").ends_with(clip))
            << testing::PrintToString(target.lines());
    }

    PrivateServer sway{PrivateServer::Kind::sway};
};

TEST_F(OnSway, PastesIntoTheFrontWindowAndBringsBackTheWindowBeforeTheMainApp) {
    auto mainApp = startMainApp();
    // The user works in a window.
    auto target = std::make_unique<Program>(onWayland(sway, {QUILLORY_PASTE_TARGET}));
    ASSERT_TRUE(target->waitForLine("focus 0"));
    expectPastedInto(*target);

    // Then picks a clip in the main app, which is in front when it asks: the
    // window the user worked in comes back and gets the paste.
    focus("app_id=me.ombrel.quillory");
    std::size_t mark = target->lines().size();
    ASSERT_TRUE(target->waitForLine("blur 0", mark));
    mark = target->lines().size();
    expectPastedInto(*target);
    EXPECT_TRUE(target->waitForLine("focus 0", mark)) << "the window was not brought back";

    // The window is closed, the main app in front again: nothing to bring
    // back, and the keystroke goes to the main app.
    focus("app_id=me.ombrel.quillory");
    target.reset();
    EXPECT_EQ(callOnce("Paste").value, true);
    if (logsToStandardError()) {
        EXPECT_EQ(agent->count("Re-activating quillory-paste-target before pasting."), 1) << agent->log();
        EXPECT_TRUE(waitUntil([&] {
            return agent->count("No earlier app to paste into; posting ⌘V to the current frontmost app.") ==
                   1;
        })) << agent->log();
        EXPECT_EQ(agent->count("info me.ombrel.quillory.autopastehelper:desktop Desktop: Wayland on "), 1);
        EXPECT_EQ(agent->count("error "), 0) << agent->log();
    }
    EXPECT_EQ(callOnce("Ping").value, true);

    // Left alone, with the windows still open, the agent sleeps: it reads the
    // compositor only when it speaks. (Idleness takes a span of time to see.)
    desktop_test::runUntil([] { return false; }, 0.5);
    const auto before = quillory_bench::usageOf(agent->pid());
    desktop_test::runUntil([] { return false; }, 2);
    const auto after = quillory_bench::usageOf(agent->pid());
    ASSERT_TRUE(before && after);
    EXPECT_EQ(quillory_bench::wakeupsBetween(*before, *after), 0);
    EXPECT_EQ(after->cpuTicks - before->cpuTicks, 0);
}

TEST_F(OnSway, PastesIntoAnXwaylandWindowAndBringsItBack) {
    auto mainApp = startMainApp();
    Program target(onX11(sway.xDisplay(), {QUILLORY_PASTE_TARGET}));
    ASSERT_TRUE(target.waitForLine("focus 0"));
    expectPastedInto(target);

    focus("app_id=me.ombrel.quillory");
    const std::size_t mark = target.lines().size();
    ASSERT_TRUE(target.waitForLine("blur 0", mark));
    expectPastedInto(target);
    EXPECT_TRUE(target.waitForLine("focus 0", mark)) << "the window was not brought back";
}

// The key that types "v" is found in whatever layouts the session has.
class OnSwayWithLayout : public OnSway,
                         public testing::WithParamInterface<std::pair<const char*, const char*>> {
protected:
    OnSwayWithLayout() {
        agentEnvironment["XKB_DEFAULT_LAYOUT"] = GetParam().first;
        agentEnvironment["XKB_DEFAULT_VARIANT"] = GetParam().second;
    }
};

TEST_P(OnSwayWithLayout, PastesWithTheKeyThatTypesV) {
    auto mainApp = startMainApp();
    Program target(onWayland(sway, {QUILLORY_PASTE_TARGET}));
    ASSERT_TRUE(target.waitForLine("focus 0"));
    expectPastedInto(target);
}

INSTANTIATE_TEST_SUITE_P(Layouts, OnSwayWithLayout,
                         testing::Values(std::pair{"ru,us", ""}, std::pair{"us", "dvorak"}),
                         [](const auto& info) {
                             return std::string(info.param.second[0] != '\0' ? "Dvorak" : "RussianFirst");
                         });

// A terminal emulator, a native Wayland window, gets the shortcut that
// pastes there (Control+Shift+V): the clip reaches the shell's prompt.
TEST_F(OnSway, PastesIntoATerminalAtTheShellsPrompt) {
    // The clip's newline ends the line that the shell reads.
    const std::string line = "echo " + clip;
    Program mainApp(onWayland(sway, {QUILLORY_MAIN_APP_STANDIN, "--clip", line + "\n"}));
    ASSERT_TRUE(mainApp.waitForLine("clip"));
    const auto reader = linux_test::writeLineReader();
    Program terminal(onWayland(sway, {"lxterminal", "--no-remote", "-e", "sh " + reader.script}));
    ASSERT_TRUE(
        desktop_test::runUntil([&] { return g_file_test(reader.ready.c_str(), G_FILE_TEST_EXISTS); }, 30));
    // In front as it opened.
    EXPECT_EQ(callOnce("Paste").value, true);
    EXPECT_TRUE(
        desktop_test::runUntil([&] { return g_file_test(reader.typed.c_str(), G_FILE_TEST_EXISTS); }, 30))
        << "nothing reached the prompt";
    EXPECT_EQ(linux_test::readText(reader.typed), line);
    if (logsToStandardError()) {
        EXPECT_EQ(agent->count("Pasting with ctrl+shift+v into lxterminal, a terminal."), 1) << agent->log();
    }
}

// The compositor goes while clients ping and paste, as when the session's
// compositor crashes.
TEST_F(OnSway, KillingTheCompositorWhileServingLeavesPingsTrueAndPastesFalse) {
    expectServingThroughTheLossOf(sway.process(), "Lost the connection to the Wayland display");
}

// Presses keys on the compositor as a keyboard would: a virtual keyboard of
// the test's own, with the default keymap.
class TestKeyboard {
public:
    explicit TestKeyboard(const std::string& display) {
        g_setenv("WAYLAND_DISPLAY", display.c_str(), TRUE);
        std::string error;
        connection_ = platform::linux_desktop::WaylandConnection::open(error);
        EXPECT_TRUE(connection_) << error;
        keymap_ = platform::linux_desktop::WaylandKeymap::fromDefaults();
        if (!connection_ || !keymap_) return;
        const auto seat = connection_->global("wl_seat");
        const auto manager = connection_->global("zwp_virtual_keyboard_manager_v1");
        if (!seat || !manager) return;
        seat_ = static_cast<wl_seat*>(
            wl_registry_bind(connection_->registry(), seat->name, &wl_seat_interface, 1));
        manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(wl_registry_bind(
            connection_->registry(), manager->name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
        const int fd = ::memfd_create("test-keymap", MFD_CLOEXEC);
        const std::string& text = keymap_->text();
        EXPECT_EQ(::write(fd, text.c_str(), text.size() + 1), static_cast<ssize_t>(text.size() + 1));
        zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(text.size() + 1));
        ::close(fd);
        EXPECT_TRUE(connection_->roundTrip());
    }
    ~TestKeyboard() {
        if (keyboard_ != nullptr) zwp_virtual_keyboard_v1_destroy(keyboard_);
        if (manager_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(manager_);
        if (seat_ != nullptr) wl_seat_destroy(seat_);
        if (connection_) connection_->roundTrip();
    }
    TestKeyboard(const TestKeyboard&) = delete;
    TestKeyboard& operator=(const TestKeyboard&) = delete;

    bool press(std::uint32_t keysym) {
        const auto key = keymap_ ? keymap_->keyFor(keysym) : std::nullopt;
        if (keyboard_ == nullptr || !key) return false;
        zwp_virtual_keyboard_v1_key(keyboard_, 0, key->evdevCode, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(keyboard_, 1, key->evdevCode, WL_KEYBOARD_KEY_STATE_RELEASED);
        return connection_->roundTrip();
    }

private:
    std::unique_ptr<platform::linux_desktop::WaylandConnection> connection_;
    std::unique_ptr<platform::linux_desktop::WaylandKeymap> keymap_;
    wl_seat* seat_ = nullptr;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
};

// The agent as the bus starts it in a Wayland session, with the bus's
// activation environment.
class OnSwayStartedByTheBus : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(sway.ipcSocket().empty()) << sway.process().log();
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus, nullptr);
        GVariantBuilder environment;
        g_variant_builder_init(&environment, G_VARIANT_TYPE("a{ss}"));
        // The test's bus has no accessibility bus to start.
        g_variant_builder_add(&environment, "{ss}", "NO_AT_BRIDGE", "1");
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "UpdateActivationEnvironment", g_variant_new("(a{ss})", &environment), nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        ASSERT_NE(reply, nullptr);
        helper = std::make_unique<InstalledHelper>();
    }

    void TearDown() override {
        helper.reset();
        if (bus != nullptr) g_object_unref(bus);
    }

    PrivateServer sway{PrivateServer::Kind::sway};
    desktop_test::GLibPlatform platform;
    GDBusConnection* bus = nullptr;
    std::unique_ptr<InstalledHelper> helper;
};

TEST_F(OnSwayStartedByTheBus, OpenedAgainItsAlertComesToTheFrontReturnAnswersItAndItIsNoPasteTarget) {
    Notifications notifications(bus);
    // Opened from the Wayland session, the set-up hands the session's
    // display to the bus, which starts the agent with it.
    const Environment session{{"WAYLAND_DISPLAY", sway.address()}, {"XDG_SESSION_TYPE", "wayland"}};
    ASSERT_EQ(helper->open(session)->waitForEnd(30), "exited 0");
    const pid_t agent = waitForAgent(bus, notifications);
    ASSERT_NE(agent, 0);
    // The user works in a window; the keyboard is the test's.
    TestKeyboard keyboard(sway.address());
    Program target(onWayland(sway, {QUILLORY_PASTE_TARGET}));
    ASSERT_TRUE(target.waitForLine("focus 0"));

    // What the user sees in front, as the agent's desktop sees it.
    auto desktop = platform::linux_desktop::openWaylandDesktop();
    ASSERT_TRUE(desktop->canPostEvents());
    const auto front = [&] {
        const auto window = desktop->frontWindow();
        return window ? window->applicationId.value_or("") : std::string();
    };

    // Then switches to the main app, and opens the helper again.
    Program mainApp(onWayland(sway, {QUILLORY_MAIN_APP_STANDIN, "--clip", clip}));
    ASSERT_TRUE(mainApp.waitForLine("clip"));
    ASSERT_EQ(helper->open(session)->waitForEnd(30), "exited 0") << "the reopen goes to the agent";
    ASSERT_TRUE(desktop_test::runUntil([&] { return front() == helper->bundleIdentifier(); }))
        << "the alert is not in front: " << front();
    ASSERT_TRUE(keyboard.press(XKB_KEY_Return));
    EXPECT_TRUE(desktop_test::runUntil([&] { return front() == "me.ombrel.quillory"; }))
        << "Return left the alert up: " << front();

    // The alert was the helper's own window, no paste target: a paste from
    // the main app still goes to the window the user worked in.
    const std::size_t mark = target.lines().size();
    EXPECT_EQ(callOnce("Paste").value, true);
    EXPECT_TRUE(target.waitForLine("focus 0", mark));
    EXPECT_TRUE(target.waitForLine("key 0 v control", mark));
    EXPECT_EQ(ownerOf(bus), agent);
}

}  // namespace
}  // namespace agent_harness
