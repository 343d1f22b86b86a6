#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake/FakeDesktop.h"
#include "fake/FakeScheduler.h"
#include "platform/Accessibility.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/FileManager.h"
#include "platform/KeyboardEvents.h"
#include "platform/Log.h"
#include "platform/Posix.h"
#include "platform/ProcessInfo.h"

namespace fake {

class FakeBundle : public platform::Bundle {
public:
    std::string bundlePath() const override { return path; }
    std::optional<std::string> executablePath() const override { return executable; }
    std::optional<std::string> bundleIdentifier() const override { return identifier; }

    std::string path = "/Applications/Quillory Helper.app";
    std::optional<std::string> executable =
        "/Applications/Quillory Helper.app/Contents/MacOS/Quillory Helper";
    std::optional<std::string> identifier = "me.ombrel.quillory.autopastehelper";
};

// The current locale's translations, by English text.
class FakeLocalization : public platform::Localization {
public:
    std::string localizedString(const std::string& key) override {
        const auto found = translations.find(key);
        return found == translations.end() ? key : found->second;
    }
    std::map<std::string, std::string> translations;
};

class FakeProcessInfo : public platform::ProcessInfo {
public:
    std::map<std::string, std::string> environment() override { return environmentVariables; }
    platform::ProcessIdentifier processIdentifier() override { return pid; }
    void disableAutomaticTermination(const std::string& reason) override {
        automaticTerminationDisabledFor.push_back(reason);
    }
    bool isOperatingSystemAtLeast(platform::OperatingSystemVersion version) override;

    std::map<std::string, std::string> environmentVariables;
    platform::ProcessIdentifier pid = 400;
    platform::OperatingSystemVersion osVersion{15, 0, 0};
    std::vector<std::string> automaticTerminationDisabledFor;
};

// An in-memory file system: files, folders and symbolic links by absolute path.
class FakeFiles : public platform::FileManager {
public:
    std::optional<platform::FileAttributes> attributesOfItem(const std::string& path,
                                                             platform::Error* error) override;
    bool fileExists(const std::string& path) override;
    bool removeItem(const std::string& path, platform::Error* error) override;
    std::string homeDirectoryForCurrentUser() override { return home; }
    std::string resolvingSymlinksInPath(const std::string& path) override;

    void addFile(const std::string& path, std::uint64_t fileNumber = 1, platform::Date modified = {});
    void addFolder(const std::string& path);
    void addSymlink(const std::string& path, const std::string& target);
    // Replaces a file the way an installer does: a new file number and date.
    void replaceFile(const std::string& path, std::uint64_t fileNumber, platform::Date modified);
    void failRemoval(const std::string& path, std::string description) {
        removalFailures[path] = description;
    }

    std::string home = "/Users/ada";
    // Lets a test look at the world when a path is resolved (a location check).
    std::function<void(const std::string&)> onResolve;
    std::map<std::string, std::string> removalFailures;
    std::vector<std::string> removed;

private:
    struct Entry {
        bool isFolder = false;
        std::optional<std::string> linkTarget;
        platform::FileAttributes attributes;
    };
    std::optional<std::string> resolve(const std::string& path, int depth = 0) const;
    std::map<std::string, Entry> entries_;
};

class FakeClock : public platform::Clock {
public:
    explicit FakeClock(FakeScheduler& scheduler) : scheduler_(scheduler) {}
    platform::Date now() override { return wallBase + scheduler_.now() + wallOffset; }
    std::chrono::nanoseconds monotonicNow() override { return scheduler_.now(); }

    // The user sets the wall clock; monotonic time is untouched.
    void setWallClock(Nanos offset) { wallOffset = offset; }

    platform::Date wallBase = platform::Date(std::chrono::seconds(1'800'000'000));
    Nanos wallOffset{0};

private:
    FakeScheduler& scheduler_;
};

class FakePosix : public platform::Posix {
public:
    FakePosix(FakeScheduler& scheduler, FakeWorkspace& workspace)
        : scheduler_(scheduler), workspace_(workspace) {}
    int kill(platform::ProcessIdentifier pid, int signal) override {
        return workspace_.deliverSignal(pid, signal);
    }
    // Blocks the thread: virtual time passes, nothing else runs.
    void usleep(unsigned microseconds) override {
        sleeps.push_back(microseconds);
        scheduler_.sleep(std::chrono::microseconds(microseconds));
    }
    std::vector<unsigned> sleeps;

private:
    FakeScheduler& scheduler_;
    FakeWorkspace& workspace_;
};

class FakeAccessibility : public platform::Accessibility {
public:
    bool isProcessTrusted() override { return trusted; }
    bool requestPostEventAccess() override {
        ++requests;
        return trusted;
    }
    bool trusted = true;
    int requests = 0;
};

struct PostedKeyEvent {
    platform::VirtualKeyCode keyCode;
    bool keyDown;
    platform::EventFlags flags;
    platform::EventTapLocation tap;
    platform::EventSourceStateID sourceState;
    Nanos at;
    std::string queue;
};

class FakeKeyboardEvents : public platform::KeyboardEvents {
public:
    explicit FakeKeyboardEvents(FakeScheduler& scheduler) : scheduler_(scheduler) {}

    std::shared_ptr<platform::EventSource> createSource(platform::EventSourceStateID state) override;
    std::shared_ptr<platform::KeyboardEvent> createKeyboardEvent(platform::EventSource& source,
                                                                 platform::VirtualKeyCode keyCode,
                                                                 bool keyDown) override;
    void setFlags(platform::KeyboardEvent& event, platform::EventFlags flags) override;
    void post(platform::EventTapLocation tap, platform::KeyboardEvent& event) override;
    std::optional<platform::Error> unavailability() override { return whyUnavailable; }

    std::set<platform::EventSourceStateID> failingSourceStates;
    std::optional<platform::Error> whyUnavailable;
    // Key events that cannot be made, as (key code, key down).
    std::set<std::pair<platform::VirtualKeyCode, bool>> failingEvents;
    std::vector<platform::EventSourceStateID> sourceRequests;
    int eventsCreated = 0;
    std::vector<PostedKeyEvent> posted;

private:
    FakeScheduler& scheduler_;
};

struct PostedNotification {
    std::string name;
    bool deliverImmediately;
    Nanos at;
    std::string queue;
};

class FakeDistributedNotifications : public platform::DistributedNotificationCenter {
public:
    explicit FakeDistributedNotifications(FakeScheduler& scheduler) : scheduler_(scheduler) {}
    void postNotificationName(const std::string& name, bool deliverImmediately) override {
        posted.push_back(
            PostedNotification{name, deliverImmediately, scheduler_.now(), scheduler_.currentQueueLabel()});
        if (onPost) onPost(name);
    }
    // Lets a test look at the world at the moment a notification goes out.
    std::function<void(const std::string&)> onPost;
    std::size_t count(const std::string& name) const;
    std::vector<PostedNotification> posted;

private:
    FakeScheduler& scheduler_;
};

struct LoggedLine {
    platform::LogMessage message;
    std::string text;  // as the unified log shows it: private strings redacted
    Nanos at;
    std::string queue;
};

class FakeLog : public platform::LogSink {
public:
    explicit FakeLog(FakeScheduler& scheduler) : scheduler_(scheduler) {}
    void write(const platform::LogMessage& message) override;

    // The rendered texts of one category, in order.
    std::vector<std::string> texts(const std::string& category) const;
    std::size_t count(const std::string& text) const;
    const LoggedLine* find(const std::string& text) const;

    std::vector<LoggedLine> lines;

private:
    FakeScheduler& scheduler_;
};

}  // namespace fake
