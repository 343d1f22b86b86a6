#include "DesktopTestSupport.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "XcbConnection.h"

namespace desktop_test {

GLibPlatform::GLibPlatform() {
    platform::Services services;
    services.mainQueue = this;
    services.log = this;
    services.localization = this;
    platform::install(services);
}

GLibPlatform::~GLibPlatform() { platform::install({}); }

void GLibPlatform::async(WorkItem item) { asyncAfter(0, std::move(item)); }

void GLibPlatform::asyncAfter(double seconds, WorkItem item) {
    auto run = [](gpointer data) -> gboolean {
        (*static_cast<WorkItem*>(data))();
        return G_SOURCE_REMOVE;
    };
    auto destroy = [](gpointer data) { delete static_cast<WorkItem*>(data); };
    g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(seconds * 1000), run,
                       new WorkItem(std::move(item)), destroy);
}

void GLibPlatform::write(const platform::LogMessage& message) {
    logLines.push_back(message.category + ": " +
                       platform::renderLogMessage(message.format, message.arguments, false));
}

bool runUntil(const std::function<bool()>& condition, double seconds) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
    // Most conditions follow an event on the main context; the tick bounds
    // the wait for the others and for the deadline.
    guint tick = g_timeout_add(
        50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool held = condition();
    while (!held && g_get_monotonic_time() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        held = condition();
    }
    g_source_remove(tick);
    return held;
}

namespace {

// The argument vector of a command line, for g_spawn.
std::vector<char*> argvOf(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return argv;
}

}  // namespace

Program::Program(std::vector<std::string> arguments) {
    int output = -1;
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, argvOf(arguments).data(), nullptr,
                                  static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                                  nullptr, nullptr, &pid_, nullptr, &output, nullptr, &error)) {
        ADD_FAILURE() << "Could not start " << arguments[0] << ": " << error->message;
        g_error_free(error);
        pid_ = -1;
        return;
    }
    auto readLines = [](GIOChannel* channel, GIOCondition, gpointer data) -> gboolean {
        auto* program = static_cast<Program*>(data);
        char buffer[4096];
        gsize count = 0;
        GIOStatus status = g_io_channel_read_chars(channel, buffer, sizeof buffer, &count, nullptr);
        program->partial_.append(buffer, count);
        for (std::size_t end; (end = program->partial_.find('\n')) != std::string::npos;) {
            program->lines_.push_back(program->partial_.substr(0, end));
            program->partial_.erase(0, end + 1);
        }
        if (status == G_IO_STATUS_NORMAL || status == G_IO_STATUS_AGAIN) return G_SOURCE_CONTINUE;
        program->watch_ = 0;
        return G_SOURCE_REMOVE;
    };
    GIOChannel* channel = g_io_channel_unix_new(output);
    g_io_channel_set_close_on_unref(channel, TRUE);
    g_io_channel_set_encoding(channel, nullptr, nullptr);
    g_io_channel_set_flags(channel, G_IO_FLAG_NONBLOCK, nullptr);
    watch_ = g_io_add_watch(channel, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), readLines, this);
    g_io_channel_unref(channel);
}

Program::~Program() {
    if (watch_ != 0) g_source_remove(watch_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        g_spawn_close_pid(pid_);
    }
}

std::optional<std::string> Program::waitForLine(const std::string& prefix, std::size_t from, double seconds) {
    std::optional<std::string> found;
    runUntil(
        [&] {
            for (std::size_t i = from; i < lines_.size(); ++i) {
                if (lines_[i].rfind(prefix, 0) == 0) {
                    found = lines_[i];
                    return true;
                }
            }
            return false;
        },
        seconds);
    return found;
}

int run(std::vector<std::string> arguments) {
    int status = -1;
    GError* error = nullptr;
    if (!g_spawn_sync(nullptr, argvOf(arguments).data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                      nullptr, nullptr, &status, &error)) {
        ADD_FAILURE() << "Could not run " << arguments[0] << ": " << error->message;
        g_error_free(error);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void switchTo(const std::string& window) {
    EXPECT_EQ(run({"xdotool", "windowactivate", "--sync", window}), 0);
}

std::optional<std::string> windowOfProcess(pid_t pid, double seconds) {
    std::optional<std::string> window;
    runUntil(
        [&] {
            std::vector<std::string> arguments{"xdotool", "search", "--onlyvisible", "--pid",
                                               std::to_string(pid)};
            gchar* output = nullptr;
            int status = -1;
            if (g_spawn_sync(nullptr, argvOf(arguments).data(), nullptr,
                             static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                             nullptr, nullptr, &output, nullptr, &status, nullptr) &&
                WIFEXITED(status) && WEXITSTATUS(status) == 0 && output != nullptr) {
                const std::string first(output, std::strcspn(output, "\n"));
                if (!first.empty()) window = first;
            }
            g_free(output);
            return window.has_value();
        },
        seconds);
    return window;
}

std::string windowIdOf(const std::string& line) { return line.substr(line.rfind(' ') + 1); }

bool hasWindowManager() {
    using platform::linux_desktop::XcbConnection;
    auto connection = XcbConnection::open();
    if (!connection) return false;
    auto check = connection->cardinals(
        connection->root(), connection->atom(XcbConnection::Atom::netSupportingWmCheck), XCB_ATOM_WINDOW);
    return check && check->size() == 1;
}

int keysDown() {
    auto connection = platform::linux_desktop::XcbConnection::open();
    if (!connection) return -1;
    xcb_connection_t* c = connection->raw();
    xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
    if (keymap == nullptr) return -1;
    int down = 0;
    for (const std::uint8_t bits : keymap->keys) down += std::popcount(bits);
    std::free(keymap);
    return down;
}

WindowManager::WindowManager() : openbox_(std::vector<std::string>{"openbox", "--sm-disable"}) {
    isRunning_ = runUntil(hasWindowManager);
    if (!isRunning_) {
        ADD_FAILURE() << "openbox did not come up: "
                      << (openbox_.lines().empty() ? std::string("(no output)") : openbox_.lines().back());
    }
}

pid_t parentOf(pid_t pid) {
    gchar* stat = nullptr;
    if (!g_file_get_contents(("/proc/" + std::to_string(pid) + "/stat").c_str(), &stat, nullptr, nullptr))
        return 0;
    // "pid (name) state ppid ...": the name may hold anything, so from its end.
    const char* end = std::strrchr(stat, ')');
    char state = 0;
    int parent = 0;
    const bool read = end != nullptr && std::sscanf(end + 1, " %c %d", &state, &parent) == 2;
    g_free(stat);
    return read && state != 'Z' ? static_cast<pid_t>(parent) : 0;
}

}  // namespace desktop_test
