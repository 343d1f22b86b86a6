#include "ReliabilitySupport.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "LinuxLog.h"
#include "LoginItems.h"
#include "Processes.h"

namespace reliability {

namespace fs = std::filesystem;

namespace {

std::string temporaryPath(const std::string& name) {
    static std::atomic<int> counter{0};
    return std::string(g_get_tmp_dir()) + "/quillory-reliability-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + "-" + name;
}

// What a sanitizer writes when it finds a fault.
bool hasSanitizerReport(const std::string& log) {
    for (const char* marker :
         {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer", "runtime error:"}) {
        if (log.find(marker) != std::string::npos) return true;
    }
    return false;
}

std::string lastLines(const std::string& text, std::size_t count) {
    std::size_t at = text.size();
    for (std::size_t lines = 0; at > 0 && lines <= count; --at) {
        if (text[at - 1] == '\n') ++lines;
    }
    return text.substr(at);
}

void setBundleIdentifier(const std::string& infoPlist, const std::string& identifier) {
    const std::string xml = linux_test::readText(infoPlist);
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    ASSERT_NE(root, nullptr) << infoPlist;
    plist_dict_set_item(root, "CFBundleIdentifier", plist_new_string(identifier.c_str()));
    char* out = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &out, &length);
    linux_test::writeText(infoPlist, std::string(out, length));
    plist_to_xml_free(out);
    plist_free(root);
}

bool hasEnded(pid_t pid) { return ::kill(pid, 0) != 0; }

// A file of /proc, empty once what it describes has gone.
std::string readProc(const std::string& path) {
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return "";
    std::string text(contents, length);
    g_free(contents);
    return text;
}

}  // namespace

std::optional<Usage> usageOf(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::istringstream status(readProc(proc + "/status"));
    if (status.str().empty()) return std::nullopt;
    Usage usage;
    for (std::string line; std::getline(status, line);) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "VmRSS:") fields >> usage.residentKiB;
        if (key == "Threads:") fields >> usage.threads;
    }
    std::error_code error;
    for (auto entry = fs::directory_iterator(proc + "/fd", error);
         !error && entry != fs::directory_iterator(); entry.increment(error)) {
        ++usage.descriptors;
    }
    // The name in parentheses may hold spaces: the fields follow the last ')'.
    const std::string stat = readProc(proc + "/stat");
    const auto end = stat.rfind(')');
    if (end == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // state is field 3; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::stoull(field);
        if (number == 15) stime = std::stoull(field);
    }
    usage.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    return usage;
}

Child::Child(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
             const std::string& logPath) {
    gchar** envp = g_get_environ();
    for (const auto& [name, value] : environment)
        envp = g_environ_setenv(envp, name.c_str(), value.c_str(), TRUE);
    std::vector<const char*> argv;
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const int log =
        logPath.empty() ? -1 : ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    GError* error = nullptr;
    GPid pid = -1;
    const bool spawned =
        g_spawn_async_with_fds(nullptr, const_cast<gchar**>(argv.data()), envp,
                               static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH),
                               nullptr, nullptr, &pid, -1, log, log, &error);
    if (log >= 0) ::close(log);
    g_strfreev(envp);
    if (!spawned) {
        ADD_FAILURE() << "Cannot start " << arguments.front() << ": " << error->message;
        g_error_free(error);
        return;
    }
    pid_ = pid;
}

Child::~Child() { stop(); }

bool Child::isRunning() {
    if (pid_ <= 0 || status_) return false;
    int status = 0;
    if (::wait4(pid_, &status, WNOHANG, &usage_) != pid_) return true;
    status_ = status;
    return false;
}

bool Child::waitForEnd(double seconds) {
    return waitUntil([&] { return !isRunning(); }, seconds);
}

void Child::signal(int number) const {
    if (pid_ > 0 && !status_) ::kill(pid_, number);
}

void Child::stop() {
    if (!isRunning()) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    if (::wait4(pid_, &status, 0, &usage_) == pid_) status_ = status;
}

bool Child::exitedWith(int status) const {
    return status_ && WIFEXITED(*status_) && WEXITSTATUS(*status_) == status;
}

bool Child::killedBy(int number) const {
    return status_ && WIFSIGNALED(*status_) && WTERMSIG(*status_) == number;
}

double Child::cpuSeconds() const {
    return static_cast<double>(usage_.ru_utime.tv_sec + usage_.ru_stime.tv_sec) +
           static_cast<double>(usage_.ru_utime.tv_usec + usage_.ru_stime.tv_usec) / 1e6;
}

