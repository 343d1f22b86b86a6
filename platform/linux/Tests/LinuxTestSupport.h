#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace linux_test {

// Runs the default main context until `condition` holds or `seconds` have
// passed; true when it holds. Work of other threads wakes the context; a
// short tick re-checks conditions that change without it.
inline bool waitUntil(const std::function<bool()>& condition, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    GSource* tick = g_timeout_source_new(5);
    g_source_set_callback(
        tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
    g_source_attach(tick, nullptr);
    bool held = condition();
    while (!held && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        held = condition();
    }
    g_source_destroy(tick);
    g_source_unref(tick);
    return held;
}

// A connection of its own to a bus, the session bus unless told: another
// peer, with its own unique name.
inline GDBusConnection* newBusPeer(const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS")) {
    GError* error = nullptr;
    GDBusConnection* peer = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    EXPECT_NE(peer, nullptr) << error->message;
    g_clear_error(&error);
    return peer;
}

inline void writeText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

inline std::string readText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A fresh folder in the session's temporary home, which the session removes.
inline std::string freshFolder() {
    std::string pattern = std::string(g_getenv("HOME")) + "/test.XXXXXX";
    return g_mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

// A shell script for a terminal to run: it creates `ready` when it waits at
// its prompt, then writes the line it read, whole, to `typed`.
struct LineReader {
    std::string ready;
    std::string typed;
    std::string script;
};
inline LineReader writeLineReader() {
    const std::string folder = freshFolder();
    LineReader reader{folder + "/ready", folder + "/typed", folder + "/read-a-line"};
    writeText(reader.script, "touch '" + reader.ready + "'\nIFS= read -r line\nprintf '%s' \"$line\" > '" +
                                 reader.typed + ".part' && mv '" + reader.typed + ".part' '" + reader.typed +
                                 "'\n");
    return reader;
}

// An application bundle at `path` with that identifier, whose executable,
// `Contents/MacOS/<executable>`, holds `program`; returns the executable.
inline std::string writeBundle(const std::string& path, const std::string& identifier,
                               const std::string& executable, const std::string& program) {
    writeText(path + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>" +
                  identifier + "</string><key>CFBundleExecutable</key><string>" + executable +
                  "</string><key>CFBundleName</key><string>Test Helper</string></dict></plist>\n");
    const std::string executablePath = path + "/Contents/MacOS/" + executable;
    writeText(executablePath, program);
    std::filesystem::permissions(executablePath, std::filesystem::perms::owner_all);
    return executablePath;
}

// A process that can be watched for its end without being its parent.
class Watched {
public:
    explicit Watched(pid_t pid) : pid_(pid), pidfd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
    ~Watched() {
        if (pidfd_ >= 0) ::close(pidfd_);
    }
    Watched(const Watched&) = delete;
    Watched& operator=(const Watched&) = delete;

    pid_t pid() const { return pid_; }
    bool hasEnded() const {
        pollfd entry{pidfd_, POLLIN, 0};
        return pidfd_ < 0 || ::poll(&entry, 1, 0) != 0;
    }

private:
    pid_t pid_;
    int pidfd_;
};

}  // namespace linux_test
