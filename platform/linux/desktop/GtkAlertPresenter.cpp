#include "GtkAlertPresenter.h"

#include <glib-unix.h>
#include <glib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "AlertAnswers.h"
#include "platform/Bundle.h"
#include "platform/Log.h"

namespace platform::linux_desktop {

namespace {

const Logger log{"me.ombrel.quillory.autopastehelper", "desktop"};

std::filesystem::path ownExecutable() {
    char executable[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
    return length > 0 ? std::string(executable, static_cast<std::size_t>(length)) : std::string();
}

// The program ships in the bundle's Contents/Libexec, beside Contents/MacOS;
// a program outside the bundle (a test) uses the one built.
std::string alertProgramPath() {
    std::error_code error;
    const auto beside = ownExecutable().parent_path() / ".." / "Libexec" / QUILLORY_ALERT_PROGRAM_NAME;
    if (std::filesystem::exists(beside, error)) return beside.lexically_normal().string();
    return QUILLORY_ALERT_PROGRAM_BUILT;
}

// GTK names the application after argv[0] (the window's class, the
// application a screen reader names): the agent's own name, as when the
// agent showed its alerts itself.
std::string programName() {
    if (const char* name = g_get_prgname()) return name;
    const std::string name = ownExecutable().filename().string();
    return name.empty() ? "Quillory Helper" : name;
}

// Reaps the alert process whenever it ends, also after the alert was
// answered or given up, so that no zombie stays behind.
void reapWhenEnded(GPid pid) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        g_child_watch_add(
            pid, [](GPid ended, gint, gpointer) { g_spawn_close_pid(ended); }, nullptr);
        return;
    }
    g_unix_fd_add(
        pidfd, G_IO_IN,
        [](gint fd, GIOCondition, gpointer ended) -> gboolean {
            ::waitpid(static_cast<pid_t>(GPOINTER_TO_INT(ended)), nullptr, WNOHANG);
            ::close(fd);
            return G_SOURCE_REMOVE;
        },
        GINT_TO_POINTER(pid));
}

ModalResponse notShown(const Alert& alert) {
    log.error("Could not show the alert \"%{public}s\": there is no display.", alert.messageText());
    return abortedResponse;
}

}  // namespace

struct GtkAlertPresenter::Showing {
    const ActivateWindow* activateWindow = nullptr;
    GMainLoop* loop = nullptr;
    int input = -1;   // the process's standard input; closing it ends the process
    int output = -1;  // its standard output
    guint outputSource = 0;
    std::string received;
    std::uint32_t window = 0;
    std::optional<ModalResponse> response;

    void finish(ModalResponse value) {
        if (response) return;
        response = value;
        // Gone at once, even while an alert above it still waits.
        ::close(input);
        input = -1;
        g_main_loop_quit(loop);
    }

    void handle(const std::string& line) {
        const std::string windowPrefix = windowLinePrefix;
        const std::string responsePrefix = responseLinePrefix;
        if (line.starts_with(windowPrefix)) {
            window =
                static_cast<std::uint32_t>(std::strtoul(line.c_str() + windowPrefix.size(), nullptr, 10));
            if (window != 0) (*activateWindow)(window);
        } else if (line.starts_with(responsePrefix)) {
            finish(std::strtol(line.c_str() + responsePrefix.size(), nullptr, 10));
        }
    }

    static gboolean onOutput(gint fd, GIOCondition, gpointer data) {
        auto* showing = static_cast<Showing*>(data);
        char buffer[512];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EAGAIN) return G_SOURCE_CONTINUE;
        if (count <= 0) {
            // Ended without an answer: it could not reach the display, or failed.
            showing->outputSource = 0;
            showing->finish(abortedResponse);
            return G_SOURCE_REMOVE;
        }
        showing->received.append(buffer, static_cast<std::size_t>(count));
        for (std::size_t end; (end = showing->received.find('\n')) != std::string::npos;) {
            const std::string line = showing->received.substr(0, end);
            showing->received.erase(0, end + 1);
            showing->handle(line);
        }
        return G_SOURCE_CONTINUE;
    }
};

GtkAlertPresenter::GtkAlertPresenter(ActivateWindow activateWindow, std::function<Environment()> environment)
    : activateWindow_(std::move(activateWindow)), environment_(std::move(environment)) {}

ModalResponse GtkAlertPresenter::runModal(const Alert& alert) {
    if (isDisplayLost_) return notShown(alert);
    const std::string program = alertProgramPath();
    std::vector<std::string> arguments{program, programName(), alert.messageText(), alert.informativeText()};
    arguments.insert(arguments.end(), alert.buttons().begin(), alert.buttons().end());
    // An alert given no button has one, as on macOS.
    if (alert.buttons().empty()) arguments.push_back(localized("OK"));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    gchar** envp = g_get_environ();
    for (const auto& [name, value] : environment_ ? environment_() : Environment{})
        envp = g_environ_setenv(envp, name.c_str(), value.c_str(), TRUE);

    GPid pid = 0;
    Showing showing;
    GError* error = nullptr;
    const bool spawned =
        g_spawn_async_with_pipes(nullptr, argv.data(), envp,
                                 static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD |
                                                          G_SPAWN_FILE_AND_ARGV_ZERO | G_SPAWN_CLOEXEC_PIPES),
                                 nullptr, nullptr, &pid, &showing.input, &showing.output, nullptr, &error);
    g_strfreev(envp);
    if (!spawned) {
        log.error("Could not start the alert process %{public}s: %{public}s", program,
                  std::string(error->message));
        g_error_free(error);
        return notShown(alert);
    }
    reapWhenEnded(pid);
    g_unix_set_fd_nonblocking(showing.output, TRUE, nullptr);
    showing.activateWindow = &activateWindow_;
    showing.loop = g_main_loop_new(nullptr, FALSE);
    showing.outputSource =
        g_unix_fd_add(showing.output, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                      Showing::onOutput, &showing);
    showing_.push_back(&showing);

    g_main_loop_run(showing.loop);

    showing_.erase(std::find(showing_.begin(), showing_.end(), &showing));
    if (showing.outputSource != 0) g_source_remove(showing.outputSource);
    ::close(showing.output);
    g_main_loop_unref(showing.loop);
    if (showing.response == abortedResponse && !isDisplayLost_) return notShown(alert);
    return *showing.response;
}

void GtkAlertPresenter::bringToFront() {
    if (showing_.empty() || isDisplayLost_) return;
    if (const std::uint32_t window = showing_.back()->window) activateWindow_(window);
}

void GtkAlertPresenter::displayLost() {
    isDisplayLost_ = true;
    for (Showing* showing : showing_) showing->finish(abortedResponse);
}

}  // namespace platform::linux_desktop
