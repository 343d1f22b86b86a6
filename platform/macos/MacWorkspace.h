#pragma once

#include <cstdint>
#include <map>

#include "platform/Workspace.h"

@class NSRunningApplication;

namespace platform::macos {

// NSRunningApplication behind the seam; none for nil.
RunningApplicationRef wrapRunningApplication(NSRunningApplication* application);

// The shared workspace's own notification centre; every notification is
// handed to the observer's queue.
class MacWorkspaceNotificationCenter : public WorkspaceNotificationCenter {
public:
    ObserverToken addObserver(std::string name, DispatchQueue& queue, Handler handler) override;
    void removeObserver(ObserverToken token) override;

private:
    // Touched on the main thread only, where observers are added and removed.
    std::map<std::uint64_t, id> observers_;
    std::uint64_t nextId_ = 1;
};

// NSWorkspace.sharedWorkspace and NSRunningApplication.
class MacWorkspace : public Workspace {
public:
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
