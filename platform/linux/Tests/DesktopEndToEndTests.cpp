// The helper at work on a desktop: the bundle of the build installed into the
// session's $HOME/Applications, its agent started by the bus on the session's
// own X display (with openbox), pasting into a window the user worked in and
// answering a second opening with its dialog, as the user sees it.

#include <atspi/atspi-constants.h>
#include <gio/gio.h>

#include <gtest/gtest.h>

#include <optional>

#include "AgentHarness.h"
#include "Processes.h"
#include "desktop/Tests/DesktopTestSupport.h"

namespace {

using namespace agent_harness;
using desktop_test::Program;
using desktop_test::runUntil;
using desktop_test::switchTo;
using desktop_test::windowIdOf;

const std::string clip = "Clip from Quillory: Grüße, 42";

// A dialog of another process as it is on screen, read through the
// accessibility bus: what the user reads and can press.
struct ShownAlert {
    std::vector<std::string> texts;    // top to bottom
    std::vector<std::string> buttons;  // left to right
    std::string defaultButton;         // the one Return presses
    bool isActive = false;             // the window that has the keyboard
    std::string executable;            // of the process that shows it
};

// The accessibility bus (AT-SPI), as a screen reader sees the desktop: read
// with plain calls, with none of a client library's event handling.
class Accessibility {
public:
    explicit Accessibility(GDBusConnection* session) {
        // Starts the bus if no application has yet.
        g_autoptr(GVariant) address = g_dbus_connection_call_sync(
            session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
            G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, timeout, nullptr, nullptr);
        const gchar* text = nullptr;
        if (address != nullptr) g_variant_get(address, "(&s)", &text);
        bus_ = text != nullptr ? linux_test::newBusPeer(text) : nullptr;
        if (bus_ == nullptr) ADD_FAILURE() << "no accessibility bus";
    }
    ~Accessibility() {
        if (bus_ != nullptr) {
            g_dbus_connection_close_sync(bus_, nullptr, nullptr);
            g_object_unref(bus_);
        }
    }
    Accessibility(const Accessibility&) = delete;
    Accessibility& operator=(const Accessibility&) = delete;

    // The alert on screen that the process shows, itself or through a
    // process it started, if any.
    std::optional<ShownAlert> alertOf(pid_t pid) {
        for (const Object& application : childrenOf({"org.a11y.atspi.Registry", rootPath})) {
            const auto process = processOf(application.name);
            if (!process || (*process != pid && desktop_test::parentOf(*process) != pid)) continue;
            for (const Object& window : childrenOf(application)) {
                if (roleOf(window) != ATSPI_ROLE_ALERT || !hasState(window, ATSPI_STATE_SHOWING)) continue;
                ShownAlert shown;
                shown.isActive = hasState(window, ATSPI_STATE_ACTIVE);
                shown.executable = platform::linux_platform::executableOfProcess(*process).value_or("");
                collect(window, shown);
                return shown;
            }
        }
        return std::nullopt;
    }

    // Of the registry, the one that keeps the list of applications, say.
    std::optional<pid_t> processOf(const std::string& name) {
        return number({"org.freedesktop.DBus", "/org/freedesktop/DBus"}, "org.freedesktop.DBus",
                      "GetConnectionUnixProcessID", g_variant_new("(s)", name.c_str()));
    }

private:
    struct Object {
        std::string name;  // on the accessibility bus
        std::string path;
    };
    static constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
    static constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
    static constexpr int timeout = 5000;

    // The reply's one value, or null when the object went away meanwhile.
    GVariant* call(const Object& object, const char* interface, const char* method, GVariant* arguments,
                   const char* replyType) {
        if (bus_ == nullptr) return nullptr;
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            bus_, object.name.c_str(), object.path.c_str(), interface, method, arguments,
            G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, timeout, nullptr, nullptr);
        return reply != nullptr ? g_variant_get_child_value(reply, 0) : nullptr;
    }

    std::vector<Object> childrenOf(const Object& object) {
        std::vector<Object> children;
        g_autoptr(GVariant) list = call(object, accessibleInterface, "GetChildren", nullptr, "(a(so))");
        GVariantIter iterator;
        if (list != nullptr) g_variant_iter_init(&iterator, list);
        const gchar* name = nullptr;
        const gchar* path = nullptr;
        while (list != nullptr && g_variant_iter_next(&iterator, "(&s&o)", &name, &path))
            children.push_back({name, path});
        return children;
    }

    // A method's one number, if it answered.
    std::optional<guint32> number(const Object& object, const char* interface, const char* method,
                                  GVariant* arguments = nullptr) {
        g_autoptr(GVariant) value = call(object, interface, method, arguments, "(u)");
        return value != nullptr ? std::optional(g_variant_get_uint32(value)) : std::nullopt;
    }

