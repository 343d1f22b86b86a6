#include <gtest/gtest.h>

#include <string>

#include "HelperTestSupport.h"
#include "HelperXPC.h"

namespace quillory {
namespace {

using testing::HelperStory;

const std::string service(HelperXPC::machServiceName);
const std::string didStart(HelperXPC::didStart);
const std::string willStop(HelperXPC::willStop);

class AgentRuntime : public HelperStory {
protected:
    void startAgent() {
        startHelper("1");
        desktop.runUntilIdle();
    }
    // The helper files gone: deleted or moved away by the user.
    void removeBundle() {
        platform::Error error;
        ASSERT_TRUE(desktop.files.removeItem(testing::helperBundle, &error));
    }
};

TEST_F(AgentRuntime, OutsideAnApplicationsFolderItUninstallsWithoutEverServing) {
    desktop.bundle.path = "/Users/ada/Downloads/Quillory Helper.app";
    desktop.loginItems.agentState.status = platform::appServiceEnabled;
    desktop.loginItems.agentState.unregisterReply = fake::UnregisterReply::none();
    // The main app hears of the stop before the agent's login item goes.
    std::vector<std::size_t> unregistrationsAtWillStop;
    desktop.notifications.onPost = [&](const std::string& name) {
        if (name == willStop)
            unregistrationsAtWillStop.push_back(desktop.loginItems.count("agent", "unregisterAsync"));
    };
    startAgent();

    EXPECT_EQ(
        testing::logOf(desktop, "main"),
        (std::vector<std::string>{"info: Started from /Users/ada/Downloads/Quillory Helper.app, which is "
                                  "not an Applications folder: uninstalling.",
                                  "info: This copy is no longer installed; unregistering the agent."}));
    EXPECT_TRUE(desktop.xpc.listenersMade.empty());
    EXPECT_EQ(desktop.notifications.count(didStart), 0u);
    EXPECT_EQ(desktop.notifications.count(willStop), 1u);

    // The unregistration never reports back: the agent still quits, 10 s on.
    desktop.advance(9.9);
    EXPECT_FALSE(desktop.application.isTerminated());
    desktop.advance(0.2);
    EXPECT_TRUE(desktop.application.isTerminated());
    EXPECT_EQ(unregistrationsAtWillStop, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(desktop.loginItems.count("agent", "unregisterAsync"), 1u);
}

TEST_F(AgentRuntime, ABundleDeletedWhileServingIsUninstalledOnceHoweverManyRequestsArrive) {
    desktop.loginItems.agentState.status = platform::appServiceEnabled;
    desktop.loginItems.agentState.unregisterReply = fake::UnregisterReply::late(0.5);
    startAgent();
    auto quillory = desktop.xpc.connect(service, {.pid = 700});
    auto another = desktop.xpc.connect(service, {.pid = 701});
    quillory->send("pingWithReply:");
    desktop.runUntilIdle();

    removeBundle();
    quillory->send("pingWithReply:");
    quillory->send("pasteWithReply:");
    another->send("pingWithReply:");
    desktop.runUntilIdle();
    another->send("pasteWithReply:");  // arrives while the uninstall runs
    desktop.advance(0.1);

    ASSERT_EQ(quillory->replies.size(), 3u);
    EXPECT_TRUE(quillory->replies[0].value);
    EXPECT_FALSE(quillory->replies[1].value);
    EXPECT_FALSE(quillory->replies[2].value);
    ASSERT_EQ(another->replies.size(), 2u);
    EXPECT_FALSE(another->replies[0].value);
    EXPECT_FALSE(another->replies[1].value);
    EXPECT_TRUE(desktop.keyboard.posted.empty());
    EXPECT_EQ(desktop.log.count("This copy is no longer installed; unregistering the agent."), 1u);
    EXPECT_EQ(desktop.loginItems.count("agent", "unregisterAsync"), 1u);
    EXPECT_FALSE(desktop.application.isTerminated());

    desktop.advance(0.5);  // the service replies, then the agent quits
    EXPECT_TRUE(desktop.application.isTerminated());
    EXPECT_EQ(desktop.notifications.count(willStop), 2u);
    EXPECT_EQ(desktop.log.count("Unregistered the agent."), 1u);
}

TEST_F(AgentRuntime, OpenedAgainItSaysItIsOnUntilReplacedThenHandsOverAndServesUntilItCan) {
    startAgent();
    EXPECT_EQ(desktop.accessibility.requests, 0);  // it has the permission
    EXPECT_EQ(desktop.log.count("Agent running. Permission to post events: true"), 1u);
    desktop.alerts.answerNext({platform::alertFirstButtonReturn, 3});
    desktop.alerts.answerNext({platform::alertSecondButtonReturn, 1});
    EXPECT_FALSE(desktop.application.reopen());
    EXPECT_FALSE(desktop.application.reopen());
    ASSERT_EQ(desktop.alerts.shown.size(), 2u);
    EXPECT_EQ(desktop.alerts.shown[0].messageText, "Quillory Helper is on");
    EXPECT_EQ(desktop.loginItems.loginItemsSettingsOpened, 1);

    // Replaced, it keeps serving and hands over only when opened again.
    auto quillory = desktop.xpc.connect(service);
    desktop.files.replaceFile(testing::helperExecutable, 99, testing::at(1'800'000'000));
    quillory->send("pingWithReply:");
    desktop.runUntilIdle();
    ASSERT_EQ(quillory->replies.size(), 1u);
    EXPECT_TRUE(quillory->replies[0].value);
    EXPECT_TRUE(desktop.workspace.launches.empty());

    // The first launch fails: logged, and the agent keeps serving.
    desktop.workspace.answerNextLaunch({platform::Error{"The application could not be launched."}, 0.2});
    EXPECT_FALSE(desktop.application.reopen());
    desktop.advance(0.3);
    EXPECT_EQ(desktop.log.count("Could not start the new copy; this agent keeps running: The application "
                                "could not be launched."),
              1u);
    EXPECT_FALSE(desktop.application.isTerminated());
    quillory->send("pingWithReply:");
    desktop.runUntilIdle();
    EXPECT_TRUE(quillory->replies.back().value);

    // The next opening tries again, and this time the new copy starts.
    EXPECT_FALSE(desktop.application.reopen());
    desktop.runUntilIdle();
    ASSERT_EQ(desktop.workspace.launches.size(), 2u);
    const auto& launch = desktop.workspace.launches.back();
    EXPECT_EQ(launch.bundlePath, testing::helperBundle);
    EXPECT_TRUE(launch.configuration.createsNewApplicationInstance);
    EXPECT_FALSE(launch.configuration.activates);
    EXPECT_EQ(launch.configuration.environment,
              (std::map<std::string, std::string>{{"KVX_AUTOPASTE_AGENT", "0"}}));
    const std::string handingOver =
        "info: Opened after the app was replaced; handing over to the new copy's set-up.";
    EXPECT_EQ(testing::logOf(desktop, "main"),
              (std::vector<std::string>{"info: Agent running. Permission to post events: true", handingOver,
                                        "error: Could not start the new copy; this agent keeps running: The "
                                        "application could not be launched.",
                                        handingOver}));
    EXPECT_TRUE(desktop.application.isTerminated());
    // The launch reports on a system queue; the agent ends on its own.
    EXPECT_EQ(desktop.application.terminatedOn(), "main");
    EXPECT_EQ(desktop.notifications.count(willStop), 1u);
    EXPECT_EQ(desktop.alerts.shown.size(), 2u);  // the hand-over shows none
}

// From the start, without the permission, to the main app's request, its
// reply and the permission explanation.
TEST_F(AgentRuntime, StartsListeningThenAnnouncesItselfAndServesThePasteRoadToReplyAndPrompt) {
    auto editor = desktop.workspace.launch(600, "org.example.editor");
    auto quilloryApp = desktop.workspace.launch(610, testing::mainAppBundleIdentifier);
    desktop.workspace.bringToFront(editor);
    desktop.accessibility.trusted = false;
    bool listeningWhenAnnounced = false;
    desktop.notifications.onPost = [&](const std::string& name) {
        if (name != didStart) return;
        const auto* listener = desktop.xpc.listener(service);
        listeningWhenAnnounced = listener != nullptr && listener->resumed && listener->delegate != nullptr;
    };
    startAgent();

    EXPECT_EQ(desktop.accessibility.requests, 1);  // asked once, at the start
    EXPECT_EQ(desktop.process.automaticTerminationDisabledFor,
              std::vector<std::string>{"Waits for Quillory's paste requests"});
    EXPECT_EQ(desktop.log.count("Agent running. Permission to post events: false"), 1u);
    ASSERT_EQ(desktop.notifications.count(didStart), 1u);
    EXPECT_TRUE(desktop.notifications.posted.at(0).deliverImmediately);
    EXPECT_TRUE(listeningWhenAnnounced);
    EXPECT_EQ(desktop.notifications.count(willStop), 0u);

    desktop.workspace.bringToFront(quilloryApp);  // the user opens Quillory and picks a clip
    desktop.runUntilIdle();

    auto client = desktop.xpc.connect(service, {.pid = 610});
    const double requestedAt = desktop.now();
    client->send("pasteWithReply:");
    desktop.alerts.answerNext({platform::alertFirstButtonReturn, 2});
    desktop.advance(1);

    // The editor comes back first, and the keystroke lands after it settled.
    ASSERT_EQ(desktop.workspace.activations.size(), 1u);
    EXPECT_EQ(desktop.workspace.activations[0].pid, 600);
    EXPECT_EQ(desktop.workspace.activations[0].at, fake::seconds(requestedAt + 0.03));
    ASSERT_EQ(desktop.keyboard.posted.size(), 4u);
    EXPECT_EQ(desktop.keyboard.posted[0].at, fake::seconds(requestedAt + 0.09));
    ASSERT_EQ(client->replies.size(), 1u);
    EXPECT_TRUE(client->replies[0].value);
    EXPECT_EQ(client->replies[0].at, desktop.keyboard.posted[3].at);

    // Still untrusted 0.15 s later: the explanation.
    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    EXPECT_EQ(desktop.alerts.shown[0].shownAt, desktop.keyboard.posted[3].at + fake::seconds(0.15));
    EXPECT_EQ(desktop.alerts.shown[0].messageText, "Quillory Helper needs permission to press ⌘V");
    EXPECT_EQ(
        desktop.log.count("Paste requested but the permission to post events looks missing; trying anyway."),
        1u);
}

}  // namespace
}  // namespace quillory