std::string Child::describeEnd() const {
    if (!status_) return "still running";
    if (WIFEXITED(*status_)) return "exited with status " + std::to_string(WEXITSTATUS(*status_));
    if (WIFSIGNALED(*status_)) return std::string("killed by ") + ::strsignal(WTERMSIG(*status_));
    return "ended";
}

InstalledHelper::InstalledHelper()
    : bundle_(std::string(g_getenv("HOME")) + "/Applications/Quillory Helper.app"),
      executable_(bundle_ + "/Contents/MacOS/Quillory Helper"),
      bundleIdentifier_("me.ombrel.quillory.autopastehelper.reliability" + std::to_string(::getpid())) {
    fs::create_directories(fs::path(bundle_).parent_path());
    fs::remove_all(bundle_);
    fs::copy(QUILLORY_BUNDLE_DIR, bundle_, fs::copy_options::recursive);
    setBundleIdentifier(bundle_ + "/Contents/Info.plist", bundleIdentifier_);
}

InstalledHelper::~InstalledHelper() {
    // Every agent and set-up of this bundle ends with the test, also those
    // the bus started.
    for (const pid_t pid : processes()) ::kill(pid, SIGKILL);
    for (const pid_t pid : processes()) waitUntil([&] { return hasEnded(pid); }, 5);
    std::error_code ignored;
    fs::remove_all(bundle_, ignored);
    fs::remove(platform::linux_platform::activationFilePath(serviceName), ignored);
    fs::remove(platform::linux_platform::autostartFilePath("me.ombrel.quillory.autopastehelper.agent"),
               ignored);
}

std::vector<pid_t> InstalledHelper::processes() const {
    return platform::linux_platform::processesOfBundle(bundleIdentifier_);
}

bool InstalledHelper::isRegistered() const {
    return fs::exists(platform::linux_platform::activationFilePath(serviceName)) &&
           fs::exists(
               platform::linux_platform::autostartFilePath("me.ombrel.quillory.autopastehelper.agent"));
}

namespace {

std::map<std::string, std::string> with(std::map<std::string, std::string> environment,
                                        const std::map<std::string, std::string>& more) {
    for (const auto& [name, value] : more) environment[name] = value;
    return environment;
}

// Fails the test on a sanitizer report, and shows the log of a failed test.
void inspectLog(const std::string& what, const std::string& path) {
    const std::string log = linux_test::readText(path);
    if (hasSanitizerReport(log)) {
        ADD_FAILURE() << "Sanitizer report in the " << what << "'s log:\n" << log;
    } else if (testing::Test::HasFailure()) {
        std::cerr << "The " << what << "'s log ends with:\n" << lastLines(log, 40);
    }
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace

Agent::Agent(const InstalledHelper& helper, const std::map<std::string, std::string>& environment)
    : Agent(helper, environment, temporaryPath("agent.log")) {}

Agent::Agent(const InstalledHelper& helper, const std::map<std::string, std::string>& environment,
             const std::string& logPath)
    : Child({helper.executable()},
            // Started as the login items start it: a process of its own.
            with({{"KVX_AUTOPASTE_AGENT", "1"}, {"QUILLORY_NEW_INSTANCE", "1"}}, environment), logPath),
      logPath_(logPath) {}

Agent::~Agent() {
    stop();
    inspectLog("agent", logPath_);
}

std::string Agent::log() const { return linux_test::readText(logPath_); }

int Agent::count(const std::string& text) const {
    const std::string all = log();
    int found = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size())) ++found;
    return found;
}

Usage Agent::usage() const {
    auto usage = usageOf(pid());
    EXPECT_TRUE(usage) << "the agent has ended: " << lastLines(log(), 20);
    return usage.value_or(Usage{});
}

SetUpProcess::SetUpProcess(const InstalledHelper& helper,
                           const std::map<std::string, std::string>& environment)
    : SetUpProcess(helper, environment, temporaryPath("setup.log")) {}

SetUpProcess::SetUpProcess(const InstalledHelper& helper,
                           const std::map<std::string, std::string>& environment, const std::string& logPath)
    : Child({helper.executable()}, environment, logPath), logPath_(logPath) {}

SetUpProcess::~SetUpProcess() {
    stop();
    inspectLog("set-up", logPath_);
}

std::string SetUpProcess::log() const { return linux_test::readText(logPath_); }

Notifications::Notifications(GDBusConnection* bus) : bus_(bus) {
    subscription_ = g_dbus_connection_signal_subscribe(
        bus_, nullptr, notificationInterface, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member, GVariant*,
           gpointer data) { ++static_cast<Notifications*>(data)->heard_[member]; },
        this, nullptr);
    // A round trip: the bus has the match rule once it answers.
    GVariant* reply = g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    EXPECT_NE(reply, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
}

Notifications::~Notifications() { g_dbus_connection_signal_unsubscribe(bus_, subscription_); }

