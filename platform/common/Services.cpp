#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"

namespace platform {

namespace {

Services current;

template <typename T>
T& require(T* service, const char* name) {
    if (service == nullptr) {
        std::fprintf(stderr, "No platform service installed: %s\n", name);
        std::abort();
    }
    return *service;
}

}  // namespace

void install(const Services& services) { current = services; }

const Services& installed() { return current; }

Application& Application::shared() { return require(current.application, "application"); }
AlertPresenter& AlertPresenter::shared() { return require(current.alerts, "alerts"); }
Workspace& Workspace::shared() { return require(current.workspace, "workspace"); }
Bundle& Bundle::main() { return require(current.mainBundle, "main bundle"); }
Localization& Localization::shared() { return require(current.localization, "localization"); }
ProcessInfo& ProcessInfo::shared() { return require(current.processInfo, "process info"); }
FileManager& FileManager::shared() { return require(current.fileManager, "file manager"); }
DistributedNotificationCenter& DistributedNotificationCenter::shared() {
    return require(current.distributedNotifications, "distributed notifications");
}
XPC& XPC::shared() { return require(current.xpc, "xpc"); }
ServiceManagement& ServiceManagement::shared() {
    return require(current.serviceManagement, "service management");
}
Accessibility& Accessibility::shared() { return require(current.accessibility, "accessibility"); }
KeyboardEvents& KeyboardEvents::shared() { return require(current.keyboardEvents, "keyboard events"); }
DispatchQueue& DispatchQueue::main() { return require(current.mainQueue, "main queue"); }
LogSink& LogSink::shared() { return require(current.log, "log"); }
Clock& Clock::shared() { return require(current.clock, "clock"); }
Posix& Posix::shared() { return require(current.posix, "posix"); }

ModalResponse Alert::runModal() const { return AlertPresenter::shared().runModal(*this); }

void Logger::log(LogLevel level, std::string_view format, std::vector<LogArgument> arguments) const {
    LogSink::shared().write(
        LogMessage{level, subsystem_, category_, std::string(format), std::move(arguments)});
}

}  // namespace platform
