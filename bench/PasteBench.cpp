#include "PasteBench.h"

#include <gio/gio.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "BenchServices.h"
#include "BusBench.h"
#include "PasteTiming.h"

namespace quillory_bench {

namespace {

using Clock = std::chrono::steady_clock;

using namespace paste_timing;

constexpr std::uint32_t keysymControlL = 0xffe3;
constexpr std::uint32_t keysymV = 0x0076;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t atom = XCB_ATOM_NONE;
    if (reply != nullptr) atom = reply->atom;
    std::free(reply);
    return atom;
}

struct KeyEvent {
    Clock::time_point at;
    bool press;
    xcb_keycode_t keycode;
};

// A top-level window that takes keyboard focus. A connection of its own,
// read by a thread of its own that does nothing else, notes when each key
// event reaches the window: the moment its socket became readable.
class TargetWindow {
public:
    TargetWindow() : stop_(::eventfd(0, EFD_CLOEXEC)) {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_KEY_PRESS |
                                                                 XCB_EVENT_MASK_KEY_RELEASE |
                                                                 XCB_EVENT_MASK_FOCUS_CHANGE};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 40, 40, 480, 320, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        const char title[] = "Quillory bench: paste target";
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            sizeof title - 1, title);
        const char windowClass[] = "quillory-bench\0QuilloryBenchTarget";
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            sizeof windowClass, windowClass);
        const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, intern(c_, "_NET_WM_PID"), XCB_ATOM_CARDINAL,
                            32, 1, &pid);
        // WM_HINTS with InputHint set: the window manager gives it focus.
        const std::uint32_t hints[9] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9,
                            hints);
        xcb_flush(c_);
        reader_ = std::thread([this] { read(); });
    }

    // Once a window manager runs: one that starts later may miss the window.
    void show() {
        xcb_map_window(c_, window_);
        xcb_flush(c_);
    }
    void hide() {
        xcb_unmap_window(c_, window_);
        xcb_flush(c_);
    }

    ~TargetWindow() {
        if (reader_.joinable()) {
            const std::uint64_t one = 1;
            if (::write(stop_, &one, sizeof one) < 0) std::perror("eventfd");
            reader_.join();
        }
        if (c_ != nullptr) xcb_disconnect(c_);
        ::close(stop_);
    }

    bool isOpen() const { return reader_.joinable(); }
    xcb_window_t window() const { return window_; }

    std::vector<KeyEvent> keys() {
        std::lock_guard lock(mutex_);
        return keys_;
    }
    void clearKeys() {
        std::lock_guard lock(mutex_);
        keys_.clear();
    }
    std::size_t keyCount() {
        std::lock_guard lock(mutex_);
        return keys_.size();
    }

private:
    void read() {
        const int fd = xcb_get_file_descriptor(c_);
        while (true) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;
            const auto now = Clock::now();
            if (fds[1].revents != 0) return;
            bool heardKey = false;
            while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
                const std::uint8_t type = event->response_type & ~0x80;
                if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                    const auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
                    std::lock_guard lock(mutex_);
                    keys_.push_back({now, type == XCB_KEY_PRESS, key->detail});
                    heardKey = true;
                }
                std::free(event);
            }
            if (heardKey) g_main_context_wakeup(nullptr);
            if (xcb_connection_has_error(c_)) return;
        }
    }

    xcb_connection_t* c_ = nullptr;
    xcb_window_t window_ = XCB_NONE;
    int stop_;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<KeyEvent> keys_;
};

