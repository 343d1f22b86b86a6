#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "LinuxTestSupport.h"
#include "LinuxWorkspace.h"
#include "Processes.h"
#include "Queues.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;
using linux_test::waitUntil;

// Runs `program 60`, a child of this process until it is reaped; returns
// once the program has been executed.
GPid start(const std::string& program) {
    const char* argv[] = {program.c_str(), "60", nullptr};
    GPid pid = 0;
    EXPECT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                              nullptr, &pid, nullptr));
    return pid;
}

std::vector<ProcessIdentifier> pidsOf(Workspace& workspace, const std::string& identifier) {
    std::vector<ProcessIdentifier> pids;
    for (const auto& application : workspace.runningApplications(identifier)) {
        EXPECT_EQ(application->bundleIdentifier(), identifier);
        pids.push_back(application->processIdentifier());
    }
    return pids;
}

TEST(RunningApplications, AreFoundByBundleEvenReplacedOrDeletedAndStayTerminatedOnceEnded) {
    const std::string identifier = "me.ombrel.test.sleeper" + std::to_string(::getpid());
    // A bundle whose executable is a copy of sleep(1).
    const std::string sleeper =
        linux_test::writeBundle(linux_test::freshFolder() + "/Sleeper.app", identifier, "Sleeper", "");
    fs::copy_file("/usr/bin/sleep", sleeper, fs::copy_options::overwrite_existing);
    ContextQueue main(g_main_context_default());
    LinuxWorkspace workspace(nullptr, main);
    EXPECT_TRUE(pidsOf(workspace, identifier).empty());

    const GPid first = start(sleeper);
    const GPid second = start(sleeper);
    EXPECT_EQ(pidsOf(workspace, identifier),
              (std::vector<ProcessIdentifier>{std::min(first, second), std::max(first, second)}));
    // A new copy installed over the old one: the running processes still
    // belong to the bundle.
    fs::copy_file("/usr/bin/sleep", sleeper + ".new");
    fs::rename(sleeper + ".new", sleeper);
    EXPECT_EQ(executableOfProcess(first), sleeper);
    EXPECT_EQ(pidsOf(workspace, identifier).size(), 2u);
    fs::remove(sleeper);
    EXPECT_TRUE(pidsOf(workspace, identifier + ".other").empty());
    const auto applications = workspace.runningApplications(identifier);
    ASSERT_EQ(applications.size(), 2u);

    // Not yet reaped: a zombie has ended, although its number still exists.
    for (const auto& application : applications) {
        const ProcessIdentifier pid = application->processIdentifier();
        EXPECT_FALSE(application->isTerminated());
        linux_test::Watched process(pid);
        ::kill(pid, SIGKILL);
        ASSERT_TRUE(waitUntil([&] { return process.hasEnded(); }));
        EXPECT_EQ(::kill(pid, 0), 0);
        EXPECT_TRUE(application->isTerminated());
        ::waitpid(pid, nullptr, 0);
        EXPECT_TRUE(application->isTerminated());
        // Without a desktop nothing can be activated.
        EXPECT_FALSE(application->activate(ApplicationActivationOptions::none));
    }
    EXPECT_TRUE(pidsOf(workspace, identifier).empty());
}

TEST(OpenApplication, StartsANewInstanceInItsOwnSessionWithTheGivenEnvironment) {
    const std::string folder = linux_test::freshFolder();
    const std::string app = folder + "/Launched.app";
    // The program reports the environment it got: /proc/PID/environ reads
    // empty while an exec is under way, which the launch may return during.
    const std::string reported = folder + "/environment";
    linux_test::writeBundle(app, "me.ombrel.test.launched", "run",
                            "#!/bin/sh\nenv > '" + reported + ".part' && mv '" + reported + ".part' '" +
                                reported + "'\nexec sleep 60\n");
    SerialQueue system("test.system");
    LinuxWorkspace workspace(nullptr, system);

    // Opens `path`, waits for the completion, and notes what it got where.
    RunningApplicationRef launched;
    std::optional<Error> failure;
    GThread* completedOn = nullptr;
    const auto open = [&](const std::string& path, const OpenConfiguration& configuration) {
        std::atomic<bool> done{false};
        workspace.openApplication(path, configuration,
                                  [&](RunningApplicationRef application, std::optional<Error> error) {
                                      launched = std::move(application);
                                      failure = std::move(error);
                                      completedOn = g_thread_self();
                                      done = true;
                                  });
        ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    };
    open(app, {.createsNewApplicationInstance = true,
               .activates = false,
               .environment = {{"KVX_AUTOPASTE_AGENT", "0"}}});
    ASSERT_FALSE(failure) << failure->localizedDescription;
    ASSERT_TRUE(launched);
    EXPECT_NE(completedOn, g_thread_self());
    EXPECT_EQ(launched->bundleIdentifier(), "me.ombrel.test.launched");
    const ProcessIdentifier pid = launched->processIdentifier();
    EXPECT_EQ(::getsid(pid), pid);
    ASSERT_TRUE(waitUntil([&] { return g_file_test(reported.c_str(), G_FILE_TEST_EXISTS); }));
    const std::string environment = "\n" + linux_test::readText(reported);
    EXPECT_NE(environment.find("\nKVX_AUTOPASTE_AGENT=0\n"), std::string::npos);
    EXPECT_NE(environment.find("\nQUILLORY_NEW_INSTANCE=1\n"), std::string::npos);
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return launched->isTerminated(); }));

    open(folder + "/Missing.app", {});
    EXPECT_FALSE(launched);
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->localizedDescription.find("Missing.app"), std::string::npos);
    system.closeAndWait();
}

}  // namespace
}  // namespace platform::linux_platform
