#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LinuxDesktop.h"
#include "platform/RunningApplication.h"

// Running processes, from /proc.
namespace platform::linux_platform {

// The executable a process runs, even when the file was deleted or replaced
// since it started (the kernel then adds " (deleted)", which is removed).
std::optional<std::string> executableOfProcess(ProcessIdentifier pid);

// The processes of this user whose executable lies in a bundle with that
// identifier, by ascending process identifier.
std::vector<ProcessIdentifier> processesOfBundle(const std::string& bundleIdentifier);

// A process as a running application. It holds a pidfd from the start, so
// that isTerminated stays true once the process ended, even if its number
// is given to another process. An application known only by a window that
// names no process ends with that window.
class LinuxRunningApplication : public RunningApplication {
public:
    LinuxRunningApplication(ProcessIdentifier pid, std::optional<std::string> bundleIdentifier,
                            linux_desktop::Desktop* desktop, linux_desktop::WindowHandle window = 0);
    ~LinuxRunningApplication() override;
    LinuxRunningApplication(const LinuxRunningApplication&) = delete;
    LinuxRunningApplication& operator=(const LinuxRunningApplication&) = delete;

    std::optional<std::string> bundleIdentifier() const override { return bundleIdentifier_; }
    ProcessIdentifier processIdentifier() const override { return pid_; }
    bool isTerminated() const override;
    // Asks the window manager to bring the process's window forward (the
    // window itself when it names no process); false without a desktop.
    bool activate(ApplicationActivationOptions options) override;

private:
    ProcessIdentifier pid_;
    std::optional<std::string> bundleIdentifier_;
    linux_desktop::Desktop* desktop_;
    linux_desktop::WindowHandle window_;
    int pidfd_;
};

}  // namespace platform::linux_platform
