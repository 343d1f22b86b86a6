#include "LoginItem.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "LogSubsystem.h"
#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/FileManager.h"
#include "platform/Log.h"
#include "platform/ServiceManagement.h"

namespace quillory::LoginItem {

namespace {

// A service that never answers an unregister request holds up the caller no longer than this.
constexpr double unregisterTimeoutSeconds = 10.0;

// Relative to the user's home folder; unlike the agent's property list, no ".agent" part.
constexpr const char* legacyLaunchAgentPath = "Library/LaunchAgents/me.ombrel.quillory.autopastehelper.plist";

const platform::Logger& log() {
    static const platform::Logger logger(logSubsystem, "LoginItem");
    return logger;
}

std::shared_ptr<platform::AppService> agentService() {
    return platform::ServiceManagement::shared().agent(agentPlistName);
}

}  // namespace

Outcome registerAgent() {
    const auto service = agentService();
    const std::int64_t status = service->status();
    switch (status) {
        case platform::appServiceEnabled:
            log().info("Agent already registered.");
            return Outcome::alreadyRegistered;
        case platform::appServiceRequiresApproval:
            log().info("Agent is turned off in System Settings → Login Items.");
            return Outcome::needsApproval;
        case platform::appServiceNotRegistered:
        case platform::appServiceNotFound: {
            platform::Error error;
            if (service->registerService(&error)) {
                log().info("Registered the agent.");
                return Outcome::registered;
            }
            log().error("Could not register the agent: %{public}s", error.localizedDescription);
            return Outcome::registrationFailed;
        }
        default:
            log().error("Unknown agent status %ld", status);
            return Outcome::registrationFailed;
    }
}

// The reply path and the timer path of one call share its done flag. Both
// reach it only on the main queue, so whichever gets there first finishes the
// call and the other finds it set. The timer is never cancelled.

void unregisterAgent(std::function<void()> completion) {
    const auto done = std::make_shared<bool>(false);
    const auto finish = [done, completion = std::move(completion)] {
        if (*done) return;
        *done = true;
        completion();
    };
    agentService()->unregister([finish](std::optional<platform::Error> error) {
        // On a queue of the service's choosing: log, then hand over.
        if (error) {
            log().error("Could not unregister the agent: %{public}s", error->localizedDescription);
        } else {
            log().info("Unregistered the agent.");
        }
        platform::DispatchQueue::main().async(finish);
    });
    platform::DispatchQueue::main().asyncAfter(unregisterTimeoutSeconds, finish);
}

void reloadAgent(std::function<void(bool)> completion) {
    const auto service = agentService();
    const auto done = std::make_shared<bool>(false);
    const auto registerAgain = [service, done, completion = std::move(completion)] {
        if (*done) return;
        // Set first: register() blocks, and nothing may start a second one.
        *done = true;
        platform::Error error;
        if (service->registerService(&error)) {
            log().info("Reloaded the agent.");
            completion(true);
        } else {
            log().error("Could not register the agent again: %{public}s", error.localizedDescription);
            completion(false);
        }
    };
    service->unregister([registerAgain](std::optional<platform::Error> error) {
        // A failed unregister does not stop the registration.
        if (error) log().error("Could not unregister the agent: %{public}s", error->localizedDescription);
        platform::DispatchQueue::main().async(registerAgain);
    });
    platform::DispatchQueue::main().asyncAfter(unregisterTimeoutSeconds, [done, registerAgain] {
        if (!*done) log().error("Unregistering the agent did not report back; registering anyway.");
        registerAgain();
    });
}

void removeLegacyLaunchAgent() {
    auto& files = platform::FileManager::shared();
    std::string path = files.homeDirectoryForCurrentUser();
    if (path.empty() || path.back() != '/') path += '/';
    path += legacyLaunchAgentPath;
    if (!files.fileExists(path)) return;
    // Only the file goes: launchd is not told and no job or process is stopped.
    platform::Error error;
    if (files.removeItem(path, &error)) {
        log().info("Removed the helper 1.x LaunchAgent at %{public}s", path);
    } else {
        log().error("Could not remove %{public}s: %{public}s", path, error.localizedDescription);
    }
}

void removePrototypeLoginItem() {
    auto& services = platform::ServiceManagement::shared();
    if (services.mainApp()->status() != platform::appServiceEnabled) return;
    platform::Error error;
    if (services.mainApp()->unregister(&error)) {
        log().info("Removed the app's own login item.");
    } else {
        log().error("Could not remove the app's own login item: %{public}s", error.localizedDescription);
    }
}

}  // namespace quillory::LoginItem
