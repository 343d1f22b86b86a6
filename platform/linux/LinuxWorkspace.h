#pragma once

#include <functional>
#include <map>
#include <mutex>

#include "LinuxDesktop.h"
#include "Processes.h"
#include "platform/Workspace.h"

namespace platform::linux_platform {

// The workspace's notification centre: activation notifications come from
// the desktop's window manager, and only while someone observes them.
class WorkspaceNotifications : public WorkspaceNotificationCenter {
public:
    // `startWatching` runs once, when the first observer of activations comes.
    explicit WorkspaceNotifications(std::function<void()> startWatching)
        : startWatching_(std::move(startWatching)) {}

    ObserverToken addObserver(std::string name, DispatchQueue& queue, Handler handler) override;
    void removeObserver(ObserverToken token) override;
    // Hands the notification to each observer of its name, on its queue.
    void post(const Notification& notification);

private:
    struct Observer {
        std::string name;
        DispatchQueue* queue;
        Handler handler;
    };
    std::function<void()> startWatching_;
    std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Observer> observers_;
};

class LinuxWorkspace : public Workspace {
public:
    // `desktop` may be null (no display). Launch completions run on
    // `systemQueue`.
    LinuxWorkspace(linux_desktop::Desktop* desktop, DispatchQueue& systemQueue);

    // From the active window: its application id, else the bundle of its
    // process's executable, else its window class.
    RunningApplicationRef frontmostApplication() override;
    std::vector<RunningApplicationRef> runningApplications(const std::string& bundleIdentifier) override;
    WorkspaceNotificationCenter& notificationCenter() override { return notifications_; }
    // Starts the bundle's executable in a session of its own. Without
    // createsNewApplicationInstance the new process itself hands a reopen to
    // a running instance, as any start does.
    void openApplication(const std::string& bundlePath, const OpenConfiguration& configuration,
                         OpenCompletion completion) override;
    // The desktop's default handler for the URL; false when there is none.
    bool openURL(const std::string& url) override;

private:
    void postActivation();

    linux_desktop::Desktop* desktop_;
    DispatchQueue& systemQueue_;
    WorkspaceNotifications notifications_;
    // The front window last read and its application; main thread only.
    std::optional<linux_desktop::FrontWindow> lastFrontWindow_;
    std::shared_ptr<LinuxRunningApplication> lastFront_;
};

// The environment marker of a launch that asks for a new instance: the
// process runs on its own even while another instance of its bundle runs.
inline constexpr const char* newInstanceVariable = "QUILLORY_NEW_INSTANCE";

}  // namespace platform::linux_platform