// The display as the main thread sees it: activations through the window
// manager, as a pager asks for them, and the keyboard map.
class Display {
public:
    Display() : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_)) return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        activeWindow_ = intern(c_, "_NET_ACTIVE_WINDOW");
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c_);
    }
    ~Display() { xcb_disconnect(c_); }

    bool isOpen() const { return !xcb_connection_has_error(c_); }

    // True once an EWMH window manager runs.
    bool waitForWindowManager(double seconds = 10) {
        const xcb_atom_t check = intern(c_, "_NET_SUPPORTING_WM_CHECK");
        return waitFor([&] { return windowProperty(check) != XCB_NONE; }, seconds);
    }

    xcb_window_t activeWindow() { return windowProperty(activeWindow_); }

    // True once the window manager manages `window` (lists it as a client).
    bool waitUntilManaged(xcb_window_t window, double seconds = 10) {
        const xcb_atom_t clients = intern(c_, "_NET_CLIENT_LIST");
        return waitFor(
            [&] {
                xcb_get_property_reply_t* reply = xcb_get_property_reply(
                    c_, xcb_get_property(c_, 0, root_, clients, XCB_ATOM_WINDOW, 0, 4096), nullptr);
                bool listed = false;
                if (reply != nullptr) {
                    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
                    const int count = xcb_get_property_value_length(reply) / 4;
                    listed = std::find(windows, windows + count, window) != windows + count;
                }
                std::free(reply);
                return listed;
            },
            seconds);
    }

    // Asks the window manager to activate `window`; true once it is the active
    // one. Asked again after a while: a window manager may drop a request
    // that comes while it is still taking the window on.
    bool activate(xcb_window_t window, double seconds = 5) {
        for (double waited = 0; waited < seconds; waited += 0.5) {
            xcb_client_message_event_t message{};
            message.response_type = XCB_CLIENT_MESSAGE;
            message.format = 32;
            message.window = window;
            message.type = activeWindow_;
            message.data.data32[0] = 2;  // from a pager: the user's choice
            xcb_send_event(c_, 0, root_,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char*>(&message));
            xcb_flush(c_);
            if (waitFor([&] { return activeWindow() == window; }, 0.5)) return true;
        }
        std::fprintf(stderr, "Window 0x%x did not become active; 0x%x is\n", window, activeWindow());
        return false;
    }

    xcb_keycode_t keycodeFor(std::uint32_t keysym) { return bench::keycodeFor(c_, keysym); }

private:
    xcb_window_t windowProperty(xcb_atom_t property) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, root_, property, XCB_ATOM_WINDOW, 0, 1), nullptr);
        xcb_window_t window = XCB_NONE;
        if (reply != nullptr && xcb_get_property_value_length(reply) == 4)
            window = *static_cast<xcb_window_t*>(xcb_get_property_value(reply));
        std::free(reply);
        return window;
    }

    // Checks again at each property change of the root window.
    template <typename Condition>
    bool waitFor(Condition condition, double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (!condition()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()));
            while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) std::free(event);
        }
        return true;
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = XCB_NONE;
    xcb_atom_t activeWindow_ = XCB_ATOM_NONE;
};

// The main app's stand-in, running while this object lives.
class MainApp {
public:
    explicit MainApp(const std::string& program) {
        gchar* argv[] = {const_cast<gchar*>(program.c_str()), nullptr};
        int output = -1;
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                      &pid_, nullptr, &output, nullptr, &error)) {
            std::fprintf(stderr, "Cannot start %s: %s\n", program.c_str(), error->message);
            g_error_free(error);
            pid_ = -1;
            return;
        }
        // Its first line names its window.
        FILE* lines = ::fdopen(output, "r");
        if (lines == nullptr) {
            ::close(output);
            return;
        }
        char line[128] = {};
        if (std::fgets(line, sizeof line, lines) != nullptr && std::strncmp(line, "window ", 7) == 0)
            window_ = static_cast<xcb_window_t>(std::strtoul(line + 7, nullptr, 16));
        output_ = lines;
    }
    ~MainApp() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ != nullptr) std::fclose(output_);
    }
    xcb_window_t window() const { return window_; }

private:
    GPid pid_ = -1;
    FILE* output_ = nullptr;
    xcb_window_t window_ = XCB_NONE;
};

struct Paste {
    bool answered = false;
    bool result = false;
};

