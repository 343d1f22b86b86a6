// The main app's side of the helper's contract on the session bus.
//   quillory-helper-client ping  [--timeout SECONDS]
//   quillory-helper-client paste [--timeout SECONDS]
//       Calls Ping() or Paste() and prints the reply. Exit status: 0 when the
//       reply is true, 1 when it is false, 2 when there is no reply.
//   quillory-helper-client watch [--count N] [--timeout SECONDS]
//       Prints "watching", then the name of each notification the helper
//       broadcasts (didStart, willStop), one a line. Exit status: 0 after N
//       notifications (never without --count), 1 when the time runs out first.
#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* busName = "_7RVD2LMQ5X.me.ombrel.quillory.autopaste";
constexpr const char* objectPath = "/me/ombrel/quillory/autopaste";
constexpr const char* interfaceName = "me.ombrel.quillory.AutoPasteHelperXPC";
constexpr const char* notificationPath = "/me/ombrel/quillory/helper";
constexpr const char* notificationInterface = "me.ombrel.quillory.helper";

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s ping|paste [--timeout SECONDS]\n"
                 "       %s watch [--count N] [--timeout SECONDS]\n",
                 program, program);
    return 2;
}

int call(GDBusConnection* bus, const char* method, double timeoutSeconds) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, busName, objectPath, interfaceName, method, nullptr,
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
                                                  static_cast<int>(timeoutSeconds * 1000), nullptr, &error);
    if (reply == nullptr) {
        std::fprintf(stderr, "%s() failed: %s\n", method, error->message);
        g_error_free(error);
        return 2;
    }
    gboolean value = FALSE;
    g_variant_get(reply, "(b)", &value);
    g_variant_unref(reply);
    std::printf("%s() -> %s\n", method, value ? "true" : "false");
    return value ? 0 : 1;
}

struct Watch {
    GMainLoop* loop;
    long remaining;
    int status;
};

void onNotification(GDBusConnection*, const char*, const char*, const char*, const char* member, GVariant*,
                    gpointer data) {
    auto* watch = static_cast<Watch*>(data);
    std::printf("%s\n", member);
    std::fflush(stdout);
    if (watch->remaining > 0 && --watch->remaining == 0) {
        watch->status = 0;
        g_main_loop_quit(watch->loop);
    }
}

gboolean onTimeout(gpointer data) {
    g_main_loop_quit(static_cast<Watch*>(data)->loop);
    return G_SOURCE_REMOVE;
}

int watch(GDBusConnection* bus, long count, double timeoutSeconds) {
    Watch state{g_main_loop_new(nullptr, FALSE), count, 1};
    g_dbus_connection_signal_subscribe(bus, nullptr, notificationInterface, nullptr, notificationPath,
                                       nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onNotification, &state, nullptr);
    // The bus handles requests in order: once this answers, the match rule
    // is in place and no notification can slip past.
    GVariant* id = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (id != nullptr) g_variant_unref(id);
    std::printf("watching\n");
    std::fflush(stdout);
    if (timeoutSeconds > 0) g_timeout_add(static_cast<guint>(timeoutSeconds * 1000), onTimeout, &state);
    g_main_loop_run(state.loop);
    g_main_loop_unref(state.loop);
    return state.status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(argv[0]);
    const std::string command = argv[1];
    double timeoutSeconds = command == "watch" ? 0 : 25;
    long count = 0;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeoutSeconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc && command == "watch") {
            count = std::atol(argv[++i]);
        } else {
            return usage(argv[0]);
        }
    }
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        std::fprintf(stderr, "No session bus: %s\n", error->message);
        g_error_free(error);
        return 2;
    }
    int status = 2;
    if (command == "ping") {
        status = call(bus, "Ping", timeoutSeconds);
    } else if (command == "paste") {
        status = call(bus, "Paste", timeoutSeconds);
    } else if (command == "watch") {
        status = watch(bus, count, timeoutSeconds);
    } else {
        status = usage(argv[0]);
    }
    g_object_unref(bus);
    return status;
}
