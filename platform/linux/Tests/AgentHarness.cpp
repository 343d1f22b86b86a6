#include "AgentHarness.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>

#include "LinuxLog.h"
#include "LoginItems.h"
#include "ProcessUsage.h"
#include "Processes.h"

namespace agent_harness {

namespace fs = std::filesystem;

namespace {

constexpr const char* agentLoginItem = "me.ombrel.quillory.autopastehelper.agent";

// What the agent may grow by for good: allocator slack, not a leak (a leak
// of a few hundred bytes per request would show). A sanitizer holds freed
// memory back for a while (to catch uses after free), so there the resident
// memory of a process says nothing of leaks.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long residentGrowthLimitKiB = -1;
#else
constexpr long residentGrowthLimitKiB = 2 * 1024;
#endif

}  // namespace

bool logsToStandardError() {
    using platform::linux_platform::LinuxLog;
    return LinuxLog::available() == LinuxLog::Destination::stream;
}

std::optional<pid_t> ownerOf(GDBusConnection* bus, const char* name) {
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", g_variant_new("(s)", name), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    guint32 pid = 0;
    if (reply != nullptr) g_variant_get(reply, "(u)", &pid);
    return reply != nullptr ? std::optional<pid_t>(pid) : std::nullopt;
}

void endProcess(pid_t pid) {
    // kill() would take 0 for this process group, ctest included, and a
    // negative pid for a whole group.
    if (pid <= 0) {
        ADD_FAILURE() << "no process to end (pid " << pid << ")";
        return;
    }
    linux_test::Watched process(pid);
    ::kill(pid, SIGTERM);
    if (waitUntil([&] { return process.hasEnded(); }, 10)) return;
    ADD_FAILURE() << "pid " << pid << " did not end on SIGTERM";
    ::kill(pid, SIGKILL);
    waitUntil([&] { return process.hasEnded(); });
}

Child::Child(const std::vector<std::string>& arguments, const Environment& environment) {
    gchar** envp = g_get_environ();
    for (const auto& [name, value] : environment)
        envp = g_environ_setenv(envp, name.c_str(), value.c_str(), TRUE);
    std::vector<const char*> argv;
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const int log = g_file_open_tmp("quillory-child-XXXXXX.log", &logPath_, nullptr);
    GError* error = nullptr;
    GPid pid = -1;
    const bool spawned =
        g_spawn_async_with_fds(nullptr, const_cast<gchar**>(argv.data()), envp,
                               static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH),
                               nullptr, nullptr, &pid, -1, log, log, &error);
    ::close(log);
    g_strfreev(envp);
    if (!spawned) {
        ADD_FAILURE() << "Cannot start " << arguments.front() << ": " << error->message;
        g_error_free(error);
        return;
    }
    pid_ = pid;
}

Child::~Child() {
    if (isRunning()) {
        ::kill(pid_, SIGKILL);
        ::wait4(pid_, nullptr, 0, nullptr);
    }
    const std::string text = log();
    if (g_regex_match_simple("ERROR: (Address|Leak)Sanitizer|WARNING: ThreadSanitizer|runtime error:",
                             text.c_str(), G_REGEX_RAW, G_REGEX_MATCH_DEFAULT)) {
        ADD_FAILURE() << "Sanitizer report in the log of pid " << pid_ << ":\n" << text;
    }
    if (testing::Test::HasFailure())
        std::cerr << "pid " << pid_ << " wrote:\n"
                  << text.substr(text.size() - std::min<std::size_t>(text.size(), 4000));
    if (logPath_ != nullptr) ::unlink(logPath_);
    g_free(logPath_);
}

bool Child::isRunning() {
    if (pid_ <= 0 || status_) return false;
    int status = 0;
    if (::wait4(pid_, &status, WNOHANG, &usage_) != pid_) return true;
    status_ = status;
    return false;
}

std::string Child::waitForEnd(double seconds) {
    if (!waitUntil([&] { return !isRunning(); }, seconds)) return "running";
    if (!status_) return "not started";
    if (WIFEXITED(*status_)) return "exited " + std::to_string(WEXITSTATUS(*status_));
    return std::string("killed by ") + ::sigabbrev_np(WTERMSIG(*status_));
}