int Notifications::count(const std::string& member) const {
    const auto found = heard_.find(member);
    return found == heard_.end() ? 0 : found->second;
}

int Notifications::countAfterRoundTrip(const std::string& member) const {
    // GDBus hands signals and replies to this thread in the order they came.
    bool answered = false;
    g_dbus_connection_call(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr,
        nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            if (reply != nullptr) g_variant_unref(reply);
            *static_cast<bool*>(data) = true;
        },
        &answered);
    EXPECT_TRUE(waitUntil([&] { return answered; }));
    return count(member);
}

std::optional<pid_t> serviceOwner(GDBusConnection* bus) {
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                                  g_variant_new("(s)", serviceName), G_VARIANT_TYPE("(u)"),
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply == nullptr) return std::nullopt;
    guint32 pid = 0;
    g_variant_get(reply, "(u)", &pid);
    g_variant_unref(reply);
    return static_cast<pid_t>(pid);
}

bool waitUntilServing(GDBusConnection* bus, const Agent& agent, const Notifications& notifications,
                      int starts) {
    const bool serving = waitUntil(
        [&] { return notifications.count("didStart") >= starts && serviceOwner(bus) == agent.pid(); }, 30);
    EXPECT_TRUE(serving) << "the agent did not start serving; its log:\n" << agent.log();
    return serving;
}

Client::Client(const std::string& address) {
    GError* error = nullptr;
    connection_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (connection_ == nullptr) {
        ADD_FAILURE() << "Cannot connect to " << address << ": " << error->message;
        g_error_free(error);
        return;
    }
    { std::lock_guard lock(mutex_); }
    filter_ = g_dbus_connection_add_filter(connection_, &Client::watch, this, nullptr);
}

std::mutex Client::mutex_;

Client::~Client() {
    if (connection_ == nullptr) return;
    close();
    // Closed, the connection reads nothing more: the filter has run its last.
    g_dbus_connection_remove_filter(connection_, filter_);
    g_object_unref(connection_);
    std::lock_guard lock(mutex_);
}

void Client::close() {
    if (connection_ != nullptr && !g_dbus_connection_is_closed(connection_))
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
}

