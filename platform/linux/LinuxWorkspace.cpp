#include "LinuxWorkspace.h"

#include <unistd.h>

#include <cstring>
#include <utility>

#include "Bundles.h"
#include "GLibSupport.h"
#include "LinuxSystem.h"
#include "Processes.h"

namespace platform::linux_platform {

ObserverToken WorkspaceNotifications::addObserver(std::string name, DispatchQueue& queue, Handler handler) {
    std::function<void()> start;
    ObserverToken token;
    {
        std::lock_guard lock(mutex_);
        if (name == workspaceDidActivateApplicationNotification)
            start = std::exchange(startWatching_, nullptr);
        token.id = nextId_++;
        observers_.emplace(token.id, Observer{std::move(name), &queue, std::move(handler)});
    }
    if (start) start();
    return token;
}

void WorkspaceNotifications::removeObserver(ObserverToken token) {
    std::lock_guard lock(mutex_);
    observers_.erase(token.id);
}

void WorkspaceNotifications::post(const Notification& notification) {
    std::lock_guard lock(mutex_);
    for (const auto& [id, observer] : observers_) {
        if (observer.name != notification.name) continue;
        observer.queue->async([handler = observer.handler, notification] { handler(notification); });
    }
}

LinuxWorkspace::LinuxWorkspace(linux_desktop::Desktop* desktop, DispatchQueue& systemQueue)
    : desktop_(desktop), systemQueue_(systemQueue), notifications_([this] {
          if (desktop_ != nullptr) desktop_->watchActivations([this] { postActivation(); });
      }) {}

void LinuxWorkspace::postActivation() {
    auto application = frontmostApplication();
    if (!application) return;
    notifications_.post(
        Notification{workspaceDidActivateApplicationNotification,
                     std::map<std::string, std::any>{{workspaceApplicationKey, application}}});
}

RunningApplicationRef LinuxWorkspace::frontmostApplication() {
    if (desktop_ == nullptr) return nullptr;
    const auto window = desktop_->frontWindow();
    if (!window) return nullptr;
    // The same window of the same living process is the same application, as
    // AppKit hands out one object per process: a paste does not read the
    // process's executable again.
    if (lastFront_ && window->pid > 0 && window == lastFrontWindow_ && !lastFront_->isTerminated())
        return lastFront_;
    std::optional<std::string> identifier = window->applicationId;
    if (!identifier && window->pid > 0) {
        if (const auto executable = executableOfProcess(window->pid)) {
            if (const auto bundle = bundleOfExecutable(*executable)) identifier = bundle->identifier;
        }
    }
    if (!identifier) identifier = window->windowClass;
    lastFrontWindow_ = window;
    lastFront_ = std::make_shared<LinuxRunningApplication>(window->pid, identifier, desktop_, window->window);
    return lastFront_;
}

std::vector<RunningApplicationRef> LinuxWorkspace::runningApplications(const std::string& bundleIdentifier) {
    std::vector<RunningApplicationRef> applications;
    for (const ProcessIdentifier pid : processesOfBundle(bundleIdentifier)) {
        auto application = std::make_shared<LinuxRunningApplication>(pid, bundleIdentifier, desktop_);
        // Looked at again through the pidfd just opened, in case the number
        // went to another process in between.
        const auto executable = executableOfProcess(pid);
        const auto bundle = executable ? bundleOfExecutable(*executable) : std::nullopt;
        if (application->isTerminated() || !bundle || bundle->identifier != bundleIdentifier) continue;
        applications.push_back(std::move(application));
    }
    return applications;
}

void LinuxWorkspace::openApplication(const std::string& bundlePath, const OpenConfiguration& configuration,
                                     OpenCompletion completion) {
    const auto bundle = readBundle(bundlePath);
    if (!bundle || !bundle->executablePath) {
        std::string text = "The application “";
        text.append(bundlePath).append("” cannot be opened because it is missing.");
        systemQueue_.async([completion, text] { completion(nullptr, Error{text}); });
        return;
    }
    auto environment = currentEnvironment();
    environment.erase(newInstanceVariable);
    for (const auto& [name, value] : configuration.environment) environment[name] = value;
    if (configuration.createsNewApplicationInstance)
        environment.insert_or_assign(newInstanceVariable, std::string("1"));
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = *bundle->executablePath;
    char* argv[] = {program.data(), nullptr};

    ErrorSlot error;
    GPid pid = 0;
    // The launched application must outlive this process and its process
    // group: it gets a session of its own. GLib reaps it.
    const bool started = g_spawn_async(
        "/", argv, envp.data(), G_SPAWN_DEFAULT, [](gpointer) { ::setsid(); }, nullptr, &pid, error.out());
    if (!started) {
        systemQueue_.async([completion, message = error.message()] { completion(nullptr, Error{message}); });
        return;
    }
    auto application = std::make_shared<LinuxRunningApplication>(pid, bundle->identifier, desktop_);
    systemQueue_.async([completion, application] { completion(application, std::nullopt); });
}

bool LinuxWorkspace::openURL(const std::string& url) {
    ErrorSlot error;
    return g_app_info_launch_default_for_uri(url.c_str(), nullptr, error.out()) != FALSE;
}

}  // namespace platform::linux_platform