std::string Child::log() const { return linux_test::readText(logPath_ != nullptr ? logPath_ : ""); }

int Child::count(const std::string& text) const {
    const std::string written = log();
    int found = 0;
    for (auto at = written.find(text); at != std::string::npos; at = written.find(text, at + text.size()))
        ++found;
    return found;
}

Usage Child::usage() const {
    const auto usage = quillory_bench::usageOf(pid_);
    EXPECT_TRUE(usage) << "pid " << pid_ << " has ended";
    if (!usage) return {};
    std::error_code gone;
    const fs::directory_iterator descriptors("/proc/" + std::to_string(pid_) + "/fd", gone);
    return {static_cast<int>(std::distance(descriptors, fs::directory_iterator())), usage->rssKb,
            static_cast<int>(usage->switchesByThread.size()),
            static_cast<double>(usage->cpuTicks) / static_cast<double>(::sysconf(_SC_CLK_TCK))};
}

double Child::cpuSeconds() const {
    return static_cast<double>(usage_.ru_utime.tv_sec + usage_.ru_stime.tv_sec) +
           static_cast<double>(usage_.ru_utime.tv_usec + usage_.ru_stime.tv_usec) / 1e6;
}

InstalledHelper::InstalledHelper()
    : bundle_(std::string(g_getenv("HOME")) + "/Applications/Quillory Helper.app"),
      executable_(bundle_ + "/Contents/MacOS/Quillory Helper"),
      bundleIdentifier_("me.ombrel.quillory.autopastehelper.test" + std::to_string(::getpid())) {
    fs::create_directories(fs::path(bundle_).parent_path());
    fs::remove_all(bundle_);
    // All of the bundle, the alert module in Contents/Frameworks included.
    fs::copy(QUILLORY_BUNDLE_DIR, bundle_, fs::copy_options::recursive);
    const std::string infoPlist = bundle_ + "/Contents/Info.plist";
    std::string text = linux_test::readText(infoPlist);
    const std::string built = "<string>me.ombrel.quillory.autopastehelper</string>";
    text.replace(text.find(built), built.size(), "<string>" + bundleIdentifier_ + "</string>");
    linux_test::writeText(infoPlist, text);
}

InstalledHelper::~InstalledHelper() {
    for (const pid_t pid : processes()) endProcess(pid);
    std::error_code ignored;
    fs::remove_all(bundle_, ignored);
    fs::remove(platform::linux_platform::activationFilePath(serviceName), ignored);
    fs::remove(platform::linux_platform::autostartFilePath(agentLoginItem), ignored);
}

std::vector<pid_t> InstalledHelper::processes() const {
    return platform::linux_platform::processesOfBundle(bundleIdentifier_);
}

bool InstalledHelper::isRegistered() const {
    return fs::exists(platform::linux_platform::activationFilePath(serviceName)) &&
           fs::exists(platform::linux_platform::autostartFilePath(agentLoginItem));
}

std::unique_ptr<Child> InstalledHelper::open(const Environment& environment) const {
    return std::make_unique<Child>(std::vector<std::string>{executable_}, environment);
}

std::unique_ptr<Child> InstalledHelper::startAgent(const Environment& environment) const {
    Environment agent{{"KVX_AUTOPASTE_AGENT", "1"}, {"QUILLORY_NEW_INSTANCE", "1"}};
    agent.insert(environment.begin(), environment.end());
    return open(agent);
}

Notifications::Notifications(GDBusConnection* bus) : bus_(bus) {
    subscription_ = g_dbus_connection_signal_subscribe(
        bus_, nullptr, "me.ombrel.quillory.helper", nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member, GVariant*,
           gpointer data) { ++static_cast<Notifications*>(data)->heard_[member]; },
        this, nullptr);
    // A round trip: the bus has the match rule once it answers.
    countAfterRoundTrip("");
}

Notifications::~Notifications() { g_dbus_connection_signal_unsubscribe(bus_, subscription_); }

