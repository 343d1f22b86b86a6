#include "fake/FakeDesktop.h"

#include <algorithm>
#include <csignal>

namespace fake {

int FakeApplication::run() {
    running_ = true;
    if (delegate_) delegate_->applicationDidFinishLaunching();
    return 0;
}

void FakeApplication::terminate() {
    if (terminated_) return;
    if (delegate_) delegate_->applicationWillTerminate();
    terminated_ = true;
    terminatedAt_ = scheduler_.now();
    terminatedOn_ = scheduler_.currentQueueLabel();
    scheduler_.stop();
}

bool FakeApplication::reopen() { return delegate_ ? delegate_->applicationShouldHandleReopen(false) : false; }

platform::ModalResponse FakeAlerts::runModal(const platform::Alert& alert) {
    ShownAlert record{alert.messageText(), alert.informativeText(), alert.buttons(), 0, scheduler_.now(), {}};
    AlertAnswer answer;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    if (onShow) onShow(record);
    ++showing_;
    if (answer.afterSeconds > 0) scheduler_.advance(answer.afterSeconds);
    --showing_;
    record.response = answer.response;
    record.dismissedAt = scheduler_.now();
    shown.push_back(record);
    return answer.response;
}

bool FakeRunningApplication::isTerminated() const { return !workspace_.isRunning(pid_); }

bool FakeRunningApplication::activate(platform::ApplicationActivationOptions options) {
    workspace_.recordActivation(pid_, options);
    return true;
}

platform::ObserverToken FakeWorkspaceNotificationCenter::addObserver(std::string name,
                                                                     platform::DispatchQueue& queue,
                                                                     Handler handler) {
    const std::uint64_t id = nextId_++;
    observers_[id] = Observer{std::move(name), &queue, std::move(handler)};
    return platform::ObserverToken{id};
}

void FakeWorkspaceNotificationCenter::removeObserver(platform::ObserverToken token) {
    observers_.erase(token.id);
}

void FakeWorkspaceNotificationCenter::post(const platform::Notification& notification) {
    for (const auto& [id, observer] : observers_) {
        if (observer.name != notification.name) continue;
        observer.queue->async([this, id = id, notification] {
            // An observer removed before delivery hears nothing.
            const auto found = observers_.find(id);
            if (found != observers_.end()) found->second.handler(notification);
        });
    }
}

FakeWorkspace::FakeWorkspace(FakeScheduler& scheduler)
    : scheduler_(scheduler), outside_(scheduler.makeQueue("outside")) {}

std::vector<platform::RunningApplicationRef> FakeWorkspace::runningApplications(
    const std::string& bundleIdentifier) {
    std::vector<platform::RunningApplicationRef> found;
    for (const auto pid : order_) {
        const Process& process = processes_.at(pid);
        if (process.running && process.application->bundleIdentifier() == bundleIdentifier) {
            found.push_back(process.application);
        }
    }
    return found;
}

void FakeWorkspace::openApplication(const std::string& bundlePath,
                                    const platform::OpenConfiguration& configuration,
                                    OpenCompletion completion) {
    launches.push_back(LaunchRequest{bundlePath, configuration, scheduler_.now()});
    LaunchAnswer answer;
    if (!launchAnswers_.empty()) {
        answer = launchAnswers_.front();
        launchAnswers_.pop_front();
    }
    platform::RunningApplicationRef launched;
    if (!answer.error) launched = launch(nextLaunchedPid_++, std::nullopt);
    scheduler_.systemQueue().asyncAfter(answer.afterSeconds, [completion, launched, error = answer.error] {
        completion(error ? nullptr : launched, error);
    });
}

bool FakeWorkspace::openURL(const std::string& url) {
    openedURLs.push_back(url);
    return true;
}

platform::RunningApplicationRef FakeWorkspace::launch(platform::ProcessIdentifier pid,
                                                      std::optional<std::string> bundleIdentifier,
                                                      ProcessBehaviour behaviour) {
    auto application = std::make_shared<FakeRunningApplication>(*this, pid, std::move(bundleIdentifier));
    if (!processes_.contains(pid)) order_.push_back(pid);
    processes_[pid] = Process{application, behaviour, true};
    return application;
}

void FakeWorkspace::bringToFront(const platform::RunningApplicationRef& application) {
    frontmost_ = application;
    center_.post(platform::Notification{
        platform::workspaceDidActivateApplicationNotification,
        std::map<std::string, std::any>{{platform::workspaceApplicationKey, application}}});
}

void FakeWorkspace::quit(platform::ProcessIdentifier pid) {
    const auto found = processes_.find(pid);
    if (found == processes_.end()) return;
    found->second.running = false;
    if (frontmost_ == found->second.application) frontmost_ = nullptr;
}

bool FakeWorkspace::isRunning(platform::ProcessIdentifier pid) const {
    const auto found = processes_.find(pid);
    return found != processes_.end() && found->second.running;
}

int FakeWorkspace::deliverSignal(platform::ProcessIdentifier pid, int signal) {
    if (signal != 0) signals.push_back(SentSignal{pid, signal, scheduler_.now()});
    const auto found = processes_.find(pid);
    if (found == processes_.end() || !found->second.running) return -1;
    if (signal == SIGTERM || signal == SIGKILL) {
        const ProcessBehaviour& behaviour = found->second.behaviour;
        if (signal == SIGKILL || !behaviour.ignoresTermination) {
            outside_.asyncAfter(signal == SIGKILL ? 0 : behaviour.exitsAfterSeconds,
                                [this, pid] { quit(pid); });
        }
    }
    return 0;
}

void FakeWorkspace::recordActivation(platform::ProcessIdentifier pid,
                                     platform::ApplicationActivationOptions options) {
    activations.push_back(Activation{pid, options, scheduler_.now()});
    if (!activationsTakeEffect) return;
    const auto found = processes_.find(pid);
    if (found != processes_.end() && found->second.running) bringToFront(found->second.application);
}

}  // namespace fake
