#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

#include "DesktopTestSupport.h"
#include "LinuxDesktop.h"
#include "LinuxWorkspace.h"
#include "PasteShortcut.h"
#include "X11Desktop.h"
#include "XcbConnection.h"
#include "XcbXkb.h"
#include "platform/Dispatch.h"

using namespace desktop_test;
using platform::linux_desktop::Desktop;
using platform::linux_desktop::FrontWindow;
using platform::linux_desktop::X11Desktop;
using platform::linux_desktop::XcbConnection;

namespace {

// The window manager every test of this program runs with.
WindowManager* windowManager = nullptr;

class X11DesktopTest : public testing::Test {
protected:
    void SetUp() override {
        desktop = platform::linux_desktop::openX11Desktop();
        ASSERT_NE(desktop, nullptr);
    }

    bool frontIs(pid_t pid) {
        auto window = desktop->frontWindow();
        return window && window->pid == pid;
    }
    // The user switches windows; returns once the window manager has made
    // the switch and the desktop has looked at the front, as a paste does.
    void switchTo(const std::string& window) {
        desktop_test::switchTo(window);
        desktop->frontWindow();
    }

    GLibPlatform platform;
    std::unique_ptr<Desktop> desktop;
};

// Posts ⌘V as the paster does: Command down, V down, V up, Command up.
bool postCommandV(platform::KeyboardEvents& keyboard) {
    auto source = keyboard.createSource(platform::eventSourceStateCombinedSessionState);
    if (!source) return false;
    const std::pair<platform::VirtualKeyCode, bool> keys[] = {{55, true}, {9, true}, {9, false}, {55, false}};
    std::vector<std::shared_ptr<platform::KeyboardEvent>> events;
    for (const auto& [code, down] : keys) {
        events.push_back(keyboard.createKeyboardEvent(*source, code, down));
        if (!events.back()) return false;
    }
    for (auto& event : events) {
        keyboard.post(platform::sessionEventTap, *event);
        usleep(8000);
    }
    return true;
}

// A bare top-level window of the test's own, optionally naming a process in
// _NET_WM_PID, as some X clients do and others don't.
class BareWindow {
public:
    explicit BareWindow(pid_t pid) : x_(XcbConnection::open()), window_(xcb_generate_id(x_->raw())) {
        xcb_create_window(x_->raw(), XCB_COPY_FROM_PARENT, window_, x_->root(), 100, 100, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (pid > 0) {
            const auto value = static_cast<std::uint32_t>(pid);
            xcb_change_property(x_->raw(), XCB_PROP_MODE_REPLACE, window_,
                                x_->atom(XcbConnection::Atom::netWmPid), XCB_ATOM_CARDINAL, 32, 1, &value);
        }
        show();
    }

    std::string id() const { return std::to_string(window_); }
    xcb_window_t window() const { return window_; }
    // Whether the window manager has shown the window (it then takes
    // activation requests for it); asks again if not: a window manager
    // still starting up may miss the first request.
    bool show() {
        if (x_->windowExists(window_, true)) return true;
        xcb_map_window(x_->raw(), window_);
        xcb_flush(x_->raw());
        return false;
    }
    // Returns once the server has destroyed it.
    void close() {
        xcb_destroy_window(x_->raw(), window_);
        x_->isAlive();
    }

private:
    std::unique_ptr<XcbConnection> x_;
    xcb_window_t window_;
};

// The server's keyboard layouts, set as a user sets them (setxkbmap), with
// one group in use; plain US again after the test.
class KeyboardLayouts {
public:
    ~KeyboardLayouts() { use("us"); }

