#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/FakePlatform.h"
#include "main.h"

namespace quillory::testing {

inline constexpr const char* helperBundleIdentifier = "me.ombrel.quillory.autopastehelper";
inline constexpr const char* mainAppBundleIdentifier = "me.ombrel.quillory";
inline const std::string helperBundle = "/Applications/Quillory Helper.app";
inline const std::string helperExecutable = helperBundle + "/Contents/MacOS/Quillory Helper";

// One category's log as the unified log shows it, with levels: "info: …",
// "error: …". Every line is checked for the helper's subsystem.
inline std::vector<std::string> logOf(const fake::FakePlatform& desktop, const std::string& category) {
    std::vector<std::string> lines;
    for (const auto& line : desktop.log.lines) {
        if (line.message.category != category) continue;
        EXPECT_EQ(line.message.subsystem, "me.ombrel.quillory.autopastehelper");
        const char* level = line.message.level == platform::LogLevel::info    ? "info: "
                            : line.message.level == platform::LogLevel::error ? "error: "
                                                                              : "notice: ";
        lines.push_back(level + line.text);
    }
    return lines;
}

inline platform::Date at(long long seconds) { return platform::Date(std::chrono::seconds(seconds)); }

// A user's desktop with the helper installed in /Applications; the helper
// process itself has pid 400. Tests tell their story from here.
class HelperStory : public ::testing::Test {
protected:
    HelperStory() {
        desktop.bundle.path = helperBundle;
        desktop.bundle.executable = helperExecutable;
        desktop.files.addFile(helperExecutable, 7, at(1'700'000'000));
    }

    ~HelperStory() override {
        process::delegate.reset();
        process::application = nullptr;
    }

    // Starts the helper the way the system or the user would.
    void startHelper(std::optional<std::string> agentVariable) {
        if (agentVariable) desktop.process.environmentVariables["KVX_AUTOPASTE_AGENT"] = *agentVariable;
        desktop.workspace.launch(desktop.process.pid, desktop.bundle.identifier);
        EXPECT_EQ(helperMain(), 0);
    }

    fake::FakePlatform desktop;
};

}  // namespace quillory::testing
