#include "LinuxLog.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

// The journal is written to with its native protocol rather than through
// libsystemd: loading that library and the ones it needs took a third of the
// agent's start-up time.
LinuxLog::LinuxLog(Destination destination, int fd, std::string identifier, std::string journalSocketPath)
    : destination_(destination),
      fd_(fd),
      identifier_(std::move(identifier)),
      journalSocketPath_(std::move(journalSocketPath)) {
    if (destination_ == Destination::journal) journal_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

LinuxLog::~LinuxLog() {
    if (journal_ >= 0) ::close(journal_);
}

LinuxLog::Destination LinuxLog::available() {
    struct stat status {};
    return ::stat(journalSocket, &status) == 0 && S_ISSOCK(status.st_mode) ? Destination::journal
                                                                           : Destination::stream;
}

std::string LinuxLog::journalEntry(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string entry;
    for (const auto& [name, value] : fields) {
        entry += name;
        if (value.find('\n') == std::string::npos) {
            entry += '=';
        } else {
            entry += '\n';
            std::uint64_t length = value.size();
            for (int byte = 0; byte < 8; ++byte, length >>= 8) entry += static_cast<char>(length & 0xff);
        }
        entry += value;
        entry += '\n';
    }
    return entry;
}

bool LinuxLog::sendToJournal(const LogMessage& message) {
    if (journal_ < 0) return false;
    const std::string entry = journalEntry({
        {"MESSAGE", renderLogMessage(message.format, message.arguments, true)},
        {"PRIORITY", std::to_string(priorityOf(message.level))},
        {"SYSLOG_IDENTIFIER", identifier_},
        {"LOG_SUBSYSTEM", message.subsystem},
        {"LOG_CATEGORY", message.category},
    });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (journalSocketPath_.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, journalSocketPath_.c_str(), journalSocketPath_.size() + 1);
    // A datagram is written whole or not at all, so threads never mix.
    ssize_t sent = 0;
    do {
        sent = ::sendto(journal_, entry.data(), entry.size(), MSG_NOSIGNAL,
                        reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(entry.size());
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
    // A journal that went away (or an entry it refused) still leaves the line.
    if (destination_ == Destination::journal && sendToJournal(message)) return;
    writeLine(message);
}

void LinuxLog::writeLine(const LogMessage& message) {
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
