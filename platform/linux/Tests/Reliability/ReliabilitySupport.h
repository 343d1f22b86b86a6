#pragma once

// The real agent under load, bad input and faults: the bundle of the build
// installed into the session's $HOME/Applications, processes this test
// starts and reaps itself (so that their exit status and CPU time are
// known), clients with connections of their own that see every answer, and
// private buses and displays that a test may kill.

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

namespace reliability {

using linux_test::waitUntil;

inline constexpr const char* serviceName = "_7RVD2LMQ5X.me.ombrel.quillory.autopaste";
inline constexpr const char* servicePath = "/me/ombrel/quillory/autopaste";
inline constexpr const char* serviceInterface = "me.ombrel.quillory.AutoPasteHelperXPC";
inline constexpr const char* notificationInterface = "me.ombrel.quillory.helper";

// A sanitizer holds freed memory back for a while (to catch uses after
// free), so there the resident memory of a process says nothing of leaks.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool residentMemoryTellsLeaks = false;
#else
inline constexpr bool residentMemoryTellsLeaks = true;
#endif

// What the kernel says about a running process.
struct Usage {
    int descriptors = 0;
    long residentKiB = 0;
    int threads = 0;
    double cpuSeconds = 0;
};
std::optional<Usage> usageOf(pid_t pid);

// A process started by the test and reaped by it.
class Child {
public:
    // Standard output and error go to `logPath`, or are inherited without one.
    Child(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
          const std::string& logPath = "");
    virtual ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Reaps the process once it has ended.
    bool isRunning();
    // Runs the default main context meanwhile.
    bool waitForEnd(double seconds);
    void signal(int number) const;
    // Kills it if it still runs, and reaps it.
    void stop();

    // Once it has ended:
    bool exitedWith(int status) const;
    bool killedBy(int number) const;
    double cpuSeconds() const;  // of its whole life
    std::string describeEnd() const;

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    rusage usage_{};
};

// The helper's bundle from the build, copied into $HOME/Applications with a
// bundle identifier of its own: set-ups stop every process of their bundle
// identifier, and other tests on this machine run the helper too.
class InstalledHelper {
public:
    InstalledHelper();
    ~InstalledHelper();
    InstalledHelper(const InstalledHelper&) = delete;
    InstalledHelper& operator=(const InstalledHelper&) = delete;

    const std::string& bundle() const { return bundle_; }
    const std::string& executable() const { return executable_; }
    const std::string& bundleIdentifier() const { return bundleIdentifier_; }
    // Every process that runs from this bundle now.
    std::vector<pid_t> processes() const;
    bool isRegistered() const;

private:
    std::string bundle_;
    std::string executable_;
    std::string bundleIdentifier_;
};

// The agent, started directly as the login items would start it, its log
// in a file. A sanitizer report in that log fails the test.
class Agent : public Child {
public:
    explicit Agent(const InstalledHelper& helper, const std::map<std::string, std::string>& environment = {});
    ~Agent() override;

    std::string log() const;
    int count(const std::string& text) const;
    Usage usage() const;

private:
    Agent(const InstalledHelper& helper, const std::map<std::string, std::string>& environment,
          const std::string& logPath);
    std::string logPath_;
};

// A set-up: the helper opened the ordinary way, its log in a file.
class SetUpProcess : public Child {
public:
    explicit SetUpProcess(const InstalledHelper& helper,
                          const std::map<std::string, std::string>& environment = {});
    ~SetUpProcess() override;
    std::string log() const;

private:
    SetUpProcess(const InstalledHelper& helper, const std::map<std::string, std::string>& environment,
                 const std::string& logPath);
    std::string logPath_;
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

// The process that owns the service's name on `bus`, if any.
std::optional<pid_t> serviceOwner(GDBusConnection* bus);

// Waits until `agent` owns the service and has announced its start.
bool waitUntilServing(GDBusConnection* bus, const Agent& agent, const Notifications& notifications,
                      int starts = 1);

enum class Request { ping, paste };

// One peer of the service with a connection of its own (its own unique
// name). It sends requests without waiting for their answers, and sees
// every answer that comes back below GDBus's own matching of replies, so
// that a second answer to one request would show.
class Client {
public:
    explicit Client(const std::string& address);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void send(Request request);
    void close();

    int sent() const { return static_cast<int>(sent_.size()); }
    int answered() const;

    struct Answer {
        Request request;
        guint32 serial;
        std::optional<bool> value;
        std::string error;  // the D-Bus error name
    };
    // The answers so far, in the order they arrived.
    std::vector<Answer> received() const;
    // The answers, in the order they arrived, once each request has one.
    // Failures (no answer, two answers, an answer to nothing) are test failures.
    std::vector<Answer> answers(const std::string& name) const;

private:
    struct Arrival {
        guint32 replySerial;
        std::optional<bool> value;
        std::string error;
    };
    static GDBusMessage* watch(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data);

    GDBusConnection* connection_ = nullptr;
    guint filter_ = 0;
    std::vector<std::pair<guint32, Request>> sent_;
    // One for all clients, there from the start: GDBus hands a new client's
    // filter to its thread under locks of its own, which ThreadSanitizer
    // cannot see, so the client takes this lock once before, and the filter
    // takes it before it touches the client.
    static std::mutex mutex_;
    std::vector<Arrival> arrivals_;  // written on GDBus's thread
};

// Sends `total` requests on every client, `window` of them in flight at
// most, every `pasteEvery`-th a paste; true once each has its answer.
bool drive(std::vector<std::unique_ptr<Client>>& clients, int total, int window, int pasteEvery,
           double seconds);

// Checks that every request of `client` got one answer, and that the
// agent's answers of each kind came in the order of their requests. Pings
// are answered at once on the connection's own queue, pastes after their
// work on the main queue: a ping may overtake an earlier paste. (The errors
// the bus sends for calls pending when the agent leaves come in no order.)
std::vector<Client::Answer> checkAnswers(const Client& client, const std::string& name);

// A session bus of its own (the test's bus configuration), to be killed.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    const std::string& address() const { return address_; }
    Child& daemon() { return *daemon_; }

private:
    std::unique_ptr<Child> daemon_;
    std::string address_;
};

// A display of its own (Xvfb), to be killed.
class PrivateDisplay {
public:
    PrivateDisplay();
    ~PrivateDisplay();
    const std::string& name() const { return name_; }
    Child& server() { return *server_; }

private:
    std::unique_ptr<Child> server_;
    std::string name_;
};

// A message sent on a connection of its own; waits for the answer.
Client::Answer callOnce(const std::string& address, GDBusMessage* message);
// A request to the service, on a connection of its own.
Client::Answer callOnce(const std::string& address, const std::string& method, GVariant* arguments = nullptr);

// The address of the session bus of this test.
std::string sessionBusAddress();

// Whether the helper's processes write their log to standard error (where
// the test reads it) rather than to the journal.
bool logsToStandardError();

// An agent of the installed helper, serving on the session bus of the test.
class ServingAgentTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    GDBusConnection* bus = nullptr;
    std::unique_ptr<InstalledHelper> helper;
    std::unique_ptr<Notifications> notifications;
    std::unique_ptr<Agent> agent;
};

std::vector<std::unique_ptr<Client>> makeClients(int count, const std::string& address = sessionBusAddress());

}  // namespace reliability
