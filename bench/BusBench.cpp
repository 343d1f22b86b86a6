#include "BusBench.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

namespace quillory_bench {

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

GVariant* callDBus(GDBusConnection* bus, const char* method, GVariant* arguments, const char* replyType) {
    return g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", method, arguments, G_VARIANT_TYPE(replyType),
                                       G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
}

bool hasOwner(GDBusConnection* bus, const std::string& name) {
    GVariant* reply = callDBus(bus, "NameHasOwner", g_variant_new("(s)", name.c_str()), "(b)");
    if (reply == nullptr) return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

bool waitForEnd(pid_t pid, int timeoutMs) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) return true;  // already gone
    pollfd entry{pidfd, POLLIN, 0};
    const bool ended = ::poll(&entry, 1, timeoutMs) == 1;
    ::close(pidfd);
    return ended;
}

}  // namespace

const Service& helperService() {
    static const Service service{"_7RVD2LMQ5X.me.ombrel.quillory.autopaste", "/me/ombrel/quillory/autopaste",
                                 "me.ombrel.quillory.AutoPasteHelperXPC"};
    return service;
}

const Service& echoService() {
    static const Service service{"me.ombrel.quillory.bench.Echo", "/me/ombrel/quillory/bench/Echo",
                                 "me.ombrel.quillory.bench.Echo"};
    return service;
}

const Service& floorService() {
    static const Service service{"me.ombrel.quillory.bench.Floor", "/me/ombrel/quillory/bench/Floor",
                                 "me.ombrel.quillory.bench.Floor"};
    return service;
}

bool iterateUntil(const std::function<bool()>& condition, double seconds) {
    bool timedOut = false;
    const guint timer = g_timeout_add(
        static_cast<guint>(seconds * 1000),
        [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        &timedOut);
    bool held = condition();
    while (!held && !timedOut) {
        g_main_context_iteration(nullptr, TRUE);
        held = condition();
    }
    if (!timedOut) g_source_remove(timer);
    return held;
}

GDBusConnection* connectPeer() {
    GError* error = nullptr;
    GDBusConnection* peer = g_dbus_connection_new_for_address_sync(
        g_getenv("DBUS_SESSION_BUS_ADDRESS"),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (peer == nullptr) {
        g_printerr("Cannot connect to the session bus: %s\n", error->message);
        g_error_free(error);
        return nullptr;
    }
    g_dbus_connection_set_exit_on_close(peer, FALSE);
    return peer;
}

void disconnectPeer(GDBusConnection* peer) {
    if (peer == nullptr) return;
    g_dbus_connection_close_sync(peer, nullptr, nullptr);
    g_object_unref(peer);
}

std::optional<bool> ping(GDBusConnection* peer, const Service& service, int timeoutMs) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        peer, service.busName.c_str(), service.objectPath.c_str(), service.interface.c_str(), "Ping", nullptr,
        G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &error);
    if (reply == nullptr) {
        g_printerr("Ping to %s failed: %s\n", service.busName.c_str(), error->message);
        g_error_free(error);
        return std::nullopt;
    }
    gboolean answer = FALSE;
    g_variant_get(reply, "(b)", &answer);
    g_variant_unref(reply);
    return answer != FALSE;
}

std::optional<std::vector<double>> roundTrips(GDBusConnection* peer, const Service& service, int count) {
    std::vector<double> microseconds;
    microseconds.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (ping(peer, service) != true) return std::nullopt;
        microseconds.push_back(microsecondsSince(start));
    }
    return microseconds;
}

namespace {

struct Client;

struct ThroughputRun {
    const Service* service = nullptr;
    int clientsDone = 0;
    bool failed = false;
};

struct Client {
    ThroughputRun* run = nullptr;
    GDBusConnection* peer = nullptr;
    int left = 0;
};

void sendPing(Client* client);

void pingAnswered(GObject* source, GAsyncResult* result, gpointer data) {
    auto* client = static_cast<Client*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    gboolean answer = FALSE;
    if (reply != nullptr) {
        g_variant_get(reply, "(b)", &answer);
        g_variant_unref(reply);
    } else {
        g_printerr("Ping to %s failed: %s\n", client->run->service->busName.c_str(), error->message);
        g_error_free(error);
    }
    if (!answer) client->run->failed = true;
    if (--client->left > 0 && !client->run->failed) {
        sendPing(client);
    } else {
        ++client->run->clientsDone;
    }
}

void sendPing(Client* client) {
    const Service& service = *client->run->service;
    g_dbus_connection_call(client->peer, service.busName.c_str(), service.objectPath.c_str(),
                           service.interface.c_str(), "Ping", nullptr, G_VARIANT_TYPE("(b)"),
                           G_DBUS_CALL_FLAGS_NONE, 25000, nullptr, pingAnswered, client);
}

}  // namespace

std::optional<double> throughput(const Service& service, int clients, int pingsEach) {
    ThroughputRun run;
    run.service = &service;
    std::vector<Client> peers(static_cast<std::size_t>(clients));
    bool ready = true;
    for (auto& client : peers) {
        client.run = &run;
        client.peer = connectPeer();
        // Its first request makes it known to the service; not counted.
        ready = ready && client.peer != nullptr && ping(client.peer, service) == true;
        client.left = pingsEach;
    }
    std::optional<double> perSecond;
    if (ready) {
        const auto start = Clock::now();
        for (auto& client : peers) sendPing(&client);
        const bool finished = iterateUntil([&] { return run.clientsDone == clients; }, 120);
        const double seconds = microsecondsSince(start) / 1e6;
        if (finished && !run.failed) perSecond = clients * pingsEach / seconds;
    }
    for (auto& client : peers) disconnectPeer(client.peer);
    return perSecond;
}

std::optional<pid_t> ownerOf(GDBusConnection* bus, const std::string& busName) {
    GVariant* reply =
        callDBus(bus, "GetConnectionUnixProcessID", g_variant_new("(s)", busName.c_str()), "(u)");
    if (reply == nullptr) return std::nullopt;
    guint32 pid = 0;
    g_variant_get(reply, "(u)", &pid);
    g_variant_unref(reply);
    return static_cast<pid_t>(pid);
}

bool stopService(GDBusConnection* bus, const Service& service) {
    bool released = false;
    const guint subscription = g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus",
        service.busName.c_str(), G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
           gpointer data) {
            const gchar* newOwner = nullptr;
            g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &newOwner);
            if (newOwner[0] == '\0') *static_cast<bool*>(data) = true;
        },
        &released, nullptr);
    const auto owner = ownerOf(bus, service.busName);
    if (owner) {
        ::kill(*owner, SIGTERM);
        if (!waitForEnd(*owner, 10000)) {
            g_printerr("%s (pid %d) did not end on SIGTERM\n", service.busName.c_str(), *owner);
            ::kill(*owner, SIGKILL);
            waitForEnd(*owner, 10000);
        }
        iterateUntil([&] { return released; }, 10);
    }
    g_dbus_connection_signal_unsubscribe(bus, subscription);
    return !hasOwner(bus, service.busName);
}

std::optional<double> coldStart(GDBusConnection* bus, const Service& service) {
    if (hasOwner(bus, service.busName) && !stopService(bus, service)) return std::nullopt;
    const auto start = Clock::now();
    if (ping(bus, service) != true) return std::nullopt;
    return microsecondsSince(start) / 1000;
}

}  // namespace quillory_bench