    guint32 roleOf(const Object& object) {
        return number(object, accessibleInterface, "GetRole").value_or(ATSPI_ROLE_INVALID);
    }

    // The states come as bits: state n is bit n % 32 of word n / 32.
    bool hasState(const Object& object, AtspiStateType state) {
        g_autoptr(GVariant) words = call(object, accessibleInterface, "GetState", nullptr, "(au)");
        if (words == nullptr) return false;
        gsize count = 0;
        const auto* bits =
            static_cast<const guint32*>(g_variant_get_fixed_array(words, &count, sizeof(guint32)));
        const gsize word = state / 32;
        return word < count && (bits[word] & (1u << (state % 32))) != 0;
    }

    std::string nameOf(const Object& object) {
        g_autoptr(GVariant) name = call(object, "org.freedesktop.DBus.Properties", "Get",
                                        g_variant_new("(ss)", accessibleInterface, "Name"), "(v)");
        g_autoptr(GVariant) text = name != nullptr ? g_variant_get_variant(name) : nullptr;
        return text != nullptr && g_variant_is_of_type(text, G_VARIANT_TYPE_STRING)
                   ? g_variant_get_string(text, nullptr)
                   : "";
    }

    // The texts and buttons inside, in the order of the widget tree: top to
    // bottom, left to right.
    void collect(const Object& object, ShownAlert& shown) {
        for (const Object& child : childrenOf(object)) {
            const guint32 role = roleOf(child);
            if (role == ATSPI_ROLE_LABEL) {
                shown.texts.push_back(nameOf(child));
            } else if (role == ATSPI_ROLE_PUSH_BUTTON) {
                shown.buttons.push_back(nameOf(child));
                if (hasState(child, ATSPI_STATE_IS_DEFAULT)) shown.defaultButton = shown.buttons.back();
            } else {
                collect(child, shown);
            }
        }
    }

    GDBusConnection* bus_ = nullptr;
};

class HelperOnTheDesktop : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(windowManager.isRunning());
        // The test's own windows need no accessibility; the agent, started
        // by the bus with the session's environment, still has it.
        g_setenv("NO_AT_BRIDGE", "1", TRUE);
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus, nullptr);
        helper = std::make_unique<InstalledHelper>();
    }

    void TearDown() override {
        helper.reset();
        // So does the accessibility bus that its dialog started: the
        // registry on it, then the launcher, which ends the bus itself.
        if (auto launcher = ownerOf(bus, "org.a11y.Bus")) {
            if (auto registry = Accessibility(bus).processOf("org.a11y.atspi.Registry"))
                endProcess(*registry);
            endProcess(*launcher);
        }
        if (bus != nullptr) g_object_unref(bus);
    }

    // The user opens the helper from $HOME/Applications.
    bool open() { return helper->open()->waitForEnd(30) == "exited 0"; }

    // The first opening: the set-up registers the agent and the bus starts
    // it. Its process, once it has announced itself.
    pid_t startAgent() {
        Notifications notifications(bus);
        EXPECT_TRUE(open());
        return waitForAgent(bus, notifications);
    }

    // Opens the helper again while its agent runs: the dialog it shows, read
    // once it has the keyboard, answered with a real press of Return.
    std::optional<ShownAlert> reopenAndPressReturn(pid_t agent) {
        Accessibility accessibility(bus);
        EXPECT_TRUE(open()) << "the opened process hands the reopen to the agent and ends";
        std::optional<ShownAlert> shown;
        const bool inFront = runUntil([&] {
            shown = accessibility.alertOf(agent);
            return shown && shown->isActive;
        });
        if (!inFront) {
            ADD_FAILURE() << (shown ? "the dialog did not get the keyboard" : "no dialog");
            return shown;
        }
        // Through XTest, as a keyboard does; GTK ignores events sent to a window.
        EXPECT_EQ(desktop_test::run({"xdotool", "key", "Return"}), 0);
        EXPECT_TRUE(runUntil([&] { return !accessibility.alertOf(agent); })) << "Return left the dialog up";
        return shown;
    }

    desktop_test::WindowManager windowManager;
    GDBusConnection* bus = nullptr;
    std::unique_ptr<InstalledHelper> helper;
};

}  // namespace