int Notifications::count(const std::string& member) const {
    return heard_.contains(member) ? heard_.at(member) : 0;
}

int Notifications::countAfterRoundTrip(const std::string& member) const {
    // GDBus posts each signal to this thread as it reads it, before the
    // reply that came after it: once the reply is here, so are they.
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr,
        nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    EXPECT_NE(reply, nullptr);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    return count(member);
}

pid_t waitForAgent(GDBusConnection* bus, const Notifications& notifications, int starts) {
    waitUntil([&] { return notifications.count("didStart") >= starts && ownerOf(bus); }, 30);
    return notifications.count("didStart") >= starts ? ownerOf(bus).value_or(0) : 0;
}

GDBusMessage* methodCall(const char* method, GVariant* arguments, const char* path, const char* interface,
                         const char* destination) {
    GDBusMessage* message = g_dbus_message_new_method_call(destination, path, interface, method);
    if (arguments != nullptr) g_dbus_message_set_body(message, arguments);
    return message;
}

Answer callOnce(GDBusMessage* message) {
    Client client;
    client.send(message);
    EXPECT_TRUE(waitUntil([&] { return client.isAnswered(); }, 60)) << "no answer within 60 s";
    const auto answers = client.answers("the call");
    return answers.empty() ? Answer{} : answers.front();
}

std::mutex Client::mutex_;

Client::Client(const char* address) : connection_(linux_test::newBusPeer(address)) {
    if (connection_ == nullptr) return;
    mutex_.lock();
    mutex_.unlock();
    filter_ = g_dbus_connection_add_filter(connection_, &Client::watch, this, nullptr);
}

Client::~Client() {
    if (connection_ == nullptr) return;
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    // Closed, the connection reads nothing more: the filter has run its last.
    g_dbus_connection_remove_filter(connection_, filter_);
    g_object_unref(connection_);
    std::lock_guard lock(mutex_);
}

GDBusMessage* Client::watch(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) {
    const auto type = g_dbus_message_get_message_type(message);
    if (!incoming || (type != G_DBUS_MESSAGE_TYPE_METHOD_RETURN && type != G_DBUS_MESSAGE_TYPE_ERROR))
        return message;
    Answer arrival;
    arrival.serial = g_dbus_message_get_reply_serial(message);
    GVariant* body = g_dbus_message_get_body(message);
    if (type == G_DBUS_MESSAGE_TYPE_ERROR) {
        arrival.error = g_dbus_message_get_error_name(message);
    } else if (gboolean value = FALSE; body != nullptr && g_variant_is_of_type(body, G_VARIANT_TYPE("(b)"))) {
        g_variant_get(body, "(b)", &value);
        arrival.value = value != FALSE;
    } else {
        arrival.error = "(unexpected reply body)";
    }
    auto* self = static_cast<Client*>(data);
    {
        std::lock_guard lock(self->mutex_);
        self->arrivals_.push_back(std::move(arrival));
    }
    g_main_context_wakeup(nullptr);
    g_object_unref(message);
    return nullptr;
}

void Client::send(Request request) { send(methodCall(request == Request::ping ? "Ping" : "Paste"), request); }

void Client::send(GDBusMessage* message, Request request) {
    guint32 serial = 0;
    GError* error = nullptr;
    if (connection_ != nullptr &&
        !g_dbus_connection_send_message(connection_, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, &serial,
                                        &error)) {
        ADD_FAILURE() << "Cannot send: " << error->message;
        g_error_free(error);
    }
    g_object_unref(message);
    sent_.emplace_back(serial, request);
}

int Client::answered() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(arrivals_.size());
}

std::vector<Answer> Client::arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

