#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake/FakeScheduler.h"
#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/Workspace.h"

namespace fake {

class FakeApplication : public platform::Application {
public:
    explicit FakeApplication(FakeScheduler& scheduler) : scheduler_(scheduler) {}

    void setDelegate(platform::ApplicationDelegate* delegate) override { delegate_ = delegate; }
    void setActivationPolicy(platform::ActivationPolicy policy) override { policy_ = policy; }
    // Finishes launching and returns: the test drives the event loop.
    int run() override;
    void activate() override { activations.push_back(scheduler_.now()); }
    void terminate() override;

    // The user or another application opens the helper again.
    bool reopen();

    platform::ApplicationDelegate* delegate() const { return delegate_; }
    std::optional<platform::ActivationPolicy> activationPolicy() const { return policy_; }
    bool isRunning() const { return running_; }
    bool isTerminated() const { return terminated_; }
    std::optional<Nanos> terminatedAt() const { return terminatedAt_; }
    // The queue terminate() was called on, or "none" outside every queue.
    const std::string& terminatedOn() const { return terminatedOn_; }

    std::vector<Nanos> activations;

private:
    FakeScheduler& scheduler_;
    platform::ApplicationDelegate* delegate_ = nullptr;
    std::optional<platform::ActivationPolicy> policy_;
    bool running_ = false;
    bool terminated_ = false;
    std::optional<Nanos> terminatedAt_;
    std::string terminatedOn_;
};

struct ShownAlert {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;
    platform::ModalResponse response = 0;
    Nanos shownAt{0};
    Nanos dismissedAt{0};
};

// How the user answers the next alert: which response, after how long.
// Main-queue work goes on while the alert is up.
struct AlertAnswer {
    platform::ModalResponse response = platform::alertFirstButtonReturn;
    double afterSeconds = 0;
};

class FakeAlerts : public platform::AlertPresenter {
public:
    explicit FakeAlerts(FakeScheduler& scheduler) : scheduler_(scheduler) {}

    platform::ModalResponse runModal(const platform::Alert& alert) override;

    // Unscripted alerts are answered with the first button at once.
    void answerNext(AlertAnswer answer) { answers_.push_back(answer); }
    bool isShowing() const { return showing_ > 0; }

    // Lets a test look at the world at the moment an alert comes up.
    std::function<void(const ShownAlert&)> onShow;
    std::vector<ShownAlert> shown;

private:
    FakeScheduler& scheduler_;
    std::deque<AlertAnswer> answers_;
    int showing_ = 0;
};

class FakeWorkspace;

// What a process does on SIGTERM.
struct ProcessBehaviour {
    bool ignoresTermination = false;
    double exitsAfterSeconds = 0;
};

class FakeRunningApplication : public platform::RunningApplication {
public:
    FakeRunningApplication(FakeWorkspace& workspace, platform::ProcessIdentifier pid,
                           std::optional<std::string> bundleIdentifier)
        : workspace_(workspace), pid_(pid), bundleIdentifier_(std::move(bundleIdentifier)) {}

    std::optional<std::string> bundleIdentifier() const override { return bundleIdentifier_; }
    platform::ProcessIdentifier processIdentifier() const override { return pid_; }
    bool isTerminated() const override;
    bool activate(platform::ApplicationActivationOptions options) override;

private:
    FakeWorkspace& workspace_;
    platform::ProcessIdentifier pid_;
    std::optional<std::string> bundleIdentifier_;
};

struct Activation {
    platform::ProcessIdentifier pid;
    platform::ApplicationActivationOptions options;
    Nanos at;
};

struct SentSignal {
    platform::ProcessIdentifier pid;
    int signal;
    Nanos at;
};

struct LaunchRequest {
    std::string bundlePath;
    platform::OpenConfiguration configuration;
    Nanos at;
};

// How the system answers the next openApplication request.
struct LaunchAnswer {
    std::optional<platform::Error> error;
    double afterSeconds = 0;
};

class FakeWorkspaceNotificationCenter : public platform::WorkspaceNotificationCenter {
public:
    platform::ObserverToken addObserver(std::string name, platform::DispatchQueue& queue,
                                        Handler handler) override;
    void removeObserver(platform::ObserverToken token) override;

    // Delivers to every observer of the name, each on its own queue.
    void post(const platform::Notification& notification);
    std::size_t observerCount() const { return observers_.size(); }

private:
    struct Observer {
        std::string name;
        platform::DispatchQueue* queue;
        Handler handler;
    };
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Observer> observers_;
};

// The desktop: processes, running applications, the front one, activations,
// launches and opened URLs.
class FakeWorkspace : public platform::Workspace {
public:
    explicit FakeWorkspace(FakeScheduler& scheduler);

    platform::RunningApplicationRef frontmostApplication() override { return frontmost_; }
    std::vector<platform::RunningApplicationRef> runningApplications(
        const std::string& bundleIdentifier) override;
    platform::WorkspaceNotificationCenter& notificationCenter() override { return center_; }
    void openApplication(const std::string& bundlePath, const platform::OpenConfiguration& configuration,
                         OpenCompletion completion) override;
    bool openURL(const std::string& url) override;

    // Starts a process; with a bundle identifier it is an application.
    platform::RunningApplicationRef launch(platform::ProcessIdentifier pid,
                                           std::optional<std::string> bundleIdentifier,
                                           ProcessBehaviour behaviour = {});
    // The user brings the application to the front: observers hear of it.
    void bringToFront(const platform::RunningApplicationRef& application);
    // Sets the front application without an activation notification.
    void setFrontmost(platform::RunningApplicationRef application) { frontmost_ = std::move(application); }
    void quit(platform::ProcessIdentifier pid);
    bool isRunning(platform::ProcessIdentifier pid) const;
    // Whether activate() brings the application to the front (the system may refuse).
    bool activationsTakeEffect = true;

    // Signals, as kill(2) would deliver them; -1 for an unknown or ended process.
    int deliverSignal(platform::ProcessIdentifier pid, int signal);

    void answerNextLaunch(LaunchAnswer answer) { launchAnswers_.push_back(std::move(answer)); }

    FakeWorkspaceNotificationCenter& center() { return center_; }
    void recordActivation(platform::ProcessIdentifier pid, platform::ApplicationActivationOptions options);

    std::vector<Activation> activations;
    std::vector<SentSignal> signals;
    std::vector<LaunchRequest> launches;
    std::vector<std::string> openedURLs;

private:
    struct Process {
        platform::RunningApplicationRef application;
        ProcessBehaviour behaviour;
        bool running = true;
    };

    FakeScheduler& scheduler_;
    FakeQueue& outside_;
    FakeWorkspaceNotificationCenter center_;
    std::vector<platform::ProcessIdentifier> order_;
    std::map<platform::ProcessIdentifier, Process> processes_;
    platform::RunningApplicationRef frontmost_;
    std::deque<LaunchAnswer> launchAnswers_;
    platform::ProcessIdentifier nextLaunchedPid_ = 9000;
};

}  // namespace fake
