#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace desktop_test {

// The services the desktop relies on, backed by GLib's default main context
// as in the agent: the main queue, the log (kept in `logLines`) and plain
// English text. Installed while it lives.
class GLibPlatform : public platform::DispatchQueue, public platform::LogSink, public platform::Localization {
public:
    GLibPlatform();
    ~GLibPlatform();

    void async(WorkItem item) override;
    void asyncAfter(double seconds, WorkItem item) override;
    void write(const platform::LogMessage& message) override;
    std::string localizedString(const std::string& key) override { return key; }

    std::vector<std::string> logLines;
};

// Runs the main context until `condition` holds, at most `seconds`.
bool runUntil(const std::function<bool()>& condition, double seconds = 20);

// A program started by a test, its standard output read line by line on the
// main context. Ended (SIGTERM) and reaped when the object goes.
class Program {
public:
    explicit Program(std::vector<std::string> arguments);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    const std::vector<std::string>& lines() const { return lines_; }
    // The first line from `from` on that begins with `prefix`; waits for it.
    std::optional<std::string> waitForLine(const std::string& prefix, std::size_t from = 0,
                                           double seconds = 20);

private:
    pid_t pid_ = -1;
    std::vector<std::string> lines_;
    std::string partial_;  // the line being read
    unsigned watch_ = 0;
};

// Runs a command to its end; its exit status.
int run(std::vector<std::string> arguments);

// The user switches to a window; returns once the window manager has.
void switchTo(const std::string& window);

// The X window id of a visible window of the process; waits for one.
std::optional<std::string> windowOfProcess(pid_t pid, double seconds = 30);

// The X window id at the end of a "window ..." line.
std::string windowIdOf(const std::string& line);

// The parent of a running process; 0 when it has ended.
pid_t parentOf(pid_t pid);

// Whether an EWMH window manager runs on the display.
bool hasWindowManager();

// How many keys the X server holds down now; -1 when it cannot be asked.
int keysDown();

// A window manager that sets _NET_ACTIVE_WINDOW and honours activation
// requests, as a desktop session has: openbox, running once this returns.
class WindowManager {
public:
    WindowManager();
    bool isRunning() const { return isRunning_; }
    pid_t pid() const { return openbox_.pid(); }

private:
    Program openbox_;
    bool isRunning_ = false;
};

}  // namespace desktop_test
