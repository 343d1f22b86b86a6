#include "AlertBench.h"

#include <glib.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BusBench.h"

namespace quillory_bench {

namespace {

std::optional<std::uint32_t> cardinal(xcb_connection_t* c, xcb_window_t window, const char* name,
                                      xcb_atom_t type) {
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    if (atom == nullptr) return std::nullopt;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom->atom, type, 0, 1), nullptr);
    std::free(atom);
    std::optional<std::uint32_t> value;
    if (reply != nullptr && xcb_get_property_value_length(reply) == 4)
        value = *static_cast<std::uint32_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return value;
}

// The process of the active window, by _NET_WM_PID.
std::optional<pid_t> activeProcess(xcb_connection_t* c) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const auto window = cardinal(c, root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
    if (!window || *window == XCB_NONE) return std::nullopt;
    const auto pid = cardinal(c, *window, "_NET_WM_PID", XCB_ATOM_CARDINAL);
    return pid ? std::optional<pid_t>(static_cast<pid_t>(*pid)) : std::nullopt;
}

// The parent of a live process (not one that has ended), from /proc.
std::optional<pid_t> parentOf(const std::filesystem::path& process) {
    std::ifstream stat(process / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // "pid (name) state ppid ...": the name may hold anything, so from its end.
    const auto end = text.rfind(')');
    if (end == std::string::npos) return std::nullopt;
    std::istringstream rest(text.substr(end + 1));
    char state = 0;
    pid_t ppid = 0;
    if (!(rest >> state >> ppid) || state == 'Z') return std::nullopt;
    return ppid;
}

std::optional<pid_t> parentOf(pid_t pid) { return parentOf("/proc/" + std::to_string(pid)); }

bool hasChild(pid_t parent) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        const bool isProcess = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
        if (isProcess && parentOf(entry.path()) == parent) return true;
    }
    return false;
}

// What the bench waits for here sends no event to its main loop: checked
// every 50 ms.
bool waitFor(const std::function<bool()>& condition, double seconds) {
    const guint tick = g_timeout_add(
        50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    const bool held = iterateUntil(condition, seconds);
    g_source_remove(tick);
    return held;
}

bool run(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    gint status = 0;
    return g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                        nullptr, &status, nullptr) &&
           g_spawn_check_wait_status(status, nullptr);
}

}  // namespace

bool showAndDismissAlert(const std::string& helperExecutable, pid_t agent) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const auto fail = [&](const char* why) {
        std::fprintf(stderr, "The alert: %s\n", why);
        xcb_disconnect(c);
        return false;
    };
    if (xcb_connection_has_error(c)) return fail("no display");
    if (!run({helperExecutable})) return fail("opening the helper again failed");
    const bool inFront = waitFor(
        [&] {
            const auto process = activeProcess(c);
            return process && parentOf(*process) == agent;
        },
        20);
    if (!inFront) return fail("it did not come to the front");
    if (!run({"xdotool", "key", "Return"})) return fail("xdotool could not press Return");
    if (!waitFor([&] { return !hasChild(agent); }, 20)) return fail("Return did not end it");
    xcb_disconnect(c);
    return true;
}

}  // namespace quillory_bench