GDBusMessage* Client::watch(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) {
    const auto type = g_dbus_message_get_message_type(message);
    if (!incoming || (type != G_DBUS_MESSAGE_TYPE_METHOD_RETURN && type != G_DBUS_MESSAGE_TYPE_ERROR))
        return message;
    Arrival arrival{g_dbus_message_get_reply_serial(message), std::nullopt, ""};
    if (type == G_DBUS_MESSAGE_TYPE_ERROR) {
        arrival.error = g_dbus_message_get_error_name(message) != nullptr
                            ? g_dbus_message_get_error_name(message)
                            : "(unnamed)";
    } else if (GVariant* body = g_dbus_message_get_body(message);
               body != nullptr && g_variant_is_of_type(body, G_VARIANT_TYPE("(b)"))) {
        gboolean value = FALSE;
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

void Client::send(Request request) {
    GDBusMessage* message = g_dbus_message_new_method_call(serviceName, servicePath, serviceInterface,
                                                           request == Request::ping ? "Ping" : "Paste");
    guint32 serial = 0;
    GError* error = nullptr;
    if (!g_dbus_connection_send_message(connection_, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, &serial,
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

std::vector<Client::Answer> Client::received() const {
    std::map<guint32, Request> requests(sent_.begin(), sent_.end());
    std::lock_guard lock(mutex_);
    std::vector<Answer> answers;
    for (const auto& arrival : arrivals_) {
        const auto request = requests.find(arrival.replySerial);
        if (request != requests.end())
            answers.push_back({request->second, arrival.replySerial, arrival.value, arrival.error});
    }
    return answers;
}

std::vector<Client::Answer> Client::answers(const std::string& name) const {
    std::vector<Arrival> arrivals;
    {
        std::lock_guard lock(mutex_);
        arrivals = arrivals_;
    }
    std::map<guint32, Request> requests(sent_.begin(), sent_.end());
    std::map<guint32, int> counts;
    std::vector<Answer> answers;
    for (const auto& arrival : arrivals) {
        const auto request = requests.find(arrival.replySerial);
        if (request == requests.end()) {
            ADD_FAILURE() << name << ": an answer to no request (reply serial " << arrival.replySerial << ")";
            continue;
        }
        ++counts[arrival.replySerial];
        answers.push_back({request->second, arrival.replySerial, arrival.value, arrival.error});
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

bool drive(std::vector<std::unique_ptr<Client>>& clients, int total, int window, int pasteEvery,
           double seconds) {
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

std::vector<Client::Answer> checkAnswers(const Client& client, const std::string& name) {
    auto answers = client.answers(name);
    std::map<Request, guint32> lastSerial;
    for (const auto& answer : answers) {
        if (!answer.value) continue;
        EXPECT_GT(answer.serial, lastSerial[answer.request])
            << name << ": the answer to request " << answer.serial << " came after that to request "
            << lastSerial[answer.request] << ", a later one of the same kind";
        lastSerial[answer.request] = answer.serial;
    }
    return answers;
}

PrivateBus::PrivateBus() {
    const std::string folder = temporaryPath("bus");
    fs::create_directories(folder);
    address_ = "unix:path=" + folder + "/socket";
    // The daemon writes its address once it accepts connections.
    daemon_ = std::make_unique<Child>(
        std::vector<std::string>{"sh", "-c",
                                 "exec dbus-daemon --config-file=\"$1\" --nofork --address=\"$2\" "
                                 "--print-address=3 3>\"$3\"",
                                 "sh", QUILLORY_TEST_SESSION_CONF, address_, folder + "/address"},
        std::map<std::string, std::string>{}, folder + "/daemon.log");
    EXPECT_TRUE(waitUntil([&] { return linux_test::readText(folder + "/address").ends_with("\n"); }, 10))
        << "dbus-daemon did not start: " << linux_test::readText(folder + "/daemon.log");
}

PrivateBus::~PrivateBus() {
    daemon_->stop();
    std::error_code ignored;
    fs::remove_all(fs::path(address_.substr(std::string("unix:path=").size())).parent_path(), ignored);
}

PrivateDisplay::PrivateDisplay() {
    const std::string folder = temporaryPath("display");
    fs::create_directories(folder);
    // Xvfb writes the number of the display it chose to standard output.
    server_ = std::make_unique<Child>(
        std::vector<std::string>{"sh", "-c",
                                 "exec Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>\"$1\"", "sh",
                                 folder + "/number"},
        std::map<std::string, std::string>{}, folder + "/server.log");
    std::string number;
    EXPECT_TRUE(waitUntil(
        [&] {
            number = linux_test::readText(folder + "/number");
            return !number.empty() && number.back() == '\n';
        },
        20))
        << "Xvfb did not start: " << linux_test::readText(folder + "/server.log");
    if (!number.empty()) number.pop_back();
    name_ = ":" + number;
}

PrivateDisplay::~PrivateDisplay() { server_->stop(); }

Client::Answer callOnce(const std::string& address, GDBusMessage* message) {
    Client::Answer answer{Request::ping, 0, std::nullopt, ""};
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (connection == nullptr) {
        answer.error = error->message;
        g_error_free(error);
        g_object_unref(message);
        return answer;
    }
    GDBusMessage* reply = g_dbus_connection_send_message_with_reply_sync(
        connection, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, 60000, nullptr, nullptr, &error);
    g_object_unref(message);
    if (reply == nullptr) {
        answer.error = error->message;
        g_error_free(error);
    } else if (g_dbus_message_get_message_type(reply) == G_DBUS_MESSAGE_TYPE_ERROR) {
        answer.error = g_dbus_message_get_error_name(reply);
    } else if (GVariant* body = g_dbus_message_get_body(reply);
               body != nullptr && g_variant_is_of_type(body, G_VARIANT_TYPE("(b)"))) {
        gboolean value = FALSE;
        g_variant_get(body, "(b)", &value);
        answer.value = value != FALSE;
    }
    if (reply != nullptr) g_object_unref(reply);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    return answer;
}

Client::Answer callOnce(const std::string& address, const std::string& method, GVariant* arguments) {
    GDBusMessage* message =
        g_dbus_message_new_method_call(serviceName, servicePath, serviceInterface, method.c_str());
    if (arguments != nullptr) g_dbus_message_set_body(message, arguments);
    return callOnce(address, message);
}

std::string sessionBusAddress() {
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr ? address : "";
}

bool logsToStandardError() {
    return platform::linux_platform::LinuxLog::available() ==
           platform::linux_platform::LinuxLog::Destination::stream;
}

void ServingAgentTest::SetUp() {
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    helper = std::make_unique<InstalledHelper>();
    notifications = std::make_unique<Notifications>(bus);
    agent = std::make_unique<Agent>(*helper);
    ASSERT_TRUE(waitUntilServing(bus, *agent, *notifications));
}

void ServingAgentTest::TearDown() {
    agent.reset();
    notifications.reset();
    helper.reset();
    if (bus != nullptr) g_object_unref(bus);
}

std::vector<std::unique_ptr<Client>> makeClients(int count, const std::string& address) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i) clients.push_back(std::make_unique<Client>(address));
    return clients;
}

}  // namespace reliability
