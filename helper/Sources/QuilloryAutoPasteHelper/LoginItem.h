#pragma once

#include <functional>

namespace quillory {

// The helper's only contact with the login-item service: registers its agent,
// registers it afresh, unregisters it, and removes earlier installations.
// Everything is called on the main thread; no error leaves as an exception.
namespace LoginItem {

enum class Outcome {
    // The agent was not registered (or not found) and registering succeeded.
    registered,
    // The service reports the agent enabled; nothing was changed.
    alreadyRegistered,
    // The user turned the agent off in Login Items; nothing was changed.
    needsApproval,
    // Registering failed, or the service reported a status the helper does not know.
    registrationFailed,
};

// The launch-agent property list inside the bundle that names the agent to the service.
inline constexpr const char* agentPlistName = "me.ombrel.quillory.autopastehelper.agent.plist";

// Synchronous: returns once the service has answered.
Outcome registerAgent();

// Returns at once. The completion runs exactly once on the main queue: when
// the service replies, or 10 seconds after the request if it has not.
void unregisterAgent(std::function<void()> completion);

// Unregisters, then registers again on the same service object once the
// service replies or 10 seconds have passed, whichever comes first. The
// completion runs exactly once on the main queue, with true if and only if
// registering again succeeded.
void reloadAgent(std::function<void(bool)> completion);

// Deletes the per-user LaunchAgent file (or folder) that version 1.x installed.
void removeLegacyLaunchAgent();

// Unregisters the login item of the application itself, if it is enabled.
void removePrototypeLoginItem();

}  // namespace LoginItem

}  // namespace quillory