TEST_F(HelperOnTheDesktop, PastesWhereTheUserWorksAndOpenedAgainShowsThatItIsOnUntilReturnIsPressed) {
    Program mainApp({QUILLORY_MAIN_APP_STANDIN, "--clip", clip});
    auto mainAppWindow = mainApp.waitForLine("window ");
    ASSERT_TRUE(mainAppWindow && mainApp.waitForLine("clip"));
    // The user works in a window while the agent starts.
    Program target({QUILLORY_PASTE_TARGET});
    auto targetWindow = target.waitForLine("window 0 ");
    ASSERT_TRUE(targetWindow);
    switchTo(windowIdOf(*targetWindow));
    ASSERT_TRUE(target.waitForLine("focus 0"));
    const pid_t agent = startAgent();
    ASSERT_NE(agent, 0);

    std::size_t mark = target.lines().size();
    EXPECT_EQ(callOnce("Paste").value, true);
    EXPECT_TRUE(target.waitForLine("key 0 v control", mark));
    EXPECT_EQ(target.waitForLine("text 0 ", mark), "text 0 " + clip);

    // Then picks a clip in the main app, which is in front when it asks:
    // the window the user worked in comes back and gets the paste.
    switchTo(windowIdOf(*mainAppWindow));
    mark = target.lines().size();
    EXPECT_EQ(callOnce("Paste").value, true);
    EXPECT_TRUE(target.waitForLine("focus 0", mark)) << "the window was not brought back";
    // A keystroke goes to the one window with the keyboard: this one, not the main app.
    EXPECT_TRUE(target.waitForLine("key 0 v control", mark));
    EXPECT_TRUE(target.waitForLine("text 0 ", mark).value_or("").ends_with(clip));

    // Opened again, it says that it is on.
    const auto shown = reopenAndPressReturn(agent);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->texts,
              (std::vector<std::string>{
                  "Quillory Helper is on",
                  "It pastes the clip you pick in Quillory into the app you were using. To turn "
                  "Auto-Paste off, use the Auto-Paste switch in Quillory → Settings → General."}));
    // The first button, the default one, stands at the right.
    EXPECT_EQ(shown->buttons, (std::vector<std::string>{"Open Login Items", "OK"}));
    EXPECT_EQ(shown->defaultButton, "OK");
    // Drawn by the installed bundle's own alert program, not the build's.
    EXPECT_EQ(shown->executable, helper->bundle() + "/Contents/Libexec/QuilloryAlert");
    // The agent itself never loads GTK, which would stay in it after the alert.
    EXPECT_EQ(linux_test::readText("/proc/" + std::to_string(agent) + "/maps").find("libgtk-3"),
              std::string::npos);

    // The agent goes on serving, the same process.
    EXPECT_EQ(callOnce("Ping").value, true);
    EXPECT_EQ(ownerOf(bus), agent);
    // And says it again at the next opening.
    EXPECT_TRUE(reopenAndPressReturn(agent));
}

// A terminal emulator takes Control+V as a character of its own: the clip
// reaches the shell's prompt with the terminal's Control+Shift+V.
TEST_F(HelperOnTheDesktop, PastesIntoATerminalAtTheShellsPrompt) {
    // The clip's newline ends the line that the shell reads.
    const std::string line = "echo " + clip;
    Program mainApp({QUILLORY_MAIN_APP_STANDIN, "--clip", line + "\n"});
    ASSERT_TRUE(mainApp.waitForLine("window ") && mainApp.waitForLine("clip"));
    const auto reader = linux_test::writeLineReader();
    Program terminal({"lxterminal", "--no-remote", "-e", "sh " + reader.script});
    ASSERT_TRUE(runUntil([&] { return g_file_test(reader.ready.c_str(), G_FILE_TEST_EXISTS); }, 30));
    const auto window = desktop_test::windowOfProcess(terminal.pid());
    ASSERT_TRUE(window);
    switchTo(*window);
    ASSERT_NE(startAgent(), 0);

    EXPECT_EQ(callOnce("Paste").value, true);
    EXPECT_TRUE(runUntil([&] { return g_file_test(reader.typed.c_str(), G_FILE_TEST_EXISTS); }, 30))
        << "nothing reached the prompt";
    EXPECT_EQ(linux_test::readText(reader.typed), line);
    EXPECT_EQ(desktop_test::keysDown(), 0) << "Shift or Control left pressed";
}

// Runs in a session whose environment has LANGUAGE=de: the bus hands it to
// the agent it starts.
TEST_F(HelperOnTheDesktop, AGermanSessionSeesTheDialogInGerman) {
    ASSERT_STREQ(g_getenv("LANGUAGE"), "de");
    const pid_t agent = startAgent();
    ASSERT_NE(agent, 0);

    const auto shown = reopenAndPressReturn(agent);
    ASSERT_TRUE(shown);
    EXPECT_EQ(
        shown->texts,
        (std::vector<std::string>{
            "Quillory Helper ist eingeschaltet",
            "Es setzt den Clip, den du in Quillory auswählst, in die App ein, die du zuletzt benutzt hast. "
            "Um Auto-Paste auszuschalten, verwende den Schalter „Auto-Paste“ in Quillory → Einstellungen → "
            "Allgemein."}));
    EXPECT_EQ(shown->buttons, (std::vector<std::string>{"Anmeldeobjekte öffnen", "OK"}));
}
