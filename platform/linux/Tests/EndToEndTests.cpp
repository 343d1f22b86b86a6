// The helper at work: the bundle of the build, installed into the session's
// $HOME/Applications, registered, started by the bus, uninstalled and
// replaced, as a user and the main app would do it.

#include <plist/plist.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "LinuxLog.h"
#include "LinuxTestSupport.h"
#include "LoginItems.h"
#include "Processes.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;
using linux_test::readText;
using linux_test::setBundleIdentifier;
using linux_test::waitUntil;
using linux_test::Watched;

constexpr const char* serviceName = "_7RVD2LMQ5X.me.ombrel.quillory.autopaste";
constexpr const char* servicePath = "/me/ombrel/quillory/autopaste";
constexpr const char* serviceInterface = "me.ombrel.quillory.AutoPasteHelperXPC";

struct Finished {
    int status = -1;  // exit status; -1 when it did not exit in time
    std::string out;
    std::string err;
};

// Runs a program to its end (at most `seconds`), with extra environment.
Finished run(const std::vector<std::string>& arguments,
             const std::map<std::string, std::string>& environment = {}, double seconds = 20) {
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE));
    for (const auto& [name, value] : environment)
        g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    std::vector<const char*> argv;
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    GSubprocess* process = g_subprocess_launcher_spawnv(launcher, argv.data(), &error);
    g_object_unref(launcher);
    Finished finished;
    if (process == nullptr) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
        return finished;
    }
    struct Outcome {
        bool done = false;
        gchar* out = nullptr;
        gchar* err = nullptr;
    } outcome;
    g_subprocess_communicate_utf8_async(
        process, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* outcome = static_cast<Outcome*>(data);
            g_subprocess_communicate_utf8_finish(G_SUBPROCESS(source), result, &outcome->out, &outcome->err,
                                                 nullptr);
            outcome->done = true;
        },
        &outcome);
    if (!waitUntil([&] { return outcome.done; }, seconds)) {
        ADD_FAILURE() << arguments.front() << " did not end within " << seconds << " s";
        g_subprocess_force_exit(process);
        waitUntil([&] { return outcome.done; });
    }
    g_subprocess_wait(process, nullptr, nullptr);
    if (g_subprocess_get_if_exited(process)) finished.status = g_subprocess_get_exit_status(process);
    finished.out = outcome.out != nullptr ? outcome.out : "";
    finished.err = outcome.err != nullptr ? outcome.err : "";
    g_free(outcome.out);
    g_free(outcome.err);
    g_object_unref(process);
    return finished;
}

// What the main app does: call the service with gdbus.
std::string call(const std::string& method) {
    const auto finished = run({"gdbus", "call", "--session", "--dest", serviceName, "--object-path",
                               servicePath, "--method", std::string(serviceInterface) + "." + method});
    return finished.out + finished.err;
}

// dbus-monitor, watching the helper's notifications; counts them by name.
class Monitor {
public:
    Monitor() {
        GError* error = nullptr;
        process_ = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, &error, "dbus-monitor", "--session",
                                    "type='signal',interface='me.ombrel.quillory.helper'", nullptr);
        if (process_ == nullptr) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return;
        }
        lines_ = g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_));
        readLine();
        // Once a monitor, it hears the bus take its name away.
        EXPECT_TRUE(waitUntil([&] { return isReady_; })) << "dbus-monitor did not start";
    }
    ~Monitor() {
        if (process_ == nullptr) return;
        g_subprocess_force_exit(process_);
        waitUntil([&] { return isClosed_; });
        g_subprocess_wait(process_, nullptr, nullptr);
        g_object_unref(lines_);
        g_object_unref(process_);
    }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    int count(const std::string& member) { return heard_[member]; }

