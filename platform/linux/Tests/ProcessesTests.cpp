#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
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
using linux_test::TemporaryFolder;
using linux_test::waitUntil;
using linux_test::writeText;

// A bundle whose executable is a copy of sleep(1).
struct SleeperBundle {
    explicit SleeperBundle(const std::string& folder, const std::string& identifier)
        : path(folder + "/Sleeper.app"), executable(path + "/Contents/MacOS/Sleeper") {
        writeText(path + "/Contents/Info.plist", linux_test::infoPlist(identifier, "Sleeper"));
        fs::create_directories(path + "/Contents/MacOS");
        fs::copy_file("/usr/bin/sleep", executable);
    }
    std::string path;
    std::string executable;
};

GPid start(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    auto copies = arguments;
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    GPid pid = 0;
    GError* error = nullptr;
    g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid, &error);
    if (error != nullptr) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
    }
    return pid;
}

void stop(GPid pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

std::vector<ProcessIdentifier> pidsOf(Workspace& workspace, const std::string& identifier) {
    std::vector<ProcessIdentifier> pids;
    for (const auto& application : workspace.runningApplications(identifier)) {
        EXPECT_EQ(application->bundleIdentifier(), identifier);
        pids.push_back(application->processIdentifier());
    }
    return pids;
}

TEST(RunningApplications, AreFoundByBundleEvenAfterTheirExecutableWasReplacedOrDeleted) {
    TemporaryFolder folder;
    const std::string identifier = "me.ombrel.test.sleeper" + std::to_string(::getpid());
    SleeperBundle bundle(folder.path(), identifier);
    ContextQueue main(g_main_context_default());
    LinuxWorkspace workspace(nullptr, main);
    EXPECT_TRUE(pidsOf(workspace, identifier).empty());

    const GPid first = start({bundle.executable, "60"});
    const GPid second = start({bundle.executable, "60"});
    EXPECT_EQ(pidsOf(workspace, identifier),
              (std::vector<ProcessIdentifier>{std::min(first, second), std::max(first, second)}));
    // A new copy installed over the old one: the running processes still
    // belong to the bundle.
    fs::copy_file("/usr/bin/sleep", bundle.executable + ".new");
    fs::rename(bundle.executable + ".new", bundle.executable);
    EXPECT_EQ(executableOfProcess(first), bundle.executable);
    EXPECT_EQ(pidsOf(workspace, identifier).size(), 2u);
    fs::remove(bundle.executable);
    EXPECT_EQ(pidsOf(workspace, identifier).size(), 2u);
    EXPECT_TRUE(pidsOf(workspace, identifier + ".other").empty());
    stop(first);
    stop(second);
    EXPECT_TRUE(pidsOf(workspace, identifier).empty());
}

TEST(RunningApplications, StayTerminatedOnceEndedWhateverHappensToTheirNumber) {
    TemporaryFolder folder;
    const std::string identifier = "me.ombrel.test.ending" + std::to_string(::getpid());
    SleeperBundle bundle(folder.path(), identifier);
    ContextQueue main(g_main_context_default());
    LinuxWorkspace workspace(nullptr, main);
    const GPid pid = start({bundle.executable, "60"});
    const auto applications = workspace.runningApplications(identifier);
    ASSERT_EQ(applications.size(), 1u);
    const auto& application = applications.front();
    EXPECT_FALSE(application->isTerminated());
    // Not yet reaped: a zombie has ended, although its number still exists.
    ::kill(pid, SIGKILL);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    ASSERT_GE(pidfd, 0);
    pollfd ended{pidfd, POLLIN, 0};
    ASSERT_EQ(::poll(&ended, 1, 10000), 1);
    ::close(pidfd);
    EXPECT_EQ(::kill(pid, 0), 0);
    EXPECT_TRUE(application->isTerminated());
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(application->isTerminated());
    // Without a desktop nothing can be activated.
    EXPECT_FALSE(application->activate(ApplicationActivationOptions::none));
}

TEST(OpenApplication, StartsANewInstanceInItsOwnSessionWithTheGivenEnvironment) {
    TemporaryFolder folder;
    const std::string app = folder.path() + "/Launched.app";
    writeText(app + "/Contents/Info.plist", linux_test::infoPlist("me.ombrel.test.launched", "run"));
    writeText(app + "/Contents/MacOS/run", "#!/bin/sh\nexec sleep 60\n");
    fs::permissions(app + "/Contents/MacOS/run", fs::perms::owner_all);
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
    OpenConfiguration configuration;
    configuration.createsNewApplicationInstance = true;
    configuration.activates = false;
    configuration.environment = {{"KVX_AUTOPASTE_AGENT", "0"}};
    open(app, configuration);
    ASSERT_FALSE(failure) << failure->localizedDescription;
    ASSERT_TRUE(launched);
    EXPECT_NE(completedOn, g_thread_self());
    EXPECT_EQ(launched->bundleIdentifier(), "me.ombrel.test.launched");
    const ProcessIdentifier pid = launched->processIdentifier();
    EXPECT_EQ(::getsid(pid), pid);
    const std::string environment = linux_test::readText("/proc/" + std::to_string(pid) + "/environ");
    EXPECT_NE(environment.find(std::string("KVX_AUTOPASTE_AGENT=0") + '\0'), std::string::npos);
    EXPECT_NE(environment.find(std::string("QUILLORY_NEW_INSTANCE=1") + '\0'), std::string::npos);
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return launched->isTerminated(); }));

    open(folder.path() + "/Missing.app", {});
    EXPECT_FALSE(launched);
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->localizedDescription.find("Missing.app"), std::string::npos);
    system.closeAndWait();
}

}  // namespace
}  // namespace platform::linux_platform