std::vector<Answer> Client::answers(const std::string& name) const {
    const std::map<guint32, Request> requests(sent_.begin(), sent_.end());
    std::map<guint32, int> counts;
    std::map<Request, guint32> lastSerial;
    std::vector<Answer> answers;
    for (auto answer : arrivals()) {
        const auto request = requests.find(answer.serial);
        if (request == requests.end()) {
            ADD_FAILURE() << name << ": an answer to no request (reply serial " << answer.serial << ")";
            continue;
        }
        ++counts[answer.serial];
        answer.request = request->second;
        if (answer.value) {
            EXPECT_GT(answer.serial, lastSerial[answer.request])
                << name << ": the answer to request " << answer.serial << " came after that to request "
                << lastSerial[answer.request] << ", a later one of the same kind";
            lastSerial[answer.request] = answer.serial;
        }
        answers.push_back(answer);
    }
    int unanswered = 0;
    int repeated = 0;
    for (const auto& [serial, request] : sent_) {
        if (counts[serial] == 0) ++unanswered;
        if (counts[serial] > 1) ++repeated;
    }
    EXPECT_EQ(unanswered, 0) << name << ": requests without an answer, of " << sent_.size();
    EXPECT_EQ(repeated, 0) << name << ": requests answered more than once, of " << sent_.size();
    return answers;
}

Clients makeClients(int count, const char* address) {
    Clients clients;
    for (int i = 0; i < count; ++i) clients.push_back(std::make_unique<Client>(address));
    return clients;
}

bool allAnswered(const Clients& clients) {
    for (const auto& client : clients)
        if (!client->isAnswered()) return false;
    return true;
}

bool drive(Clients& clients, int total, int window, int pasteEvery, double seconds) {
    return waitUntil(
        [&] {
            bool done = true;
            for (auto& client : clients) {
                while (client->sent() < total && client->sent() - client->answered() < window) {
                    const bool paste = pasteEvery > 0 && client->sent() % pasteEvery == pasteEvery - 1;
                    client->send(paste ? Request::paste : Request::ping);
                }
                done = done && client->answered() >= total;
            }
            return done;
        },
        seconds);
}

PrivateServer::PrivateServer(Kind kind) {
    // Each writes where it can be reached to a file once it can be: the bus
    // its address, Xvfb its display's number, sway's first command the
    // display names it gives its clients.
    const std::string ready = folder_ + "/ready";
    std::vector<std::string> command;
    Environment environment;
    switch (kind) {
        case Kind::bus:
            command = {"sh",
                       "-c",
                       "exec dbus-daemon --config-file=\"$1\" --nofork --address=\"$2\" --print-address=3 "
                       "3>\"$3\"",
                       "sh",
                       QUILLORY_TEST_SESSION_CONF,
                       "unix:path=" + folder_ + "/socket",
                       ready};
            break;
        case Kind::display:
            command = {"sh", "-c", "exec Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>\"$1\"", "sh",
                       ready};
            break;
        case Kind::weston:
            // It runs as root, and has no way to say that it is ready but
            // its socket.
            environment = {{"XDG_RUNTIME_DIR", folder_}};
            command = {"weston", "--backend=headless-backend.so", "--socket=wayland-test", "--idle-time=0",
                       "--no-config"};
            break;
        case Kind::sway:
            // sway refuses to run as root, but runs as anyone in a user
            // namespace of its own; its clients here run as root.
            environment = {{"XDG_RUNTIME_DIR", folder_},
                           {"WLR_BACKENDS", "headless"},
                           {"WLR_LIBINPUT_NO_DEVICES", "1"},
                           {"WLR_RENDERER", "pixman"}};
            // What its clients get, written by a script: sway's own
            // configuration language would take $NAME for its variables.
            linux_test::writeText(
                folder_ + "/ready.sh",
                "printf '%s %s %s\\n' \"$WAYLAND_DISPLAY\" \"$DISPLAY\" \"$SWAYSOCK\" > \"$1.part\" && "
                "mv \"$1.part\" \"$1\"\n");
            linux_test::writeText(folder_ + "/config",
                                  "xwayland enable\nexec sh " + folder_ + "/ready.sh " + ready + "\n");
            command = {"unshare", "--user", "--map-user=1000",  "--map-group=1000",
                       "sway",    "-c",     folder_ + "/config"};
            break;
    }
    process_ = std::make_unique<Child>(command, environment);
    EXPECT_TRUE(waitUntil(
        [&] {
            if (kind == Kind::weston) {
                address_ = folder_ + "/wayland-test";
                return g_file_test(address_.c_str(), G_FILE_TEST_EXISTS) != FALSE;
            }
            address_ = linux_test::readText(ready);
            return address_.ends_with("\n");
        },
        20))
        << process_->log();
    if (kind == Kind::weston) return;
    if (!address_.empty()) address_.pop_back();
    if (kind == Kind::display) address_ = ":" + address_;
    if (kind == Kind::sway) {
        // "<socket name> <X display> <IPC socket>"
        gchar** fields = g_strsplit(address_.c_str(), " ", 3);
        if (g_strv_length(fields) == 3) {
            address_ = folder_ + "/" + fields[0];
            xDisplay_ = fields[1];
            ipcSocket_ = fields[2];
        }
        g_strfreev(fields);
    }
}

