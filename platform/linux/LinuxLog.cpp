#include "LinuxLog.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform::linux_platform {

namespace {

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::info:
            return "info";
        case LogLevel::notice:
            return "notice";
        case LogLevel::error:
            return "error";
    }
    return "notice";
}

int priorityOf(LogLevel level) {
    switch (level) {
        case LogLevel::info:
            return LOG_INFO;
        case LogLevel::notice:
            return LOG_NOTICE;
        case LogLevel::error:
            return LOG_ERR;
    }
    return LOG_NOTICE;
}

}  // namespace

LinuxLog::LinuxLog(Destination destination, int fd, std::string identifier)
    : destination_(destination), fd_(fd), identifier_(std::move(identifier)) {}

LinuxLog::Destination LinuxLog::available() {
    struct stat status {};
    return ::stat("/run/systemd/journal/socket", &status) == 0 && S_ISSOCK(status.st_mode)
               ? Destination::journal
               : Destination::stream;
}

std::string LinuxLog::line(const LogMessage& message, std::chrono::system_clock::time_point at) {
    const auto sinceEpoch = at.time_since_epoch();
    const time_t seconds =
        static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count());
    const long microseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch % std::chrono::seconds(1)).count());
    struct tm local {};
    ::localtime_r(&seconds, &local);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char zone[16];
    std::strftime(zone, sizeof zone, "%z", &local);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%s.%06ld%s", date, microseconds, zone);
    return std::string(stamp) + " " + levelName(message.level) + " " + message.subsystem + ":" +
           message.category + " " + renderLogMessage(message.format, message.arguments, true);
}

void LinuxLog::write(const LogMessage& message) {
    if (destination_ == Destination::journal) {
        const std::string text = renderLogMessage(message.format, message.arguments, true);
        sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=%d", priorityOf(message.level),
                        "SYSLOG_IDENTIFIER=%s", identifier_.c_str(), "LOG_SUBSYSTEM=%s",
                        message.subsystem.c_str(), "LOG_CATEGORY=%s", message.category.c_str(), nullptr);
        return;
    }
    // One write per line, so that lines of several threads never mix.
    const std::string text = line(message, std::chrono::system_clock::now()) + "\n";
    // A reader that went away must not end the process: SIGPIPE is held
    // back for this write and taken if it raised one.
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    std::size_t written = 0;
    bool brokenPipe = false;
    while (written < text.size()) {
        const ssize_t result = ::write(fd_, text.data() + written, text.size() - written);
        if (result < 0 && errno == EINTR) continue;
        if (result < 0 && errno == EPIPE) brokenPipe = true;
        if (result <= 0) break;
        written += static_cast<std::size_t>(result);
    }
    if (brokenPipe && !wasPending) {
        const timespec now{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace platform::linux_platform