private:
    void readLine() {
        g_data_input_stream_read_line_async(
            lines_, G_PRIORITY_DEFAULT, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* self = static_cast<Monitor*>(data);
                gchar* line = g_data_input_stream_read_line_finish_utf8(G_DATA_INPUT_STREAM(source), result,
                                                                        nullptr, nullptr);
                if (line == nullptr) {
                    self->isClosed_ = true;
                    return;
                }
                self->take(line);
                g_free(line);
                self->readLine();
            },
            this);
    }
    void take(const std::string& line) {
        if (line.find("member=NameLost") != std::string::npos) isReady_ = true;
        const std::string prefix = "interface=me.ombrel.quillory.helper; member=";
        if (const auto at = line.find(prefix); at != std::string::npos)
            ++heard_[line.substr(at + prefix.size())];
    }

    GSubprocess* process_ = nullptr;
    GDataInputStream* lines_ = nullptr;
    bool isReady_ = false;
    bool isClosed_ = false;
    std::map<std::string, int> heard_;
};

class HelperEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus, nullptr);
        app = std::string(g_getenv("HOME")) + "/Applications/Quillory Helper.app";
        executable = app + "/Contents/MacOS/Quillory Helper";
        fs::create_directories(fs::path(app).parent_path());
        fs::copy(QUILLORY_BUNDLE_DIR, app, fs::copy_options::recursive);
        // Other sessions of this user on the machine may run the helper
        // too: a bundle identifier of its own keeps their agents out of
        // reach of this test's set-ups, and this test's out of theirs.
        setBundleIdentifier(app + "/Contents/Info.plist", bundleIdentifier);
        monitor = std::make_unique<Monitor>();
    }

    void TearDown() override {
        // Every agent and set-up of this bundle ends with the test.
        for (const ProcessIdentifier pid : processesOfBundle(bundleIdentifier)) {
            Watched process(pid);
            ::kill(pid, SIGKILL);
            waitUntil([&] { return process.hasEnded(); });
        }
        // And nothing of it stays installed or registered.
        std::error_code ignored;
        fs::remove_all(app, ignored);
        fs::remove(activationFilePath(serviceName), ignored);
        fs::remove(autostartFilePath("me.ombrel.quillory.autopastehelper.agent"), ignored);
        monitor.reset();
        g_object_unref(bus);
    }

    // Opening the helper the ordinary way.
    Finished open(const std::map<std::string, std::string>& environment = {}) {
        return run({executable}, environment);
    }

    // The agent that owns the service now, if any.
    std::optional<ProcessIdentifier> agent() {
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "GetConnectionUnixProcessID", g_variant_new("(s)", serviceName), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (reply == nullptr) return std::nullopt;
        guint32 pid = 0;
        g_variant_get(reply, "(u)", &pid);
        g_variant_unref(reply);
        return static_cast<ProcessIdentifier>(pid);
    }

    // Waits until `count` didStart signals have come and an agent serves.
    ProcessIdentifier agentAfterStart(int count) {
        EXPECT_TRUE(waitUntil([&] { return monitor->count("didStart") >= count && agent(); }))
            << "no agent started";
        return agent().value_or(0);
    }

    static bool logsToStandardError() { return LinuxLog::available() == LinuxLog::Destination::stream; }

    const std::string bundleIdentifier =
        "me.ombrel.quillory.autopastehelper.test" + std::to_string(::getpid());
    GDBusConnection* bus = nullptr;
    std::string app;
    std::string executable;
    std::unique_ptr<Monitor> monitor;
};

TEST_F(HelperEndToEnd, SetUpRegistersTheAgentWhichTheBusStartsOnDemand) {
    const auto setUp = open();
    EXPECT_EQ(setUp.status, 0) << setUp.err;
    EXPECT_EQ(setUp.err.find(":alert "), std::string::npos) << setUp.err;
    if (logsToStandardError()) {
        EXPECT_NE(setUp.err.find("Registered the agent."), std::string::npos) << setUp.err;
    }
    EXPECT_TRUE(fs::exists(activationFilePath(serviceName)));
    EXPECT_TRUE(fs::exists(autostartFilePath("me.ombrel.quillory.autopastehelper.agent")));

    // Registering started the agent at once.
    const ProcessIdentifier first = agentAfterStart(1);
    Watched firstAgent(first);
    EXPECT_EQ(executableOfProcess(first), executable);
    ::kill(first, SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return firstAgent.hasEnded(); }));

    // The next request starts it again, through the activation file.
    EXPECT_EQ(call("Ping"), "(true,)\n");
    const ProcessIdentifier second = agentAfterStart(2);
    EXPECT_NE(second, first);
    EXPECT_EQ(monitor->count("willStop"), 0);
}

