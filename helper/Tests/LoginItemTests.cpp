#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "HelperTestSupport.h"
#include "LoginItem.h"

namespace quillory {
namespace {

using fake::seconds;
using fake::UnregisterReply;
using Outcome = LoginItem::Outcome;

// What the LoginItem log says, with levels.
std::vector<std::string> loginItemLog(const fake::FakePlatform& desktop) {
    return testing::logOf(desktop, "LoginItem");
}

// When and on which queue a completion ran, and with what.
struct Finished {
    fake::Nanos at;
    std::string queue;
    bool value = true;
    bool operator==(const Finished&) const = default;
};

class LoginItemStory : public testing::HelperStory {
protected:
    std::function<void(bool)> recordFinished() {
        return [this](bool ok) {
            finished.push_back({desktop.scheduler.now(), desktop.scheduler.currentQueueLabel(), ok});
        };
    }
    std::vector<Finished> finished;
};

TEST(LoginItemRegistration, EachStatusLeadsToItsOutcomeAndOnlyAbsentAgentsAreRegistered) {
    struct Case {
        std::int64_t status;
        std::optional<std::string> registerError;
        Outcome outcome;
        std::size_t registerCalls;
        std::string logged;
    };
    const std::string turnedOff = "info: Agent is turned off in System Settings → Login Items.";
    for (const Case& step : {
             Case{0, {}, Outcome::registered, 1, "info: Registered the agent."},
             Case{3, {}, Outcome::registered, 1, "info: Registered the agent."},
             Case{0, "Operation not permitted", Outcome::registrationFailed, 1,
                  "error: Could not register the agent: Operation not permitted"},
             Case{1, {}, Outcome::alreadyRegistered, 0, "info: Agent already registered."},
             Case{2, {}, Outcome::needsApproval, 0, turnedOff},
             Case{4, {}, Outcome::registrationFailed, 0, "error: Unknown agent status 4"},
             Case{-1, {}, Outcome::registrationFailed, 0, "error: Unknown agent status -1"},
         }) {
        SCOPED_TRACE("status " + std::to_string(step.status));
        fake::FakePlatform desktop;
        desktop.loginItems.agentState.status = step.status;
        if (step.registerError)
            desktop.loginItems.agentState.registerError = platform::Error{*step.registerError};

        EXPECT_EQ(LoginItem::registerAgent(), step.outcome);
        EXPECT_EQ(desktop.loginItems.agentPlistNames,
                  std::vector<std::string>{"me.ombrel.quillory.autopastehelper.agent.plist"});
        EXPECT_EQ(desktop.loginItems.count("agent", "status"), 1u);
        EXPECT_EQ(desktop.loginItems.count("agent", "register"), step.registerCalls);
        EXPECT_EQ(loginItemLog(desktop), std::vector<std::string>{step.logged});
    }
}

TEST_F(LoginItemStory, UnregisterFinishesOnTheReplyOnALaterMainQueueTurnAndTheTimerFindsItDone) {
    desktop.loginItems.agentState.status = platform::appServiceEnabled;
    LoginItem::unregisterAgent([record = recordFinished()] { record(true); });
    EXPECT_TRUE(finished.empty());  // returns at once, before any reply

    desktop.runUntilIdle();
    EXPECT_EQ(finished, (std::vector<Finished>{{seconds(0), "main"}}));
    const auto* replied = desktop.log.find("Unregistered the agent.");
    ASSERT_NE(replied, nullptr);
    EXPECT_EQ(replied->queue, "system");

    desktop.advance(60);
    EXPECT_EQ(finished.size(), 1u);
    EXPECT_EQ(loginItemLog(desktop), std::vector<std::string>{"info: Unregistered the agent."});
    EXPECT_EQ(desktop.scheduler.pendingCount(), 0u);

    // A reload logs its own outcome, not the unregister's.
    desktop.log.lines.clear();
    finished.clear();
    LoginItem::reloadAgent(recordFinished());
    desktop.advance(60);
    EXPECT_EQ(finished, (std::vector<Finished>{{seconds(60), "main", true}}));
    EXPECT_EQ(loginItemLog(desktop), std::vector<std::string>{"info: Reloaded the agent."});
}

// Without a reply in time, the registration goes ahead at 10 s; the late
// reply is only logged.
TEST_F(LoginItemStory, ReloadWithoutAReplyInTimeRegistersOnceAfterTenSecondsOnTheSameServiceObject) {
    desktop.loginItems.agentState.status = platform::appServiceEnabled;
    desktop.loginItems.agentState.unregisterReply = UnregisterReply::late(15, platform::Error{"Busy"});
    desktop.loginItems.agentState.registerError = platform::Error{"Not permitted"};
    LoginItem::reloadAgent(recordFinished());
    desktop.advance(9.999);
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(desktop.loginItems.count("agent", "register"), 0u);
    desktop.advance(60);

    EXPECT_EQ(finished, (std::vector<Finished>{{seconds(10), "main", false}}));
    EXPECT_EQ(loginItemLog(desktop),
              (std::vector<std::string>{
                  "error: Unregistering the agent did not report back; registering anyway.",
                  "error: Could not register the agent again: Not permitted",
                  "error: Could not unregister the agent: Busy",
              }));
    EXPECT_EQ(desktop.log.lines.back().at, seconds(15));
    ASSERT_EQ(desktop.loginItems.calls.size(), 2u);
    EXPECT_EQ(desktop.loginItems.calls[0].operation, "unregisterAsync");
    EXPECT_EQ(desktop.loginItems.calls[1].operation, "register");  // without reading the status first
    EXPECT_EQ(desktop.loginItems.calls[1].queue, "main");
    EXPECT_EQ(desktop.loginItems.agentPlistNames.size(), 1u);
}

TEST_F(LoginItemStory, AFailedUnregisterStillRegistersAndTheTimerLaterDoesNothing) {
    desktop.loginItems.agentState.unregisterReply =
        UnregisterReply::late(0.5, platform::Error{"No such job"});
    LoginItem::reloadAgent(recordFinished());
    desktop.advance(0.5);
    EXPECT_EQ(finished, (std::vector<Finished>{{seconds(0.5), "main", true}}));
    EXPECT_EQ(desktop.log.find("Could not unregister the agent: No such job")->queue, "system");

    desktop.advance(60);
    EXPECT_EQ(finished.size(), 1u);
    EXPECT_EQ(desktop.loginItems.count("agent", "register"), 1u);
    EXPECT_EQ(loginItemLog(desktop), (std::vector<std::string>{
                                         "error: Could not unregister the agent: No such job",
                                         "info: Reloaded the agent.",
                                     }));
}

const std::string legacyAgent = "/Users/ada/Library/LaunchAgents/me.ombrel.quillory.autopastehelper.plist";

TEST_F(LoginItemStory, LegacyLaunchAgentAndEnabledPrototypeItemAreRemovedFailuresLoggedAndNothingElse) {
    desktop.files.home = "/Users/ada/";  // the path still gets exactly one slash
    // Without them, nothing is touched or logged.
    desktop.files.addFile("/Users/ada/Library/LaunchAgents/me.ombrel.quillory.autopastehelper.agent.plist");
    for (const std::int64_t status : {platform::appServiceNotRegistered, platform::appServiceRequiresApproval,
                                      platform::appServiceNotFound}) {
        desktop.loginItems.mainAppState.status = status;
        LoginItem::removeLegacyLaunchAgent();
        LoginItem::removePrototypeLoginItem();
    }
    EXPECT_TRUE(desktop.files.removed.empty());
    EXPECT_EQ(desktop.loginItems.count("mainApp", "unregister"), 0u);
    EXPECT_TRUE(loginItemLog(desktop).empty());

    desktop.files.addFolder(legacyAgent);
    desktop.files.addFile(legacyAgent + "/Contents/Info.plist");
    desktop.loginItems.mainAppState.status = platform::appServiceEnabled;
    LoginItem::removeLegacyLaunchAgent();
    LoginItem::removePrototypeLoginItem();
    EXPECT_FALSE(desktop.files.fileExists(legacyAgent));
    EXPECT_FALSE(desktop.files.fileExists(legacyAgent + "/Contents/Info.plist"));
    EXPECT_EQ(desktop.loginItems.count("mainApp", "unregister"), 1u);
    EXPECT_EQ(desktop.loginItems.mainAppState.status, platform::appServiceNotRegistered);
    EXPECT_TRUE(desktop.loginItems.agentPlistNames.empty());

    // Failures are logged, and the registration goes on.
    desktop.files.addFile(legacyAgent);
    desktop.files.failRemoval(legacyAgent, "Permission denied");
    desktop.loginItems.mainAppState.status = platform::appServiceEnabled;
    desktop.loginItems.mainAppState.unregisterError = platform::Error{"Operation not permitted"};
    LoginItem::removeLegacyLaunchAgent();
    LoginItem::removePrototypeLoginItem();
    EXPECT_EQ(LoginItem::registerAgent(), Outcome::registered);
    EXPECT_TRUE(desktop.files.fileExists(legacyAgent));
    EXPECT_EQ(loginItemLog(desktop),
              (std::vector<std::string>{
                  "info: Removed the helper 1.x LaunchAgent at " + legacyAgent,
                  "info: Removed the app's own login item.",
                  "error: Could not remove " + legacyAgent + ": Permission denied",
                  "error: Could not remove the app's own login item: Operation not permitted",
                  "info: Registered the agent.",
              }));
}

}  // namespace
}  // namespace quillory