void pasteAnswered(GObject* source, GAsyncResult* result, gpointer data) {
    auto* paste = static_cast<Paste*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply != nullptr) {
        gboolean value = FALSE;
        g_variant_get(reply, "(b)", &value);
        paste->result = value != FALSE;
        g_variant_unref(reply);
    } else {
        std::fprintf(stderr, "Paste failed: %s\n", error->message);
        g_error_free(error);
    }
    paste->answered = true;
}

// When the reply reaches this process: noted by the bus connection's own
// thread as it reads the message, before it is handed to the main loop.
class ReplyClock {
public:
    explicit ReplyClock(GDBusConnection* peer)
        : peer_(peer), filter_(g_dbus_connection_add_filter(peer, noteReply, this, nullptr)) {}
    ~ReplyClock() { g_dbus_connection_remove_filter(peer_, filter_); }

    void reset() { at_ = 0; }
    // Of the one call outstanding.
    Clock::time_point repliedAt() const { return Clock::time_point(Clock::duration(at_.load())); }

private:
    static GDBusMessage* noteReply(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                   gpointer data) {
        const GDBusMessageType type = g_dbus_message_get_message_type(message);
        if (incoming && (type == G_DBUS_MESSAGE_TYPE_METHOD_RETURN || type == G_DBUS_MESSAGE_TYPE_ERROR))
            static_cast<ReplyClock*>(data)->at_ = Clock::now().time_since_epoch().count();
        return message;
    }

    GDBusConnection* peer_;
    guint filter_;
    std::atomic<Clock::rep> at_{0};
};

class Paster {
public:
    Paster(GDBusConnection* peer, TargetWindow& target, xcb_keycode_t control, xcb_keycode_t v)
        : peer_(peer), replies_(peer), target_(target), control_(control), v_(v) {}

    struct Timing {
        double firstKeyMs;    // from the call
        double replyAfterMs;  // from the fourth key
    };

    struct Outcome {
        bool answeredTrue = false;
        // When Control+V reached the target; none when it went elsewhere.
        std::optional<Timing> timing;
    };

    // One paste by `service`, and the keystroke that it should bring to the target.
    Outcome paste(const Service& service) {
        target_.clearKeys();
        replies_.reset();
        Paste paste;
        const auto start = Clock::now();
        g_dbus_connection_call(peer_, service.busName.c_str(), service.objectPath.c_str(),
                               service.interface.c_str(), "Paste", nullptr, G_VARIANT_TYPE("(b)"),
                               G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, pasteAnswered, &paste);
        // The keys are posted before the reply is sent; the target has them
        // soon after it, unless they went to another window.
        iterateUntil([&] { return paste.answered; }, 10);
        iterateUntil([&] { return target_.keyCount() >= 4; }, 0.5);
        const auto keys = target_.keys();
        iterateUntil([] { return false; }, pauseBetweenPastes);
        if (!paste.answered || !paste.result) {
            std::fprintf(stderr, "A paste was answered %s\n", paste.answered ? "false" : "not at all");
            return {};
        }
        const bool isControlV = keys.size() == 4 && keys[0].press && keys[0].keycode == control_ &&
                                keys[1].press && keys[1].keycode == v_ && !keys[2].press &&
                                keys[2].keycode == v_ && !keys[3].press && keys[3].keycode == control_;
        if (!isControlV) return {true, std::nullopt};
        return {true, Timing{millisecondsBetween(start, keys[0].at),
                             millisecondsBetween(keys[3].at, replies_.repliedAt())}};
    }

private:
    GDBusConnection* peer_;
    ReplyClock replies_;
    TargetWindow& target_;
    xcb_keycode_t control_;
    xcb_keycode_t v_;
};

}  // namespace