    // `group` counts from 0, in the order of `layouts`; without layouts only
    // the group changes, as with the user's layout switch key.
    bool use(const std::string& layouts, const std::string& variants = "", std::uint8_t group = 0) {
        if (!layouts.empty() && run({"setxkbmap", "-layout", layouts, "-variant", variants}) != 0)
            return false;
        xcb_xkb_latch_lock_state(x_->raw(), XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
        return x_->isAlive();
    }

private:
    // Speaks XKB once open.
    std::unique_ptr<XcbConnection> x_ = XcbConnection::open();
};

}  // namespace

TEST_F(X11DesktopTest, TheFrontFollowsSwitchesAndActivationBringsBackTheWindowLastWorkedIn) {
    std::vector<std::optional<FrontWindow>> announced;
    desktop->watchActivations([&] { announced.push_back(desktop->frontWindow()); });
    // What the watcher saw when told, once the switch to `pid` is announced.
    auto announcedAfter = [&](std::size_t count, pid_t pid) {
        runUntil(
            [&] { return announced.size() > count && announced.back() && announced.back()->pid == pid; });
        return announced.empty() ? FrontWindow{} : announced.back().value_or(FrontWindow{});
    };
    Program target({QUILLORY_PASTE_TARGET, "--windows", "2"});
    auto first = target.waitForLine("window 0 ");
    auto second = target.waitForLine("window 1 ");
    Program mainApp({QUILLORY_MAIN_APP_STANDIN});
    auto mainAppWindow = mainApp.waitForLine("window ");
    ASSERT_TRUE(first && second && mainAppWindow);
    ASSERT_EQ(announcedAfter(0, mainApp.pid()).pid, mainApp.pid()) << "the new window in front";

    auto switchAndSee = [&](const std::string& window, pid_t pid) {
        const std::size_t count = announced.size();
        switchTo(windowIdOf(window));
        return announcedAfter(count, pid);
    };
    // The workspace names the front application by its id, else by its
    // executable's bundle, else by its window class; "" for no name.
    platform::linux_platform::LinuxWorkspace workspace(desktop.get(), platform::DispatchQueue::main());
    auto frontApplicationName = [&]() -> std::string {
        const auto application = workspace.frontmostApplication();
        return application ? application->bundleIdentifier().value_or("") : "";
    };
    const FrontWindow targetInFront = switchAndSee(*first, target.pid());
    EXPECT_EQ(targetInFront.applicationId, std::nullopt);
    EXPECT_EQ(targetInFront.windowClass, "Quillory-paste-target");
    EXPECT_EQ(frontApplicationName(), "Quillory-paste-target") << "no id, not in a bundle: its window class";
    const FrontWindow mainAppInFront = switchAndSee(*mainAppWindow, mainApp.pid());
    EXPECT_EQ(mainAppInFront.applicationId, "me.ombrel.quillory");
    EXPECT_EQ(mainAppInFront.windowClass, "Quillory-main-app-standin");
    EXPECT_EQ(frontApplicationName(), "me.ombrel.quillory");

    // A desktop opened now has seen none of the target's windows active.
    auto fresh = platform::linux_desktop::openX11Desktop();
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->activateProcess(target.pid()));
    EXPECT_TRUE(runUntil([&] { return frontIs(target.pid()); }));
    EXPECT_FALSE(fresh->activateProcess(0));
    EXPECT_FALSE(fresh->activateProcess(999999));

