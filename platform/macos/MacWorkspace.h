#pragma once

#include <cstdint>
#include <map>

#include "platform/Workspace.h"

@class NSRunningApplication;

namespace platform::macos {

// NSRunningApplication behind the seam; none for nil.
RunningApplicationRef wrapRunningApplication(NSRunningApplication* application);

// The shared workspace's own notification centre. Handlers for the main queue
// are delivered on the main operation queue, as AppKit code registers them;
// any other queue gets the notification handed on to it.
class MacWorkspaceNotificationCenter : public WorkspaceNotificationCenter {
public:
    explicit MacWorkspaceNotificationCenter(DispatchQueue& mainQueue) : mainQueue_(mainQueue) {}

    ObserverToken addObserver(std::string name, DispatchQueue& queue, Handler handler) override;
    void removeObserver(ObserverToken token) override;

private:
    DispatchQueue& mainQueue_;
    // Touched on the main thread only, where observers are added and removed.
    std::map<std::uint64_t, id> observers_;
    std::uint64_t nextId_ = 1;
};

// NSWorkspace.sharedWorkspace and NSRunningApplication.
class MacWorkspace : public Workspace {
public:
    explicit MacWorkspace(DispatchQueue& mainQueue) : notifications_(mainQueue) {}

    RunningApplicationRef frontmostApplication() override;
    std::vector<RunningApplicationRef> runningApplications(const std::string& bundleIdentifier) override;
    WorkspaceNotificationCenter& notificationCenter() override { return notifications_; }
    void openApplication(const std::string& bundlePath, const OpenConfiguration& configuration,
                         OpenCompletion completion) override;
    bool openURL(const std::string& url) override;

private:
    MacWorkspaceNotificationCenter notifications_;
};

}  // namespace platform::macos