TEST_F(HelperEndToEnd, RemovingTheBundleUninstallsTheAgentAtTheNextRequest) {
    ASSERT_EQ(open().status, 0);
    Watched agentProcess(agentAfterStart(1));
    fs::remove_all(app);

    EXPECT_EQ(call("Ping"), "(false,)\n");
    // Once when the uninstall begins, once when the agent terminates.
    EXPECT_TRUE(waitUntil([&] { return monitor->count("willStop") == 2; })) << monitor->count("willStop");
    EXPECT_TRUE(waitUntil([&] { return agentProcess.hasEnded(); }));
    EXPECT_FALSE(fs::exists(activationFilePath(serviceName)));
    EXPECT_FALSE(fs::exists(autostartFilePath("me.ombrel.quillory.autopastehelper.agent")));
}

TEST_F(HelperEndToEnd, ASetUpWhileTheAgentRunsStopsItAndRegistersItAgain) {
    ASSERT_EQ(open().status, 0);
    const ProcessIdentifier first = agentAfterStart(1);
    Watched firstAgent(first);

    // What `open -n` does on macOS: a new instance, even though one runs.
    const auto setUp = open({{"QUILLORY_NEW_INSTANCE", "1"}});
    EXPECT_EQ(setUp.status, 0) << setUp.err;
    if (logsToStandardError()) {
        EXPECT_NE(setUp.err.find("Stopping the running agent, pid " + std::to_string(first)),
                  std::string::npos)
            << setUp.err;
        EXPECT_NE(setUp.err.find("Reloaded the agent."), std::string::npos) << setUp.err;
    }
    EXPECT_TRUE(waitUntil([&] { return firstAgent.hasEnded(); }));
    const ProcessIdentifier second = agentAfterStart(2);
    EXPECT_NE(second, first);
    EXPECT_EQ(call("Ping"), "(true,)\n");
}

TEST_F(HelperEndToEnd, OpeningAgainReachesTheAgentAndHandsOverToAReplacedCopy) {
    ASSERT_EQ(open().status, 0);
    const ProcessIdentifier first = agentAfterStart(1);
    Watched firstAgent(first);

    // Unchanged: the opened process hands the reopen to the agent and ends;
    // the agent keeps serving.
    const auto reopened = open();
    EXPECT_EQ(reopened.status, 0) << reopened.err;
    if (logsToStandardError()) {
        EXPECT_EQ(reopened.err.find("Registered"), std::string::npos) << reopened.err;
    }
    EXPECT_EQ(call("Ping"), "(true,)\n");
    EXPECT_EQ(agent(), first);

    // A new version installed over the old one, then opened.
    fs::copy_file(std::string(QUILLORY_BUNDLE_DIR) + "/Contents/MacOS/Quillory Helper", executable + ".new");
    fs::rename(executable + ".new", executable);
    const auto opened = open();
    EXPECT_EQ(opened.status, 0) << opened.err;

    EXPECT_TRUE(waitUntil([&] { return firstAgent.hasEnded(); }));
    // It ended in order: it announced it.
    EXPECT_TRUE(waitUntil([&] { return monitor->count("willStop") == 1; }));
    const ProcessIdentifier second = agentAfterStart(2);
    EXPECT_NE(second, first);
    struct stat running = {};
    struct stat installed = {};
    ASSERT_EQ(::stat(("/proc/" + std::to_string(second) + "/exe").c_str(), &running), 0);
    ASSERT_EQ(::stat(executable.c_str(), &installed), 0);
    EXPECT_EQ(running.st_ino, installed.st_ino);
    EXPECT_EQ(call("Ping"), "(true,)\n");
}

}  // namespace
}  // namespace platform::linux_platform