    // From the main app the user works in the second window, then the first,
    // then picks a clip in the main app; the second window is raised
    // meanwhile, not activated: the window last worked in comes back, not the
    // topmost.
    switchTo(windowIdOf(*mainAppWindow));
    for (const auto& [window, focus] : {std::pair{*second, "focus 1"}, std::pair{*first, "focus 0"}}) {
        const std::size_t mark = target.lines().size();
        switchTo(windowIdOf(window));
        ASSERT_TRUE(target.waitForLine(focus, mark));
    }
    switchTo(windowIdOf(*mainAppWindow));
    ASSERT_EQ(run({"xdotool", "windowraise", windowIdOf(*second)}), 0);
    ASSERT_TRUE(runUntil([&] { return frontIs(mainApp.pid()); }));
    const std::size_t mark = target.lines().size();
    EXPECT_TRUE(desktop->activateProcess(target.pid()));
    EXPECT_EQ(target.waitForLine("focus ", mark), "focus 0");
}

TEST_F(X11DesktopTest, AWindowWithoutAProcessEndsItsApplicationWhenClosedAProcessOnlyWhenItEnds) {
    platform::linux_platform::LinuxWorkspace workspace(desktop.get(), platform::DispatchQueue::main());
    std::optional<Program> process(std::in_place, std::vector<std::string>{"sleep", "600"});
    BareWindow ofProcess(process->pid());
    BareWindow anonymous(0);
    ASSERT_TRUE(runUntil([&] { return ofProcess.show() && anonymous.show(); }));
    switchTo(ofProcess.id());
    auto withProcess = workspace.frontmostApplication();
    switchTo(anonymous.id());
    auto withoutProcess = workspace.frontmostApplication();
    ASSERT_TRUE(withProcess && withoutProcess);
    ASSERT_EQ(withProcess->processIdentifier(), process->pid());
    ASSERT_EQ(withoutProcess->processIdentifier(), 0);
    EXPECT_FALSE(withProcess->isTerminated());
    EXPECT_FALSE(withoutProcess->isTerminated());

    ofProcess.close();
    anonymous.close();
    EXPECT_TRUE(withoutProcess->isTerminated());
    EXPECT_FALSE(withProcess->isTerminated()) << "its process still runs";
    process.reset();
    EXPECT_TRUE(withProcess->isTerminated());
}

TEST_F(X11DesktopTest, APasteReadsTheFrontTheWindowManagerAnnouncedNeverAClosedWindowNorOneOfAManagerGone) {
    // A desktop on a connection of the test's own, whose waits for the server are counted.
    auto owned = XcbConnection::open();
    ASSERT_NE(owned, nullptr);
    XcbConnection& connection = *owned;
    X11Desktop x11(std::move(owned));
    std::size_t announcements = 0;
    x11.watchActivations([&] { ++announcements; });
    Program first({"sleep", "600"});
    Program second({"sleep", "600"});
    BareWindow firstWindow(first.pid());
    BareWindow secondWindow(second.pid());
    ASSERT_TRUE(runUntil([&] { return firstWindow.show() && secondWindow.show(); }));
    desktop_test::switchTo(firstWindow.id());
    std::size_t count = announcements;
    desktop_test::switchTo(secondWindow.id());
    ASSERT_TRUE(runUntil([&] { return announcements > count; }));

    // The window manager stopped, nothing more is announced; what the server
    // sent meanwhile is read as the agent's main loop would.
    ASSERT_NE(windowManager, nullptr);
    ASSERT_EQ(kill(windowManager->pid(), SIGSTOP), 0);
    struct Resume {
        ~Resume() { kill(windowManager->pid(), SIGCONT); }
    } resume;
    ASSERT_TRUE(connection.isAlive());
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    const std::uint64_t awaited = connection.answersAwaited();
    for (int paste = 0; paste < 3; ++paste) {
        const auto front = x11.frontWindow();
        EXPECT_TRUE(front && front->pid == second.pid());
    }
    EXPECT_EQ(connection.answersAwaited(), awaited) << "a paste waited for the server";

    // Another window manager takes over and names the first window, then
    // goes: its word no longer stands, the focus (still on the second) does.
    auto other = XcbConnection::open();
    ASSERT_NE(other, nullptr);
    const xcb_atom_t checkAtom = other->atom(XcbConnection::Atom::netSupportingWmCheck);
    const xcb_atom_t activeAtom = other->atom(XcbConnection::Atom::netActiveWindow);
    const auto openboxCheck = other->cardinals(other->root(), checkAtom, XCB_ATOM_WINDOW);
    ASSERT_TRUE(openboxCheck && openboxCheck->size() == 1);
    const auto setWindowProperty = [&](xcb_window_t window, xcb_atom_t property, xcb_window_t value) {
        xcb_change_property(other->raw(), XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_WINDOW, 32, 1,
                            &value);
    };
    const xcb_window_t check = xcb_generate_id(other->raw());
    xcb_create_window(other->raw(), XCB_COPY_FROM_PARENT, check, other->root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    setWindowProperty(check, checkAtom, check);
    setWindowProperty(other->root(), checkAtom, check);
    count = announcements;
    setWindowProperty(other->root(), activeAtom, firstWindow.window());
    ASSERT_TRUE(other->isAlive());
    ASSERT_TRUE(runUntil([&] { return announcements > count; }));
    const auto named = x11.frontWindow();
    EXPECT_TRUE(named && named->pid == first.pid());
    xcb_destroy_window(other->raw(), check);
    ASSERT_TRUE(other->isAlive());
    ASSERT_TRUE(connection.isAlive());
    const auto withoutIt = x11.frontWindow();
    EXPECT_TRUE(withoutIt && withoutIt->pid == second.pid())
        << "the word of a window manager gone still stands";
    // Openbox's word again.
    setWindowProperty(other->root(), checkAtom, (*openboxCheck)[0]);
    count = announcements;
    setWindowProperty(other->root(), activeAtom, secondWindow.window());
    ASSERT_TRUE(other->isAlive());
    ASSERT_TRUE(runUntil([&] { return announcements > count; }));

    // The front window closes; the window manager has not said anything yet.
    // Its destruction has reached the desktop's connection, unread.
    secondWindow.close();
    ASSERT_TRUE(connection.isAlive());
    const auto afterClosing = x11.frontWindow();
    EXPECT_FALSE(afterClosing && afterClosing->pid == second.pid()) << "the closed window is still known";
}

TEST_F(X11DesktopTest, ControlVPastesIntoAGtkFieldWhateverTheLayoutsAndTheGroupInUse) {
    KeyboardLayouts layouts;
    Program target({QUILLORY_PASTE_TARGET});
    Program mainApp({QUILLORY_MAIN_APP_STANDIN, "--clip", "Clip"});
    auto targetWindow = target.waitForLine("window 0 ");
    auto mainAppWindow = mainApp.waitForLine("window ");
    ASSERT_TRUE(targetWindow && mainAppWindow && mainApp.waitForLine("clip"));
    // The user changes layouts, picks a clip in the main app and comes back
    // to the field. Before the paste the desktop handles what the server
    // told it meanwhile, as in the agent's main loop: the new layouts too.
    auto backToTheField = [&] {
        switchTo(windowIdOf(*mainAppWindow));
        const std::size_t mark = target.lines().size();
        switchTo(windowIdOf(*targetWindow));
        ASSERT_TRUE(target.waitForLine("focus 0", mark));
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    };

    // Layouts, their variants, the group in use and what the key pressed
    // types in that group, as GTK names it.
    const std::tuple<std::string, std::string, std::uint8_t, std::string> sets[] = {
        {"ru,us", "", 0, "Cyrillic_em"},  // no v in the group in use: the key of v in another
        {"us,ru", "", 1, "Cyrillic_em"},  // a Latin layout first, the other in use
        {"us", "dvorak", 0, "v"},         // v where QWERTY has k
        {"us,us", ",dvorak", 1, "v"},     // the same, in the group in use only
        {"", "", 0, "v"},                 // back to the first group, the layouts unchanged
    };
    for (const auto& [names, variants, group, typed] : sets) {
        SCOPED_TRACE(names + "(" + variants + ") group " + std::to_string(group));
        ASSERT_TRUE(layouts.use(names, variants, group));
        backToTheField();
        const std::size_t mark = target.lines().size();
        ASSERT_TRUE(postCommandV(desktop->keyboardEvents()));
        // Control alone: with Shift it would be a shortcut the field does not take.
        EXPECT_EQ(target.waitForLine("key 0 " + typed + " ", mark), "key 0 " + typed + " control");
        auto text = target.waitForLine("text 0 ", mark);
        EXPECT_TRUE(text && text->ends_with("Clip"));
        EXPECT_EQ(keysDown(), 0);
    }
    EXPECT_NE(std::find(platform.logLines.begin(), platform.logLines.end(),
                        "desktop: Pasting with ctrl+v into Quillory-paste-target."),
              platform.logLines.end());

    // Without any layout that has a v there is no key to press.
    ASSERT_TRUE(layouts.use("ru"));
    backToTheField();
    EXPECT_FALSE(postCommandV(desktop->keyboardEvents()));
}

TEST_F(X11DesktopTest,
       AnOverrideTurnsOneApplicationToShiftInsertAsTheUserSwitchesAndAMalformedOneChangesNothing) {
    // The session's own configuration, never a file of the user's.
    const std::string overrides = platform::linux_desktop::PasteShortcuts::defaultOverrideFile();
    ASSERT_TRUE(g_str_has_prefix(overrides.c_str(), g_getenv("XDG_CONFIG_HOME")));
    ASSERT_FALSE(g_file_test(overrides.c_str(), G_FILE_TEST_EXISTS));
    g_autofree gchar* folder = g_path_get_dirname(overrides.c_str());
    ASSERT_EQ(g_mkdir_with_parents(folder, 0700), 0);
    struct Removal {
        const std::string& path;
        ~Removal() { g_remove(path.c_str()); }
    } removal{overrides};
    const auto writeOverrides = [&](const std::string& text) {
        return g_file_set_contents(overrides.c_str(), text.c_str(), static_cast<gssize>(text.size()),
                                   nullptr);
    };

    // Two applications with a field each, told apart by their window class.
    Program target({QUILLORY_PASTE_TARGET});
    Program notes({QUILLORY_PASTE_TARGET, "--class", "Notes"});
    Program mainApp({QUILLORY_MAIN_APP_STANDIN, "--clip", "Clip"});
    auto targetWindow = target.waitForLine("window 0 ");
    auto notesWindow = notes.waitForLine("window 0 ");
    auto mainAppWindow = mainApp.waitForLine("window ");
    ASSERT_TRUE(targetWindow && notesWindow && mainAppWindow && mainApp.waitForLine("clip"));
    ASSERT_TRUE(writeOverrides("[Paste Shortcuts]\nquillory-paste-target=shift+insert\nlxterminal=ctrl+v\n"));

    // The user picks a clip in the main app, goes to a field and pastes; the
    // desktop hears of each switch only as the window manager announces it.
    // The line of the key pressed with its modifiers.
    auto pasteIn = [&](Program& program, const std::string& window, const std::string& key) {
        desktop_test::switchTo(windowIdOf(*mainAppWindow));
        const std::size_t mark = program.lines().size();
        desktop_test::switchTo(windowIdOf(window));
        if (!program.waitForLine("focus 0", mark) || !postCommandV(desktop->keyboardEvents()))
            return std::string();
        EXPECT_TRUE(program.waitForLine("text 0 ", mark).value_or("").ends_with("Clip"));
        return program.waitForLine("key 0 " + key + " ", mark).value_or("");
    };
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(pasteIn(target, *targetWindow, "Insert"), "key 0 Insert shift");
        EXPECT_EQ(keysDown(), 0) << "Shift left pressed";
        EXPECT_EQ(pasteIn(notes, *notesWindow, "v"), "key 0 v control");
    }
    EXPECT_NE(std::find(platform.logLines.begin(), platform.logLines.end(),
                        "desktop: Pasting with shift+insert into Quillory-paste-target, as the user's paste "
                        "shortcuts say."),
              platform.logLines.end());
    EXPECT_NE(std::find(platform.logLines.begin(), platform.logLines.end(),
                        "desktop: Pasting with ctrl+v into Notes."),
              platform.logLines.end());

    // A line that is no entry spoils the file: it is logged once, and the
    // pastes go on as without it.
    ASSERT_TRUE(writeOverrides("[Paste Shortcuts]\nquillory-paste-target=shift+insert\nlxterminal ctrl+v\n"));
    for (int paste = 0; paste < 2; ++paste) EXPECT_EQ(pasteIn(target, *targetWindow, "v"), "key 0 v control");
    EXPECT_EQ(std::count_if(platform.logLines.begin(), platform.logLines.end(),
                            [&](const std::string& line) {
                                return line.starts_with("desktop: Ignoring the paste shortcuts in " +
                                                        overrides + ": line 3 “lxterminal ctrl+v”");
                            }),
              1);
}

namespace {

// Every test of this program runs with a window manager.
class WindowManagerEnvironment : public testing::Environment {
public:
    void SetUp() override {
        windowManager_ = std::make_unique<WindowManager>();
        windowManager = windowManager_.get();
    }
    void TearDown() override {
        windowManager = nullptr;
        windowManager_.reset();
    }

private:
    std::unique_ptr<WindowManager> windowManager_;
};

[[maybe_unused]] testing::Environment* const windowManagerEnvironment =
    testing::AddGlobalTestEnvironment(new WindowManagerEnvironment);

}  // namespace
