#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <ostream>
#include <string>

#include "HelperTestSupport.h"

namespace quillory {
namespace {

using testing::HelperStory;

const char* const finished = "Set-up finished; quitting. The agent does the pasting.";

class SetUpFlow : public HelperStory {
protected:
    std::vector<platform::ProcessIdentifier> signalled() const {
        std::vector<platform::ProcessIdentifier> pids;
        for (const auto& sent : desktop.workspace.signals) {
            EXPECT_EQ(sent.signal, SIGTERM);
            pids.push_back(sent.pid);
        }
        return pids;
    }
};

const std::string legacyLaunchAgent = "/Library/LaunchAgents/me.ombrel.quillory.autopastehelper.plist";

TEST_F(SetUpFlow, AFirstSetUpClearsEarlierInstallationsRegistersTheAgentAndQuitsSilently) {
    // A user coming from helper 1.x and from the prototype, which started the app itself.
    const std::string legacyFile = desktop.files.home + legacyLaunchAgent;
    desktop.files.addFile(legacyFile);
    desktop.loginItems.mainAppState.status = platform::appServiceEnabled;
    // The system must not end the process from the first check on; the
    // oldest installation goes first.
    std::optional<std::vector<std::string>> terminationDisabledAtLocationCheck;
    desktop.files.onResolve = [&](const std::string&) {
        if (!terminationDisabledAtLocationCheck)
            terminationDisabledAtLocationCheck = desktop.process.automaticTerminationDisabledFor;
    };
    std::optional<bool> legacyFileAtPrototypeRemoval;
    desktop.loginItems.onCall = [&](const fake::LoginItemCall& call) {
        if (call.item == "mainApp" && call.operation == "unregister")
            legacyFileAtPrototypeRemoval = desktop.files.fileExists(legacyFile);
    };
    startHelper(std::nullopt);
    EXPECT_FALSE(desktop.application.reopen());  // only an agent answers a reopen

    EXPECT_EQ(terminationDisabledAtLocationCheck, std::vector<std::string>{"Registering the agent"});
    EXPECT_EQ(legacyFileAtPrototypeRemoval, false);
    EXPECT_FALSE(desktop.files.fileExists(legacyFile));
    // Both are gone before the agent is registered.
    std::vector<std::string> order;
    for (const auto& call : desktop.loginItems.calls)
        if (call.operation != "status") order.push_back(call.item + " " + call.operation);
    EXPECT_EQ(order, (std::vector<std::string>{"mainApp unregister", "agent register"}));
    EXPECT_TRUE(desktop.alerts.shown.empty());
    EXPECT_TRUE(desktop.workspace.signals.empty());
    EXPECT_TRUE(desktop.application.isTerminated());
    EXPECT_EQ(testing::logOf(desktop, "main"), std::vector<std::string>{std::string("info: ") + finished});
    EXPECT_EQ(desktop.process.automaticTerminationDisabledFor,
              std::vector<std::string>{"Registering the agent"});
    EXPECT_TRUE(desktop.notifications.posted.empty());  // a set-up announces nothing
}

TEST_F(SetUpFlow, RunningAgentsAreStoppedInOrderAndWaitedForBeforeTheReload) {
    desktop.loginItems.agentState.status = platform::appServiceEnabled;
    desktop.workspace.launch(501, testing::helperBundleIdentifier, {.exitsAfterSeconds = 0.15});
    desktop.workspace.launch(502, testing::helperBundleIdentifier, {.exitsAfterSeconds = 0.35});
    startHelper("0");

    EXPECT_EQ(signalled(), (std::vector<platform::ProcessIdentifier>{501, 502}));  // never itself (400)
    EXPECT_EQ(desktop.log.count("Stopping the running agent, pid 501"), 1u);
    EXPECT_EQ(desktop.log.count("Stopping the running agent, pid 502"), 1u);

    desktop.advance(0.35);
    EXPECT_EQ(desktop.loginItems.count("agent", "unregisterAsync"), 0u);  // 502 ended at 0.35, seen at 0.4
    desktop.advance(0.05);
    EXPECT_EQ(desktop.loginItems.count("agent", "unregisterAsync"), 1u);
    desktop.runUntilIdle();
    EXPECT_EQ(desktop.loginItems.count("agent", "register"), 1u);
    EXPECT_EQ(desktop.log.count("Reloaded the agent."), 1u);
    EXPECT_TRUE(desktop.alerts.shown.empty());
    EXPECT_TRUE(desktop.application.isTerminated());
}

TEST_F(SetUpFlow, AnAgentThatIgnoresTheSignalDelaysTheReloadByFiveSecondsAtMost) {
    desktop.loginItems.agentState.status = platform::appServiceEnabled;
    desktop.workspace.launch(501, testing::helperBundleIdentifier, {.exitsAfterSeconds = 0.05});
    desktop.workspace.launch(502, testing::helperBundleIdentifier, {.ignoresTermination = true});
    startHelper("0");

    desktop.advance(5.0);
    EXPECT_EQ(desktop.loginItems.count("agent", "unregisterAsync"), 0u);
    desktop.advance(0.1);
    const auto* line = desktop.log.find("Agent still running after 5.000000 s: <private>");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(std::get<std::string>(line->message.arguments.at(1)), "[502]");
    EXPECT_EQ(desktop.loginItems.count("agent", "unregisterAsync"), 1u);
    desktop.runUntilIdle();
    EXPECT_EQ(signalled(), (std::vector<platform::ProcessIdentifier>{501, 502}));  // no stronger signal
    EXPECT_TRUE(desktop.application.isTerminated());
    EXPECT_EQ(
        testing::logOf(desktop, "main"),
        (std::vector<std::string>{
            "info: Stopping the running agent, pid 501", "info: Stopping the running agent, pid 502",
            "error: Agent still running after 5.000000 s: <private>", std::string("info: ") + finished}));
}

// A first registration or a reload after stopping the agents: either failure is explained.
struct FailedRegistration {
    std::string name;
    std::int64_t statusBefore;
    std::string logged;
};

void PrintTo(const FailedRegistration& failure, std::ostream* out) { *out << failure.name; }

class FailedRegistrationFlow : public SetUpFlow, public ::testing::WithParamInterface<FailedRegistration> {};

TEST_P(FailedRegistrationFlow, IsExplainedBeforeQuitting) {
    desktop.loginItems.agentState.status = GetParam().statusBefore;
    desktop.loginItems.agentState.registerError = platform::Error{"Operation not permitted"};
    desktop.alerts.answerNext({platform::alertFirstButtonReturn, 2});
    startHelper("0");
    desktop.runUntilIdle();  // no agent runs: a reload starts at once

    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    EXPECT_EQ(desktop.alerts.shown[0].messageText, "Quillory Helper could not be turned on");
    EXPECT_EQ(desktop.log.count(GetParam().logged), 1u);
    EXPECT_EQ(desktop.application.terminatedAt(), desktop.alerts.shown[0].dismissedAt);
    EXPECT_EQ(desktop.log.count(finished), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    FirstOrAgain, FailedRegistrationFlow,
    ::testing::Values(FailedRegistration{"FirstRegistration", platform::appServiceNotRegistered,
                                         "Could not register the agent: Operation not permitted"},
                      FailedRegistration{"Reload", platform::appServiceEnabled,
                                         "Could not register the agent again: Operation not permitted"}),
    [](const auto& info) { return info.param.name; });

TEST_F(SetUpFlow, TurnedOffByTheUserItOnlyExplains) {
    desktop.loginItems.agentState.status = platform::appServiceRequiresApproval;
    desktop.workspace.launch(501, testing::helperBundleIdentifier);
    desktop.alerts.answerNext({platform::alertFirstButtonReturn, 4});
    startHelper(std::nullopt);

    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    EXPECT_EQ(desktop.alerts.shown[0].messageText, "Quillory Helper is turned off");
    EXPECT_EQ(desktop.loginItems.loginItemsSettingsOpened, 1);
    EXPECT_TRUE(desktop.workspace.signals.empty());
    EXPECT_EQ(desktop.loginItems.count("agent", "register"), 0u);
    EXPECT_EQ(desktop.loginItems.count("agent", "unregisterAsync"), 0u);
    EXPECT_TRUE(desktop.application.isTerminated());
}

TEST_F(SetUpFlow, OutsideAnApplicationsFolderNothingOnTheSystemChanges) {
    desktop.bundle.path = "/Volumes/Quillory/Quillory Helper.app";
    desktop.files.addFile(desktop.files.home + legacyLaunchAgent);
    desktop.loginItems.mainAppState.status = platform::appServiceEnabled;
    startHelper(std::nullopt);

    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    EXPECT_EQ(desktop.alerts.shown[0].messageText, "Move Quillory Helper to Applications");
    EXPECT_TRUE(desktop.loginItems.calls.empty());
    EXPECT_TRUE(desktop.files.removed.empty());
    EXPECT_TRUE(desktop.application.isTerminated());
    EXPECT_EQ(desktop.log.count(finished), 0u);
}

TEST_F(SetUpFlow, WithNoAgentRunningTheReloadStartsWithinTheSetUpItself) {
    desktop.loginItems.agentState.status = platform::appServiceEnabled;
    startHelper("0");

    // Nothing to wait for: the unregistration went out before the set-up returned,
    // without a turn of the main queue.
    EXPECT_EQ(desktop.loginItems.count("agent", "unregisterAsync"), 1u);
    EXPECT_TRUE(desktop.workspace.signals.empty());
    desktop.runUntilIdle();
    EXPECT_EQ(desktop.loginItems.count("agent", "register"), 1u);
    EXPECT_TRUE(desktop.application.isTerminated());
}

TEST_F(SetUpFlow, WithoutABundleIdentifierNoOtherProcessIsSignalled) {
    desktop.bundle.identifier.reset();
    desktop.loginItems.agentState.status = platform::appServiceEnabled;
    desktop.workspace.launch(501, std::nullopt);  // some unidentified process of the user's
    startHelper("0");
    desktop.runUntilIdle();

    EXPECT_TRUE(desktop.workspace.signals.empty());
    EXPECT_EQ(desktop.loginItems.count("agent", "register"), 1u);
    EXPECT_TRUE(desktop.application.isTerminated());
}

}  // namespace
}  // namespace quillory
