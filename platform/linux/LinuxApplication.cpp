#include "LinuxApplication.h"

#include <unistd.h>

#include <cstdio>

namespace platform::linux_platform {

LinuxApplication::LinuxApplication(GDBusConnection* bus, DispatchQueue& mainQueue,
                                   const std::optional<std::string>& bundleIdentifier,
                                   bool launchedAsNewInstance, linux_desktop::Desktop* desktop)
    : bus_(bus), mainQueue_(mainQueue), launchedAsNewInstance_(launchedAsNewInstance), desktop_(desktop) {
    if (bus_ != nullptr && bundleIdentifier && !bundleIdentifier->empty()) {
        instance_ = std::make_unique<ApplicationInstance>(bus_, *bundleIdentifier, [this] {
            mainQueue_.async([this] {
                if (delegate_ != nullptr) delegate_->applicationShouldHandleReopen(false);
            });
        });
    }
}

int LinuxApplication::run() {
    if (instance_ && instance_->claim(launchedAsNewInstance_) == ApplicationInstance::Claim::forwarded) {
        endProcess(bus_, 0);
    }
    mainQueue_.async([this] {
        if (delegate_ != nullptr) delegate_->applicationDidFinishLaunching();
    });
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return 0;
}

void LinuxApplication::activate() {
    if (desktop_ != nullptr) desktop_->activateSelf();
}

void LinuxApplication::terminate() {
    if (isTerminating_) return;
    isTerminating_ = true;
    if (delegate_ != nullptr) delegate_->applicationWillTerminate();
    endProcess(bus_, 0);
}

void LinuxApplication::endProcess(GDBusConnection* bus, int status) {
    // A reply or signal still queued in the bus connection would be lost.
    if (bus != nullptr) g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    std::fflush(nullptr);
    ::_exit(status);
}

}  // namespace platform::linux_platform