std::optional<PasteSamples> measurePastes(const std::string& mainAppStandin, int count) {
    Display display;
    TargetWindow target;
    if (!display.isOpen() || !target.isOpen() || !display.waitForWindowManager()) {
        std::fprintf(stderr, "No display with a window manager to paste on\n");
        return std::nullopt;
    }
    target.show();
    // openbox, just started, now and then leaves a window it was asked to
    // map unmapped; asking again brings it.
    if (!display.waitUntilManaged(target.window(), 2)) {
        target.hide();
        target.show();
        if (!display.waitUntilManaged(target.window())) {
            std::fprintf(stderr, "The window manager does not take on the target window\n");
            return std::nullopt;
        }
    }
    const xcb_keycode_t control = display.keycodeFor(keysymControlL);
    const xcb_keycode_t v = display.keycodeFor(keysymV);
    if (control == 0 || v == 0) {
        std::fprintf(stderr, "The keyboard map has no Control_L or v\n");
        return std::nullopt;
    }
    GDBusConnection* peer = connectPeer();
    if (peer == nullptr) return std::nullopt;

    PasteSamples samples;
    bool ok = display.waitUntilManaged(target.window()) && display.activate(target.window());
    if (!ok) std::fprintf(stderr, "The target window could not be activated\n");
    Paster paster(peer, target, control, v);

    // Pastes whose keystroke went to another window: the agent does not
    // check that a re-activation took effect, and on a busy machine the
    // window manager may take longer than the 60 ms it waits.
    int missed = 0;

    // The floor's paste, the target in front; false when it failed.
    const auto pasteFloor = [&](bool keep) {
        const auto outcome = paster.paste(floorService());
        if (outcome.timing && keep)
            samples.floorOverheadMs.push_back(outcome.timing->firstKeyMs - frontDelayMs);
        if (outcome.answeredTrue && !outcome.timing) ++missed;
        return outcome.answeredTrue;
    };

    // The target in front, helper and floor in turn.
    for (int i = 0; ok && i < warmUpPastes + count; ++i) {
        const auto outcome = paster.paste(helperService());
        ok = outcome.answeredTrue && pasteFloor(i >= warmUpPastes);
        if (outcome.answeredTrue && !outcome.timing) ++missed;
        if (ok && outcome.timing && i >= warmUpPastes) {
            samples.frontOverheadMs.push_back(outcome.timing->firstKeyMs - frontDelayMs);
            samples.replyAfterLastKeyMs.push_back(outcome.timing->replyAfterMs);
        }
    }

    // The main app in front, the target remembered by the agent.
    if (ok) {
        MainApp mainApp(mainAppStandin);
        ok = mainApp.window() != XCB_NONE && display.waitUntilManaged(mainApp.window()) &&
             display.activate(target.window());
        if (!ok) std::fprintf(stderr, "The main app's stand-in did not come up\n");
        iterateUntil([] { return false; }, trackerSettleSeconds);
        for (int i = 0; ok && i < warmUpPastes + count; ++i) {
            // The floor has nothing to re-activate: its paste goes to the target in front.
            ok = display.activate(target.window()) && pasteFloor(i >= warmUpPastes) &&
                 display.activate(mainApp.window());
            if (!ok) {
                std::fprintf(stderr, "The target or the main app's stand-in could not be activated\n");
                break;
            }
            const auto outcome = paster.paste(helperService());
            ok = outcome.answeredTrue;
            if (ok && !outcome.timing) ++missed;
            if (ok && outcome.timing && i >= warmUpPastes) {
                samples.reactivateOverheadMs.push_back(outcome.timing->firstKeyMs - reactivateDelayMs);
                samples.replyAfterLastKeyMs.push_back(outcome.timing->replyAfterMs);
            }
        }
    }
    disconnectPeer(peer);
    if (missed > 0) {
        std::printf("%d of %d pastes put Control+V into another window than the target.\n", missed,
                    4 * (warmUpPastes + count));
    }
    // More than a few would make the figures describe another machine.
    if (!ok || missed * 10 > count) return std::nullopt;
    return samples;
}

}  // namespace quillory_bench
