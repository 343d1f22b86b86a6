#pragma once

#include <memory>
#include <optional>

#include "platform/RunningApplication.h"
#include "platform/Workspace.h"

namespace quillory {

// Remembers the last activated application that a paste may go to: anything
// but the main app and the helper itself. While the user picks a clip the
// main app is in front; this is the application they worked in before.
class PasteTargetTracker : public std::enable_shared_from_this<PasteTargetTracker> {
public:
    // Seeds from the front application and follows activations from then on.
    static std::shared_ptr<PasteTargetTracker> make();
    ~PasteTargetTracker();
    PasteTargetTracker(const PasteTargetTracker&) = delete;
    PasteTargetTracker& operator=(const PasteTargetTracker&) = delete;

    // Neither the main app nor any process with the helper's own bundle
    // identifier; compared by bundle identifier only.
    static bool isPasteTarget(const platform::RunningApplication& application);

    // The last activated paste target, or none until one is seen. Kept after
    // that application quits: whoever reads it checks isTerminated().
    platform::RunningApplicationRef lastExternalApp;

private:
    PasteTargetTracker() = default;
    void observeActivations();
    void applicationDidActivate(const platform::Notification& notification);

    std::optional<platform::ObserverToken> observer;
};

}  // namespace quillory
