#include "Processes.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "Bundles.h"

namespace platform::linux_platform {

namespace {

constexpr std::string_view deletedSuffix = " (deleted)";

int openPidfd(ProcessIdentifier pid) {
    return pid > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)) : -1;
}

// Readable once the process has ended.
bool hasEnded(int pidfd) {
    pollfd entry{pidfd, POLLIN, 0};
    return ::poll(&entry, 1, 0) != 0;
}

}  // namespace

std::optional<std::string> executableOfProcess(ProcessIdentifier pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    if (target.ends_with(deletedSuffix)) target.resize(target.size() - deletedSuffix.size());
    return target;
}

std::vector<ProcessIdentifier> processesOfBundle(const std::string& bundleIdentifier) {
    std::vector<ProcessIdentifier> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return found;
    const int procFd = ::dirfd(proc);
    const uid_t user = ::geteuid();
    while (const dirent* entry = procFd >= 0 ? ::readdir(proc) : nullptr) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        struct stat status {};
        if (::fstatat(procFd, entry->d_name, &status, 0) != 0 || status.st_uid != user) continue;
        const auto executable = executableOfProcess(static_cast<ProcessIdentifier>(pid));
        if (!executable) continue;
        const auto bundle = bundleOfExecutable(*executable);
        if (bundle && bundle->identifier == bundleIdentifier)
            found.push_back(static_cast<ProcessIdentifier>(pid));
    }
    ::closedir(proc);
    std::sort(found.begin(), found.end());
    return found;
}

LinuxRunningApplication::LinuxRunningApplication(ProcessIdentifier pid,
                                                 std::optional<std::string> bundleIdentifier,
                                                 linux_desktop::Desktop* desktop,
                                                 linux_desktop::WindowHandle window)
    : pid_(pid),
      bundleIdentifier_(std::move(bundleIdentifier)),
      desktop_(desktop),
      window_(window),
      pidfd_(openPidfd(pid)) {}

LinuxRunningApplication::~LinuxRunningApplication() {
    if (pidfd_ >= 0) ::close(pidfd_);
}

bool LinuxRunningApplication::isTerminated() const {
    if (pidfd_ >= 0) return hasEnded(pidfd_);
    // A window that names no process: it is the application, and its closing the end.
    if (pid_ <= 0) return desktop_ != nullptr && window_ != 0 && !desktop_->windowExists(window_);
    // No pidfd, mostly because the process was gone before it was looked at.
    return ::kill(pid_, 0) != 0 && errno == ESRCH;
}

bool LinuxRunningApplication::activate(ApplicationActivationOptions) {
    if (desktop_ == nullptr || isTerminated()) return false;
    if (pid_ > 0) return desktop_->activateProcess(pid_);
    return window_ != 0 && desktop_->activateWindow(window_);
}

}  // namespace platform::linux_platform
