#pragma once

// The real agent, driven as the user and the main app drive it: the bundle
// of the build installed into the session's $HOME/Applications, processes
// the test starts and reaps itself (exit status, CPU time, log), the
// helper's notifications, and clients of its service that see every answer.

#include <gio/gio.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LinuxTestSupport.h"

namespace agent_harness {

using linux_test::waitUntil;
using Environment = std::map<std::string, std::string>;

inline constexpr const char* serviceName = "_7RVD2LMQ5X.me.ombrel.quillory.autopaste";
inline constexpr const char* servicePath = "/me/ombrel/quillory/autopaste";
inline constexpr const char* serviceInterface = "me.ombrel.quillory.AutoPasteHelperXPC";

// Whether the helper's processes log to standard error (where the test
// reads it) rather than to the journal.
bool logsToStandardError();
// The process that owns `name` on `bus`, if any.
std::optional<pid_t> ownerOf(GDBusConnection* bus, const char* name = serviceName);

// Ends a process that the bus started, not the test: asked first, it must.
void endProcess(pid_t pid);

// What the kernel says about a running process.
struct Usage {
    int descriptors = 0;
    long residentKiB = 0;
    int threads = 0;
    double cpuSeconds = 0;
};

// A process started by the test and reaped by it; its standard output and
// error go to a log file of its own, and a sanitizer report there fails
// the test.
class Child {
public:
    explicit Child(const std::vector<std::string>& arguments, const Environment& environment = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Reaps the process once it has ended. (Ending the object kills it if
    // it still runs.)
    bool isRunning();
    // "running", "exited 0", "killed by TERM"; running the default main
    // context meanwhile, it waits up to `seconds` for the end.
    std::string waitForEnd(double seconds = 0);
    std::string log() const;
    int count(const std::string& text) const;  // in the log
    Usage usage() const;
    double cpuSeconds() const;  // of its whole life, once it has ended

private:
    gchar* logPath_ = nullptr;
    pid_t pid_ = -1;
    std::optional<int> status_;
    rusage usage_{};
};

// The helper's bundle from the build, copied into $HOME/Applications with a
// bundle identifier of its own: set-ups stop every process of their bundle
// identifier, and other tests on this machine run the helper too. Every
// process of it ends with it, also those the bus started, and nothing of it
// stays installed or registered.
class InstalledHelper {
public:
    InstalledHelper();
    ~InstalledHelper();
    InstalledHelper(const InstalledHelper&) = delete;
    InstalledHelper& operator=(const InstalledHelper&) = delete;

    const std::string& bundle() const { return bundle_; }
    const std::string& executable() const { return executable_; }
    const std::string& bundleIdentifier() const { return bundleIdentifier_; }
    std::vector<pid_t> processes() const;
    bool isRegistered() const;

    // Opened the ordinary way: a set-up, or a reopen of the running agent.
    std::unique_ptr<Child> open(const Environment& environment = {}) const;
    // The agent, started as the login items start it: a process of its own.
    std::unique_ptr<Child> startAgent(const Environment& environment = {}) const;

private:
    std::string bundle_;
    std::string executable_;
    std::string bundleIdentifier_;
};

// The helper's notifications heard on `bus`, counted by member.
class Notifications {
public:
    explicit Notifications(GDBusConnection* bus);
    ~Notifications();
    Notifications(const Notifications&) = delete;
    Notifications& operator=(const Notifications&) = delete;

    int count(const std::string& member) const;
    // After every signal sent before this call has been heard.
    int countAfterRoundTrip(const std::string& member) const;

private:
    GDBusConnection* bus_;
    guint subscription_ = 0;
    std::map<std::string, int> heard_;
};

// The agent that owns the service once `starts` starts were announced; 0
// if none within 30 s.
pid_t waitForAgent(GDBusConnection* bus, const Notifications& notifications, int starts = 1);

enum class Request { ping, paste };

struct Answer {
    Request request = Request::ping;
    guint32 serial = 0;
    std::optional<bool> value;
    std::string error;  // the D-Bus error name
};

// A method call, to the service unless told.
GDBusMessage* methodCall(const char* method, GVariant* arguments = nullptr, const char* path = servicePath,
                         const char* interface = serviceInterface, const char* destination = serviceName);
// Sends the message on a connection of its own and waits for the answer.
Answer callOnce(GDBusMessage* message);
inline Answer callOnce(const char* method, GVariant* arguments = nullptr) {
    return callOnce(methodCall(method, arguments));
}

// One peer of the service with a connection of its own (its own unique
// name). It sends requests without waiting for their answers, and sees
// every answer that comes back below GDBus's own matching of replies, so
// that a second answer to one request would show.
class Client {
public:
    explicit Client(const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS"));
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void send(Request request);
    // Any message; the client owns it from now on.
    void send(GDBusMessage* message, Request request = Request::ping);
    int sent() const { return static_cast<int>(sent_.size()); }
    int answered() const;
    bool isAnswered() const { return answered() >= sent(); }
    // Every answer so far, in the order it arrived.
    std::vector<Answer> arrivals() const;
    // The same, checked: every request got exactly one answer, and the
    // agent's answers of each kind came in the order of their requests.
    // Pings are answered at once on the connection's own queue, pastes after
    // their work on the main queue: a ping may overtake an earlier paste.
    // (The errors the bus sends for calls pending when the agent leaves come
    // in no order.)
    std::vector<Answer> answers(const std::string& name) const;

private:
    static GDBusMessage* watch(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data);

    GDBusConnection* connection_ = nullptr;
    guint filter_ = 0;
    std::vector<std::pair<guint32, Request>> sent_;
    // One for all clients, there from the start: GDBus hands a new client's
    // filter to its thread under locks of its own, which ThreadSanitizer
    // cannot see, so the client takes this lock once before, and the filter
    // takes it before it touches the client.
    static std::mutex mutex_;
    std::vector<Answer> arrivals_;  // written on GDBus's thread; the reply serial in `serial`
};

using Clients = std::vector<std::unique_ptr<Client>>;
Clients makeClients(int count, const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS"));
bool allAnswered(const Clients& clients);

// Sends `total` requests on every client, `window` of them in flight at
// most, every `pasteEvery`-th a paste; true once each has its answer.
bool drive(Clients& clients, int total, int window, int pasteEvery, double seconds);

// A server of the test's own that a test may kill: a session bus (the
// test's bus configuration), an X display (Xvfb), or a headless Wayland
// compositor: weston, which offers neither protocol that pasting needs, or
// sway, a wlroots compositor, with Xwayland.
class PrivateServer {
public:
    enum class Kind { bus, display, weston, sway };
    explicit PrivateServer(Kind kind);
    // The bus's address, or the display's name (a compositor's as the
    // absolute path of its socket).
    const char* address() const { return address_.c_str(); }
    // Sway's Xwayland display, started when a client first connects to it.
    const std::string& xDisplay() const { return xDisplay_; }
    // Sway's IPC socket, for swaymsg.
    const std::string& ipcSocket() const { return ipcSocket_; }
    Child& process() { return *process_; }

private:
    const std::string folder_ = linux_test::freshFolder();
    std::string address_;
    std::string xDisplay_;
    std::string ipcSocket_;
    std::unique_ptr<Child> process_;
};

// An agent of the installed helper, serving on the session bus of the test,
// with `agentEnvironment` added to its environment.
class ServingAgentTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Waits until the agent holds no more threads and descriptors than at
    // `rest`, and checks that it grew by no more than allocator slack.
    void expectAsLeanAs(const Usage& rest);
    // Kills the desktop's server (an X display, a compositor) while ten
    // clients ping and paste: pings stay true, pastes turn false for good,
    // the agent logs `lostLine` once, keeps serving and idles between
    // requests rather than spinning on the dead connection.
    void expectServingThroughTheLossOf(Child& server, const std::string& lostLine);

    Environment agentEnvironment;
    GDBusConnection* bus = nullptr;
    std::unique_ptr<InstalledHelper> helper;
    std::unique_ptr<Notifications> notifications;
    std::unique_ptr<Child> agent;
};

}  // namespace agent_harness
