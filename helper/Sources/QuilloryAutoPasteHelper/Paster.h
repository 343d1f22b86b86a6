#pragma once

#include <functional>
#include <memory>

#include "PasteTargetTracker.h"
#include "PermissionPrompt.h"
#include "platform/Log.h"

namespace quillory {

// Carries out one paste per request: brings back the application the user
// worked in, presses Command-V into it and reports whether the keystroke could
// be posted. Main thread only. Create it with std::make_shared: each request
// is a chain of main-queue work items, and every pending one keeps the Paster.
class Paster : public std::enable_shared_from_this<Paster> {
public:
    Paster();

    // Returns at once. The completion runs later on the main queue, exactly
    // once: true when the four key events were posted, false when they could
    // not be made (then none was posted). True does not mean the target
    // received them, nor that the permission to post events was granted.
    void paste(std::function<void(bool)> completion);

private:
    // Runs `then` at once, or 0.06 s after re-activating the remembered target.
    void focusPasteTarget(std::function<void()> then);
    bool postCommandV();

    const platform::Logger log;
    const std::shared_ptr<PasteTargetTracker> tracker;
    const std::unique_ptr<PermissionPrompt> permissionPrompt;
};

}  // namespace quillory
