#include "WaylandPasteBench.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BusBench.h"
#include "PasteTiming.h"

namespace quillory_bench {

namespace {

using Clock = std::chrono::steady_clock;

using namespace paste_timing;

// A window of tools/, as a native Wayland window; its lines read as they come.
class Window {
public:
    explicit Window(const std::string& program) {
        gchar* argv[] = {const_cast<gchar*>(program.c_str()), nullptr};
        gchar** envp = g_environ_setenv(g_get_environ(), "GDK_BACKEND", "wayland", TRUE);
        int output = -1;
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(nullptr, argv, envp, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_,
                                      nullptr, &output, nullptr, &error)) {
            std::fprintf(stderr, "Cannot start %s: %s\n", program.c_str(), error->message);
            g_error_free(error);
            pid_ = -1;
        } else {
            g_unix_set_fd_nonblocking(output, TRUE, nullptr);
            output_ = output;
        }
        g_strfreev(envp);
    }
    ~Window() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    std::size_t lineCount() {
        read();
        return lines_.size();
    }
    // A line from `from` on that begins with `prefix`, waited for.
    bool waitForLine(const std::string& prefix, std::size_t from = 0, double seconds = 10) {
        return iterateUntil(
            [&] {
                read();
                for (std::size_t i = from; i < lines_.size(); ++i)
                    if (lines_[i].rfind(prefix, 0) == 0) return true;
                return false;
            },
            seconds);
    }

    // Whether it has the keyboard, by its last focus or blur line.
    bool hasFocus() {
        read();
        for (auto line = lines_.rbegin(); line != lines_.rend(); ++line) {
            if (line->rfind("focus ", 0) == 0) return true;
            if (line->rfind("blur ", 0) == 0) return false;
        }
        return false;
    }

private:
    void read() {
        char buffer[4096];
        ssize_t count = 0;
        while (output_ >= 0 && (count = ::read(output_, buffer, sizeof buffer)) > 0)
            partial_.append(buffer, count);
        for (std::size_t end; (end = partial_.find('\n')) != std::string::npos; partial_.erase(0, end + 1))
            lines_.push_back(partial_.substr(0, end));
    }

    GPid pid_ = -1;
    int output_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
};

// One Paste, waited for: from the call to the reply, in ms; none unless true.
std::optional<double> pasteMs(GDBusConnection* peer, const Service& service) {
    const auto start = Clock::now();
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        peer, service.busName.c_str(), service.objectPath.c_str(), service.interface.c_str(), "Paste",
        nullptr, G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 25000, nullptr, &error);
    const auto end = Clock::now();
    if (reply == nullptr) {
        std::fprintf(stderr, "Paste to %s failed: %s\n", service.busName.c_str(), error->message);
        g_error_free(error);
        return std::nullopt;
    }
    gboolean value = FALSE;
    g_variant_get(reply, "(b)", &value);
    g_variant_unref(reply);
    if (value == FALSE) return std::nullopt;
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// As a click would; returns once sway has.
bool focus(const std::string& appId) {
    std::string criteria = "[app_id=\"" + appId + "\"] focus";
    std::string program = "swaymsg";
    std::string quiet = "-q";
    gchar* argv[] = {program.data(), quiet.data(), criteria.data(), nullptr};
    gint status = -1;
    return g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr,
                        &status, nullptr) &&
           status == 0;
}

void pause(double seconds) {
    iterateUntil([] { return false; }, seconds);
}

}  // namespace

std::optional<PasteSamples> measureWaylandPastes(const std::string& mainAppStandin,
                                                 const std::string& pasteTarget, int count) {
    Window target(pasteTarget);
    if (!target.waitForLine("focus 0")) {
        std::fprintf(stderr, "The paste target did not get the keyboard\n");
        return std::nullopt;
    }
    GDBusConnection* peer = connectPeer();
    if (peer == nullptr) return std::nullopt;
    PasteSamples samples;
    bool ok = true;
    // The target in front: the helper and the floor in turn.
    for (int i = -warmUpPastes; ok && i < count; ++i) {
        for (const Service* service : {&helperService(), &floorService()}) {
            const auto ms = pasteMs(peer, *service);
            ok = ok && ms.has_value();
            if (ok && i >= 0)
                (service == &helperService() ? samples.frontOverheadMs : samples.floorOverheadMs)
                    .push_back(*ms - frontDelayMs);
            pause(pauseBetweenPastes);
        }
    }
    // The main app in front: the helper brings the target back.
    Window mainApp(mainAppStandin);
    ok = ok && mainApp.waitForLine("window ");
    for (int i = -warmUpPastes; ok && i < count; ++i) {
        // The stand-in came to the front as it opened, and after that the
        // target, each time.
        ok = focus("me.ombrel.quillory") && iterateUntil([&] { return !target.hasFocus(); }, 10);
        if (!ok) break;
        pause(trackerSettleSeconds);
        const std::size_t mark = target.lineCount();
        const auto ms = pasteMs(peer, helperService());
        ok = ms.has_value() && target.waitForLine("focus 0", mark);
        if (ok && i >= 0) samples.reactivateOverheadMs.push_back(*ms - reactivateDelayMs);
        pause(pauseBetweenPastes);
    }
    disconnectPeer(peer);
    if (!ok) return std::nullopt;
    return samples;
}

}  // namespace quillory_bench