void ServingAgentTest::SetUp() {
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    helper = std::make_unique<InstalledHelper>();
    notifications = std::make_unique<Notifications>(bus);
    agent = helper->startAgent(agentEnvironment);
    ASSERT_EQ(waitForAgent(bus, *notifications), agent->pid()) << "the agent did not start serving";
}

void ServingAgentTest::TearDown() {
    agent.reset();
    notifications.reset();
    helper.reset();
    if (bus != nullptr) g_object_unref(bus);
}

void ServingAgentTest::expectAsLeanAs(const Usage& rest) {
    Usage now;
    EXPECT_TRUE(waitUntil(
        [&] {
            now = agent->usage();
            return now.threads <= rest.threads && now.descriptors <= rest.descriptors;
        },
        20))
        << "threads " << now.threads << " (at rest " << rest.threads << "), descriptors " << now.descriptors
        << " (at rest " << rest.descriptors << ")";
    if (residentGrowthLimitKiB >= 0) {
        EXPECT_LE(now.residentKiB - rest.residentKiB, residentGrowthLimitKiB)
            << "resident memory grew from " << rest.residentKiB << " KiB to " << now.residentKiB << " KiB";
    }
}

void ServingAgentTest::expectServingThroughTheLossOf(Child& server, const std::string& lostLine) {
    // With its server, a paste posts its keystroke: true.
    EXPECT_EQ(callOnce("Paste").value, true);

    // Ten clients, every other request a paste; the server goes meanwhile.
    auto clients = makeClients(10);
    ASSERT_TRUE(drive(clients, 6, 2, 2, 60));
    ::kill(server.pid(), SIGKILL);
    ASSERT_NE(server.waitForEnd(10), "running");
    ASSERT_TRUE(drive(clients, 40, 2, 2, 60)) << "not every request was answered";

    for (std::size_t i = 0; i < clients.size(); ++i) {
        const std::string name = "client " + std::to_string(i);
        bool pastesFailed = false;
        for (const auto& answer : clients[i]->answers(name)) {
            if (answer.request == Request::ping) {
                EXPECT_EQ(answer.value, true) << name << " " << answer.error;
            } else {
                // Once the server is gone, no paste succeeds again.
                EXPECT_TRUE(answer.value.has_value()) << name << " " << answer.error;
                EXPECT_FALSE(pastesFailed && answer.value == true)
                    << name << ": a paste succeeded after one failed";
                pastesFailed = pastesFailed || answer.value == false;
            }
        }
        EXPECT_TRUE(pastesFailed) << name << ": no paste failed after the server went";
    }
    EXPECT_EQ(agent->waitForEnd(), "running");
    if (logsToStandardError()) {
        EXPECT_EQ(agent->count(lostLine), 1) << agent->log();
    }

    // Still serving, and idle between requests: CPU time well below the
    // time that passed.
    const double cpuBefore = agent->usage().cpuSeconds;
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(callOnce("Ping").value, true);
        EXPECT_EQ(callOnce("Paste").value, false);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    const double cpu = agent->usage().cpuSeconds - cpuBefore;
    EXPECT_LT(cpu, 0.7 * elapsed) << cpu << " s of CPU time in " << elapsed << " s";
}

}  // namespace agent_harness
