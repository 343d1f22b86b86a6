#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/FakePlatform.h"
#include "platform/Platform.h"

namespace {

using fake::FakePlatform;

TEST(FakeScheduler, RunsWorkAtItsDeadlineAndEqualDeadlinesInSchedulingOrder) {
    FakePlatform desktop;
    auto& main = desktop.scheduler.mainQueue();
    std::vector<std::string> ran;
    main.asyncAfter(0.06, [&] { ran.push_back("b@" + std::to_string(desktop.now())); });
    main.asyncAfter(0.03, [&] { ran.push_back("a1"); });
    main.asyncAfter(0.03, [&] { ran.push_back("a2"); });
    main.async([&] { ran.push_back("now"); });

    desktop.advance(0.029);
    EXPECT_EQ(ran, (std::vector<std::string>{"now"}));
    desktop.advance(0.001);
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "a1", "a2"}));
    desktop.advance(1);
    ASSERT_EQ(ran.size(), 4u);
    EXPECT_EQ(ran[3], "b@" + std::to_string(0.06));
    EXPECT_DOUBLE_EQ(desktop.now(), 1.03);
}

TEST(FakeScheduler, KnowsWhichQueueRunsAndInterleavesQueuesByDeadline) {
    FakePlatform desktop;
    auto& connection = desktop.scheduler.makeQueue("xpc.connection.1");
    std::vector<std::string> ran;
    EXPECT_EQ(desktop.scheduler.currentQueue(), nullptr);
    connection.asyncAfter(0.02, [&] { ran.push_back(desktop.scheduler.currentQueueLabel()); });
    desktop.scheduler.mainQueue().asyncAfter(0.01, [&] {
        ran.push_back(desktop.scheduler.currentQueueLabel());
        EXPECT_TRUE(desktop.scheduler.isOnMainQueue());
        // Work scheduled from inside work runs after it, not within it.
        desktop.scheduler.systemQueue().async([&] { ran.push_back(desktop.scheduler.currentQueueLabel()); });
        ran.push_back("end of main item");
    });
    desktop.advance(1);
    EXPECT_EQ(ran, (std::vector<std::string>{"main", "end of main item", "system", "xpc.connection.1"}));
}

TEST(FakeScheduler, ABlockedThreadLetsTimePassWithoutRunningWork) {
    FakePlatform desktop;
    int ran = 0;
    desktop.scheduler.mainQueue().asyncAfter(0.005, [&] { ++ran; });
    desktop.scheduler.mainQueue().async([&] {
        desktop.posix.usleep(8000);
        EXPECT_EQ(ran, 0);
        EXPECT_EQ(desktop.scheduler.now(), fake::seconds(0.008));
    });
    desktop.runUntilIdle();
    // The late item runs as soon as the thread is free, at the later time.
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(desktop.scheduler.now(), fake::seconds(0.008));
}

TEST(FakeScheduler, MainQueueWorkRunsDuringAModalAlertAndNothingRunsAfterTermination) {
    FakePlatform desktop;
    std::vector<double> mainWork;
    desktop.alerts.answerNext({platform::alertSecondButtonReturn, 2.0});
    desktop.scheduler.mainQueue().asyncAfter(1.0, [&] { mainWork.push_back(desktop.now()); });
    desktop.scheduler.mainQueue().async([&] {
        platform::Alert alert;
        alert.setMessageText("Question");
        alert.addButton("Yes");
        alert.addButton("No");
        EXPECT_EQ(alert.runModal(), platform::alertSecondButtonReturn);
        EXPECT_EQ(mainWork, std::vector<double>{1.0});
    });
    desktop.runUntilIdle();
    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    EXPECT_EQ(desktop.alerts.shown[0].dismissedAt - desktop.alerts.shown[0].shownAt, fake::seconds(2));

    desktop.scheduler.mainQueue().asyncAfter(1.0, [&] { mainWork.push_back(desktop.now()); });
    desktop.application.terminate();
    desktop.advance(5);
    EXPECT_EQ(mainWork.size(), 1u);
    EXPECT_TRUE(desktop.application.isTerminated());
}

TEST(FakeDesktop, ProcessesEndOnSigtermUnlessTheyIgnoreIt) {
    FakePlatform desktop;
    desktop.workspace.launch(501, "me.ombrel.quillory.autopastehelper", {.exitsAfterSeconds = 0.25});
    desktop.workspace.launch(502, "me.ombrel.quillory.autopastehelper", {.ignoresTermination = true});
    desktop.workspace.launch(600, "org.example.editor");
    EXPECT_EQ(desktop.workspace.runningApplications("me.ombrel.quillory.autopastehelper").size(), 2u);

    EXPECT_EQ(desktop.posix.kill(501, 15), 0);
    EXPECT_EQ(desktop.posix.kill(502, 15), 0);
    desktop.advance(0.2);
    EXPECT_EQ(desktop.posix.kill(501, 0), 0);
    desktop.advance(0.1);
    EXPECT_EQ(desktop.posix.kill(501, 0), -1);
    EXPECT_EQ(desktop.posix.kill(502, 0), 0);
    EXPECT_EQ(desktop.workspace.signals.size(), 2u);  // probes with signal 0 are not signals
}

TEST(FakeFiles, ResolvesLinksAndRemovesFoldersWithTheirContents) {
    FakePlatform desktop;
    desktop.files.addFile("/Applications/Quillory Helper.app/Contents/MacOS/Quillory Helper", 42);
    desktop.files.addSymlink("/Users/ada/Desktop/Helper.app", "/Applications/Quillory Helper.app");
    desktop.files.addSymlink("/Users/ada/Links", "Desktop");
    EXPECT_EQ(desktop.files.resolvingSymlinksInPath("/Users/ada/Links/Helper.app/"),
              "/Applications/Quillory Helper.app");
    EXPECT_TRUE(desktop.files.fileExists("/Users/ada/Desktop/Helper.app"));

    platform::Error error;
    EXPECT_TRUE(desktop.files.removeItem("/Applications/Quillory Helper.app", &error));
    EXPECT_FALSE(
        desktop.files.fileExists("/Applications/Quillory Helper.app/Contents/MacOS/Quillory Helper"));
    EXPECT_FALSE(desktop.files.fileExists("/Users/ada/Desktop/Helper.app"));
    EXPECT_FALSE(desktop.files.removeItem("/Applications/Quillory Helper.app", &error));
    EXPECT_FALSE(error.localizedDescription.empty());
}

TEST(FakePlatform, AtTheEndReleasesPendingWorkAndConnectionsWhileTheServicesAreStillThere) {
    // What the units leave with the fake may need the platform as it goes.
    struct Probe {
        explicit Probe(std::vector<bool>* seen) : sawPlatform(seen) {}
        ~Probe() { sawPlatform->push_back(platform::installed().workspace != nullptr); }
        std::vector<bool>* sawPlatform;
    };
    struct Exported : platform::XPCExportedObject, Probe {
        explicit Exported(std::vector<bool>* seen) : Probe(seen) {}
        void invoke(std::string_view, platform::XPCReply reply) override { reply(true); }
    };
    std::vector<bool> sawPlatform;
    {
        FakePlatform desktop;
        auto probe = std::make_shared<Probe>(&sawPlatform);
        desktop.scheduler.mainQueue().asyncAfter(5, [probe] {});
        probe.reset();
        auto connection = desktop.xpc.connect("service");
        connection->setExportedObject(std::make_shared<Exported>(&sawPlatform));
    }
    EXPECT_EQ(sawPlatform, (std::vector<bool>{true, true}));
}

}  // namespace
