#include <gtest/gtest.h>

#include "PasteTargetTracker.h"
#include "PastingTestSupport.h"

namespace quillory {
namespace {

class PasteTargetTracking : public testing::PastingStory {};

TEST_F(PasteTargetTracking, APasteTargetIsAnythingButTheMainAppAndTheHelperByBundleIdentifier) {
    const auto isTarget = [](const platform::RunningApplicationRef& app) {
        return PasteTargetTracker::isPasteTarget(*app);
    };
    EXPECT_TRUE(isTarget(textEdit));
    EXPECT_FALSE(isTarget(mainApp));
    EXPECT_FALSE(isTarget(helper));
    EXPECT_FALSE(isTarget(desktop.workspace.launch(401, testing::helperBundleIdentifier)));  // another copy
    EXPECT_TRUE(isTarget(desktop.workspace.launch(503, "Me.Ombrel.Quillory")));  // exact comparison
    const auto unnamed = desktop.workspace.launch(504, std::nullopt);
    EXPECT_TRUE(isTarget(unnamed));
    // A helper without a bundle identifier takes every unnamed process for itself.
    desktop.bundle.identifier.reset();
    EXPECT_FALSE(isTarget(unnamed));
    EXPECT_TRUE(isTarget(safari));
}

TEST_F(PasteTargetTracking, RemembersTheLastExternalApplicationThroughTheMainAppAndTheHelper) {
    desktop.workspace.setFrontmost(mainApp);
    const auto tracker = PasteTargetTracker::make();
    EXPECT_EQ(tracker->lastExternalApp, nullptr);

    activate(textEdit);
    activate(mainApp);  // the user picks a clip
    activate(helper);   // the helper's own alert
    EXPECT_EQ(tracker->lastExternalApp, textEdit);

    const auto unnamed = desktop.workspace.launch(504, std::nullopt);
    activate(unnamed);
    EXPECT_EQ(tracker->lastExternalApp, unnamed);
    activate(safari);
    desktop.workspace.quit(502);
    EXPECT_EQ(tracker->lastExternalApp, safari);

    // Notifications without a usable application change nothing.
    const std::string name = platform::workspaceDidActivateApplicationNotification;
    const std::string key = platform::workspaceApplicationKey;
    using UserInfo = std::map<std::string, std::any>;
    desktop.workspace.center().post({name, std::nullopt});
    desktop.workspace.center().post({name, UserInfo{}});
    desktop.workspace.center().post({name, UserInfo{{key, std::string("com.apple.TextEdit")}}});
    desktop.workspace.center().post({name, UserInfo{{key, platform::RunningApplicationRef{}}}});
    desktop.runUntilIdle();
    EXPECT_EQ(tracker->lastExternalApp, safari);
}

}  // namespace
}  // namespace quillory
