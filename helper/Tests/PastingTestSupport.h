#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "HelperTestSupport.h"

namespace quillory::testing {

// The helper (pid 400) among the user's applications and the main app.
class PastingStory : public HelperStory {
protected:
    void activate(const platform::RunningApplicationRef& application) {
        desktop.workspace.bringToFront(application);
        desktop.runUntilIdle();
    }

    // The posted key events, timed in milliseconds from `origin`: "⌘↓ 0x0 +30".
    std::vector<std::string> keyStrokes(fake::Nanos origin = {}) const {
        std::vector<std::string> strokes;
        for (const auto& event : desktop.keyboard.posted) {
            char text[64];
            std::snprintf(text, sizeof text, "%s%s 0x%llx %+g", event.keyCode == 55 ? "⌘" : "V",
                          event.keyDown ? "↓" : "↑", static_cast<unsigned long long>(event.flags),
                          std::chrono::duration<double, std::milli>(event.at - origin).count());
            strokes.push_back(text);
        }
        return strokes;
    }

    platform::RunningApplicationRef helper = desktop.workspace.launch(400, helperBundleIdentifier);
    platform::RunningApplicationRef mainApp = desktop.workspace.launch(500, mainAppBundleIdentifier);
    platform::RunningApplicationRef textEdit = desktop.workspace.launch(501, "com.apple.TextEdit");
    platform::RunningApplicationRef safari = desktop.workspace.launch(502, "com.apple.Safari");
};

}  // namespace quillory::testing
