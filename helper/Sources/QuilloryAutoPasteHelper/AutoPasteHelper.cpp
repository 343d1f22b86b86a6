#include "AutoPasteHelper.h"

#include <csignal>
#include <string>

#include "HelperXPC.h"
#include "InstallLocation.h"
#include "LogSubsystem.h"
#include "LoginItem.h"
#include "PasteService.h"
#include "Paster.h"
#include "SetUpAlert.h"
#include "platform/Accessibility.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/FileManager.h"
#include "platform/Posix.h"
#include "platform/ProcessInfo.h"
#include "platform/Workspace.h"

namespace quillory {

namespace {

// How long a set-up waits for running agents to end, and how often it looks.
constexpr double agentStopTimeLimit = 5.0;
constexpr double agentStopPollInterval = 0.1;

void terminateApplication() { platform::Application::shared().terminate(); }

std::string describe(const std::vector<platform::ProcessIdentifier>& pids) {
    std::string text = "[";
    for (std::size_t i = 0; i < pids.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(pids[i]);
    }
    return text + "]";
}

}  // namespace

AutoPasteHelper::AutoPasteHelper()
    : log(logSubsystem, "main"),
      launchedExecutable(ExecutableIdentity::current()),
      launchBundlePath(platform::Bundle::main().bundlePath()) {}

bool AutoPasteHelper::isAgent() {
    const auto environment = platform::ProcessInfo::shared().environment();
    const auto found = environment.find("KVX_AUTOPASTE_AGENT");
    return found != environment.end() && found->second == "1";
}

void AutoPasteHelper::applicationDidFinishLaunching() {
    if (isAgent()) {
        runAsAgent();
    } else {
        setUp();
    }
}

void AutoPasteHelper::applicationWillTerminate() {
    if (isAgent()) HelperXPC::post(HelperXPC::willStop);
}

bool AutoPasteHelper::applicationShouldHandleReopen(bool) {
    if (isAgent()) handleReopen();
    return false;
}

void AutoPasteHelper::runAsAgent() {
    if (!InstallLocation::isInApplicationsFolder()) {
        log.info("Started from %{public}s, which is not an Applications folder: uninstalling.",
                 launchBundlePath);
        uninstall();
        return;
    }
    // A window-less agent would otherwise be ended by the system when idle.
    platform::ProcessInfo::shared().disableAutomaticTermination("Waits for Quillory's paste requests");

    auto& accessibility = platform::Accessibility::shared();
    if (!accessibility.isProcessTrusted()) accessibility.requestPostEventAccess();

    auto paster = std::make_shared<Paster>();
    // Only a copy of the path: may run on any connection's queue.
    auto isInstalled = [bundlePath = launchBundlePath] {
        return platform::FileManager::shared().fileExists(bundlePath);
    };
    // Weak, so that the service never keeps the delegate alive.
    auto onUninstalled = [weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) self->uninstall();
    };
    auto pasteService = std::make_shared<PasteService>(paster, isInstalled, onUninstalled);
    pasteService->start();
    service = pasteService;

    log.info("Agent running. Permission to post events: %{bool}d", accessibility.isProcessTrusted());
    // Only now: a main app that connects on hearing it finds the service ready.
    HelperXPC::post(HelperXPC::didStart);
}

void AutoPasteHelper::uninstall() {
    if (isUninstalling) return;
    isUninstalling = true;
    log.info("This copy is no longer installed; unregistering the agent.");
    HelperXPC::post(HelperXPC::willStop);
    LoginItem::unregisterAgent(terminateApplication);
}

void AutoPasteHelper::handleReopen() {
    if (ExecutableIdentity::current() == launchedExecutable) {
        SetUpAlert::alreadyOn();
    } else {
        handOverToReplacement();
    }
}

void AutoPasteHelper::handOverToReplacement() {
    log.info("Opened after the app was replaced; handing over to the new copy's set-up.");
    platform::OpenConfiguration configuration;
    configuration.createsNewApplicationInstance = true;
    configuration.activates = false;
    configuration.environment = {{"KVX_AUTOPASTE_AGENT", "0"}};
    platform::Workspace::shared().openApplication(
        platform::Bundle::main().bundlePath(), configuration,
        [logger = log](const platform::RunningApplicationRef&, const std::optional<platform::Error>& error) {
            if (error) {
                logger.error("Could not start the new copy; this agent keeps running: %{public}s",
                             error->localizedDescription);
                return;
            }
            platform::DispatchQueue::main().async(terminateApplication);
        });
}

void AutoPasteHelper::setUp() {
    // The set-up always ends by terminating; until then the system must not end it.
    platform::ProcessInfo::shared().disableAutomaticTermination("Registering the agent");
    if (!InstallLocation::isInApplicationsFolder()) {
        InstallLocation::explainAndQuit();
        return;
    }
    LoginItem::removeLegacyLaunchAgent();
    LoginItem::removePrototypeLoginItem();

    auto finish = [logger = log] {
        logger.info("Set-up finished; quitting. The agent does the pasting.");
        terminateApplication();
    };
    switch (LoginItem::registerAgent()) {
        case LoginItem::Outcome::registered:
            finish();
            break;
        case LoginItem::Outcome::alreadyRegistered:
            stopRunningAgents([finish] {
                LoginItem::reloadAgent([finish](bool registeredAgain) {
                    if (!registeredAgain) SetUpAlert::failed();
                    finish();
                });
            });
            break;
        case LoginItem::Outcome::needsApproval:
            SetUpAlert::turnedOff();
            finish();
            break;
        case LoginItem::Outcome::registrationFailed:
            SetUpAlert::failed();
            finish();
            break;
    }
}

void AutoPasteHelper::stopRunningAgents(std::function<void()> then) {
    const platform::ProcessIdentifier ownPid = platform::ProcessInfo::shared().processIdentifier();
    const auto bundleIdentifier = platform::Bundle::main().bundleIdentifier();
    std::vector<platform::ProcessIdentifier> agents;
    // Without an identifier nothing tells our processes from any other
    // unidentified process, so none is signalled.
    if (bundleIdentifier && !bundleIdentifier->empty()) {
        for (const auto& application : platform::Workspace::shared().runningApplications(*bundleIdentifier)) {
            const auto pid = application->processIdentifier();
            if (pid != ownPid) agents.push_back(pid);
        }
    }
    for (const auto pid : agents) {
        log.info("Stopping the running agent, pid %d", pid);
        platform::Posix::shared().kill(pid, SIGTERM);
    }
    const auto deadline =
        platform::Clock::shared().monotonicNow() + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                       std::chrono::duration<double>(agentStopTimeLimit));
    check(std::move(agents), deadline, std::move(then));
}

void AutoPasteHelper::check(std::vector<platform::ProcessIdentifier> agents,
                            std::chrono::nanoseconds deadline, std::function<void()> then) {
    std::vector<platform::ProcessIdentifier> stillRunning;
    for (const auto pid : agents) {
        // Signal 0 sends nothing: it only asks whether the process is there.
        if (platform::Posix::shared().kill(pid, 0) == 0) stillRunning.push_back(pid);
    }
    if (stillRunning.empty()) {
        then();
        return;
    }
    if (platform::Clock::shared().monotonicNow() > deadline) {
        log.error("Agent still running after %f s: %s", agentStopTimeLimit, describe(stillRunning));
        then();
        return;
    }
    platform::DispatchQueue::main().asyncAfter(
        agentStopPollInterval,
        [self = shared_from_this(), agents = std::move(agents), deadline, then = std::move(then)]() mutable {
            self->check(std::move(agents), deadline, std::move(then));
        });
}

}  // namespace quillory
