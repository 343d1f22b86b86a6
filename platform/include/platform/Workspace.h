#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/RunningApplication.h"

namespace platform {

inline constexpr const char* workspaceDidActivateApplicationNotification =
    "NSWorkspaceDidActivateApplicationNotification";
// User-info key of the activated application (a RunningApplicationRef).
inline constexpr const char* workspaceApplicationKey = "NSWorkspaceApplicationKey";

struct Notification {
    std::string name;
    std::optional<std::map<std::string, std::any>> userInfo;
};

struct ObserverToken {
    std::uint64_t id = 0;
};

// The workspace's own notification centre (not the process's default one).
class WorkspaceNotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    virtual ~WorkspaceNotificationCenter() = default;
    // Any sender; the handler runs on `queue`.
    virtual ObserverToken addObserver(std::string name, DispatchQueue& queue, Handler handler) = 0;
    virtual void removeObserver(ObserverToken token) = 0;
};

struct OpenConfiguration {
    bool createsNewApplicationInstance = false;
    bool activates = true;
    // Entries added to the new process's environment.
    std::map<std::string, std::string> environment;
};

class Workspace {
public:
    // Runs once, on a queue of the system's choosing.
    using OpenCompletion = std::function<void(RunningApplicationRef application, std::optional<Error> error)>;

    virtual ~Workspace() = default;

    // The application that now receives keystrokes, or none.
    virtual RunningApplicationRef frontmostApplication() = 0;
    virtual std::vector<RunningApplicationRef> runningApplications(const std::string& bundleIdentifier) = 0;
    virtual WorkspaceNotificationCenter& notificationCenter() = 0;
    virtual void openApplication(const std::string& bundlePath, const OpenConfiguration& configuration,
                                 OpenCompletion completion) = 0;
    virtual bool openURL(const std::string& url) = 0;

    static Workspace& shared();
};

}  // namespace platform
