#include <gtest/gtest.h>

#include "Paster.h"
#include "PastingTestSupport.h"

namespace quillory {
namespace {

using fake::Nanos;
using fake::seconds;
using Texts = std::vector<std::string>;

const std::string permissionMissing =
    "Paste requested but the permission to post events looks missing; trying anyway.";
const std::string couldNotCreate = "Could not create the \u2318V keyboard events.";
const std::string nothingToReactivate =
    "No earlier app to paste into; posting \u2318V to the current frontmost app.";

// Command-V as posted, in milliseconds from the request; `second` follows it.
Texts commandVAt(int ms, int second = -1) {
    Texts strokes;
    for (const int at : {ms, second}) {
        if (at < 0) continue;
        for (const auto& [stroke, offset] :
             {std::pair{"⌘↓ 0x0 +", 0}, {"V↓ 0x100000 +", 8}, {"V↑ 0x100000 +", 16}, {"⌘↑ 0x0 +", 24}}) {
            strokes.push_back(stroke + std::to_string(at + offset));
        }
    }
    return strokes;
}

class PasterStory : public testing::PastingStory {
protected:
    void requestPaste(Paster& paster) {
        paster.paste([this](bool value) {
            completions.push_back(value);
            completedAt.push_back(desktop.scheduler.now());
            EXPECT_TRUE(desktop.scheduler.isOnMainQueue());
        });
    }

    // Requests pastes back to back and lets them run to their end; returns the
    // key events, timed from the request. The log then holds their lines only.
    Texts pasteAndSettle(Paster& paster, int requests = 1) {
        desktop.keyboard.posted.clear();
        desktop.log.lines.clear();
        completions.clear();
        completedAt.clear();
        requestedAt = desktop.scheduler.now();
        for (int i = 0; i < requests; ++i) requestPaste(paster);
        desktop.advance(1);
        return keyStrokes(requestedAt);
    }

