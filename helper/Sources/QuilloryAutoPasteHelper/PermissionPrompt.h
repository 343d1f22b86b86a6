#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/Log.h"

namespace quillory {

// Explains in an alert why the helper needs the permission to post events and
// where to grant it. Never two alerts at once, and none within 600 s of the
// last one's dismissal. Main thread only.
class PermissionPrompt {
public:
    PermissionPrompt();

    // Shows the alert if one is due and returns once the user dismissed it;
    // otherwise returns at once.
    void showIfDue();

private:
    static const std::string& systemSettingsURL();
    static std::string instructions();

    const platform::Logger log;
    // Monotonic time of the last dismissal: setting the wall clock back must
    // not hold the next alert back.
    std::optional<std::chrono::nanoseconds> lastShown;
    bool isShowing = false;
};

}  // namespace quillory