    std::vector<bool> completions;
    std::vector<Nanos> completedAt;
    Nanos requestedAt{};
};

TEST_F(PasterStory, PastesAtOnceIntoAFrontApplicationThatIsATarget) {
    desktop.workspace.setFrontmost(mainApp);
    auto paster = std::make_shared<Paster>();
    activate(safari);
    // TextEdit comes to the front unannounced: the front one wins over the remembered one.
    desktop.workspace.setFrontmost(textEdit);

    requestPaste(*paster);
    EXPECT_TRUE(completions.empty());
    // The caller may let go at once: the pending work keeps the Paster.
    const std::weak_ptr<Paster> weak = paster;
    paster.reset();

    desktop.advance(0.1);
    EXPECT_EQ(keyStrokes(), commandVAt(30));
    for (const auto& event : desktop.keyboard.posted) {
        EXPECT_EQ(event.tap, platform::sessionEventTap);
        EXPECT_EQ(event.sourceState, platform::eventSourceStateCombinedSessionState);
    }
    EXPECT_EQ(desktop.posix.sleeps, (std::vector<unsigned>{8000, 8000, 8000}));
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(completedAt, std::vector<Nanos>{seconds(0.054)});
    EXPECT_TRUE(desktop.workspace.activations.empty());
    EXPECT_EQ(desktop.log.texts("paste"), Texts{"Posting ⌘V; com.apple.TextEdit is already in front."});

    // Alive until its permission re-check, 0.15 s after the completion, has run.
    EXPECT_FALSE(weak.expired());
    desktop.advance(0.104);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(desktop.workspace.center().observerCount(), 0u);
}

TEST_F(PasterStory, BringsBackTheApplicationTheUserWorkedInOrElsePostsToWhateverIsInFront) {
    desktop.workspace.setFrontmost(mainApp);
    auto paster = std::make_shared<Paster>();
    EXPECT_EQ(pasteAndSettle(*paster), commandVAt(30));  // nothing remembered yet
    EXPECT_EQ(desktop.log.texts("paste"), Texts{nothingToReactivate});

    activate(textEdit);
    activate(mainApp);
    EXPECT_EQ(pasteAndSettle(*paster), commandVAt(90));
    ASSERT_EQ(desktop.workspace.activations.size(), 1u);
    EXPECT_EQ(desktop.workspace.activations[0].pid, 501);
    EXPECT_EQ(desktop.workspace.activations[0].options, platform::ApplicationActivationOptions::none);
    EXPECT_EQ(desktop.workspace.activations[0].at - requestedAt, seconds(0.03));
    EXPECT_EQ(desktop.log.texts("paste"), Texts{"Re-activating com.apple.TextEdit before pasting."});
    EXPECT_EQ(completedAt.at(0) - requestedAt, seconds(0.114));

    // The system may refuse the activation; the keystroke goes after the wait regardless.
    activate(mainApp);
    desktop.workspace.activationsTakeEffect = false;
    EXPECT_EQ(pasteAndSettle(*paster), commandVAt(90));
    desktop.workspace.activationsTakeEffect = true;

    // Two requests back to back run two chains: the first brings TextEdit
    // back and waits; meanwhile the second finds it in front and posts at once.
    EXPECT_EQ(pasteAndSettle(*paster, 2), commandVAt(30, 90));
    EXPECT_EQ(desktop.log.texts("paste"), (Texts{"Re-activating com.apple.TextEdit before pasting.",
                                                 "Posting ⌘V; com.apple.TextEdit is already in front."}));
    EXPECT_EQ(completions, (std::vector<bool>{true, true}));
    EXPECT_EQ(completedAt, (std::vector<Nanos>{requestedAt + seconds(0.054), requestedAt + seconds(0.114)}));

    // The remembered application has quit, or nothing at all is in front.
    desktop.workspace.quit(501);
    EXPECT_EQ(pasteAndSettle(*paster), commandVAt(30));
    EXPECT_EQ(desktop.log.texts("paste"), Texts{nothingToReactivate});
    desktop.workspace.setFrontmost(nullptr);
    EXPECT_EQ(pasteAndSettle(*paster), commandVAt(30));
    EXPECT_EQ(desktop.workspace.activations.size(), 3u);

    // An application without a bundle identifier is named "unknown".
    activate(desktop.workspace.launch(505, std::nullopt));
    activate(mainApp);
    pasteAndSettle(*paster);
    EXPECT_EQ(desktop.log.texts("paste"), Texts{"Re-activating unknown before pasting."});
}

TEST_F(PasterStory, PostsNothingUnlessAllFourEventsCanBeMade) {
    desktop.workspace.setFrontmost(textEdit);
    auto paster = std::make_shared<Paster>();

    // The combined-session source is unavailable: the HID-system source will do.
    desktop.keyboard.failingSourceStates = {platform::eventSourceStateCombinedSessionState};
    EXPECT_EQ(pasteAndSettle(*paster), commandVAt(30));
    EXPECT_EQ(desktop.keyboard.sourceRequests, (std::vector<platform::EventSourceStateID>{0, 1}));
    EXPECT_EQ(desktop.keyboard.posted.at(0).sourceState, platform::eventSourceStateHIDSystemState);
    EXPECT_EQ(completions, std::vector<bool>{true});

    // The third event (V up) cannot be made: no half keystroke, and the
    // permission re-check still follows.
    desktop.keyboard.failingSourceStates.clear();
    desktop.keyboard.failingEvents = {{9, false}};
    desktop.accessibility.trusted = false;
    EXPECT_EQ(pasteAndSettle(*paster), Texts{});
    EXPECT_EQ(completions, std::vector<bool>{false});
    EXPECT_EQ(completedAt.at(0) - requestedAt, seconds(0.03));
    EXPECT_EQ(
        desktop.log.texts("paste"),
        (Texts{permissionMissing, "Posting ⌘V; com.apple.TextEdit is already in front.", couldNotCreate}));
    EXPECT_EQ(desktop.log.find(couldNotCreate)->message.level, platform::LogLevel::error);
    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    EXPECT_EQ(desktop.alerts.shown[0].shownAt - requestedAt, seconds(0.18));

    desktop.keyboard.failingSourceStates = {0, 1};  // no source at all
    EXPECT_EQ(pasteAndSettle(*paster), Texts{});
    EXPECT_EQ(completions, std::vector<bool>{false});

    // A platform that knows why says so in the same error line.
    desktop.keyboard.whyUnavailable = platform::Error{"The desktop offers no virtual keyboard."};
    EXPECT_EQ(pasteAndSettle(*paster), Texts{});
    const std::string explained = couldNotCreate + " The desktop offers no virtual keyboard.";
    ASSERT_NE(desktop.log.find(explained), nullptr) << ::testing::PrintToString(desktop.log.texts("paste"));
    EXPECT_EQ(desktop.log.find(explained)->message.level, platform::LogLevel::error);
}

TEST_F(PasterStory, WithoutThePermissionItPastesAnywayAndThenExplainsOnce) {
    desktop.workspace.setFrontmost(textEdit);
    auto paster = std::make_shared<Paster>();
    desktop.accessibility.trusted = false;
    desktop.alerts.answerNext({platform::alertSecondButtonReturn, 20});
    // A second paste comes while the alert is up; its re-check finds it showing.
    desktop.scheduler.mainQueue().asyncAfter(1, [&] { requestPaste(*paster); });
    requestPaste(*paster);
    desktop.advance(30);

    const auto* missing = desktop.log.find(permissionMissing);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->message.level, platform::LogLevel::error);
    EXPECT_EQ(missing->at, Nanos(0));
    EXPECT_EQ(keyStrokes(), commandVAt(30, 1030));
    EXPECT_EQ(completions, (std::vector<bool>{true, true}));
    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    EXPECT_EQ(desktop.alerts.shown[0].shownAt, seconds(0.204));

    // Granted between the request and the re-check: no alert, though one is due.
    desktop.advance(600);
    requestPaste(*paster);
    desktop.advance(0.1);
    desktop.accessibility.trusted = true;
    desktop.advance(1);
    EXPECT_EQ(completions.size(), 3u);
    EXPECT_EQ(desktop.alerts.shown.size(), 1u);
}

}  // namespace
}  // namespace quillory
