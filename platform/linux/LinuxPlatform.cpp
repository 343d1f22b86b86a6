#include "LinuxPlatform.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "GLibSupport.h"
#include "Processes.h"

namespace platform::linux_platform {

namespace {

bool takeNewInstanceMarker() {
    const char* value = std::getenv(newInstanceVariable);
    const bool marked = value != nullptr && std::strcmp(value, "1") == 0;
    // Not passed on to anything this process starts.
    ::unsetenv(newInstanceVariable);
    return marked;
}

GDBusConnection* connectSessionBus() {
    ErrorSlot error;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.out());
    if (bus == nullptr) g_message("No session bus: %s", error.message().c_str());
    return bus;
}

BundleInfo infoOf(const LinuxBundle& bundle) {
    return BundleInfo{bundle.bundlePath(), bundle.bundleIdentifier(), bundle.executablePath(),
                      bundle.displayName()};
}

}  // namespace

LinuxPlatform::LinuxPlatform()
    : launchedAsNewInstance_(takeNewInstanceMarker()),
      executable_(executableOfProcess(::getpid()).value_or("")),
      log_(LinuxLog::available(), 2, std::filesystem::path(executable_).filename().string()),
      bus_(connectSessionBus()),
      desktop_(linux_desktop::openX11Desktop()),
      mainQueue_(g_main_context_default()),
      systemQueue_("system"),
      bundle_(executable_),
      localization_(linux_desktop::makeGettextLocalization(bundle_.resourcesPath())),
      notifications_(bus_),
      xpc_(bus_),
      loginItems_(bus_, systemQueue_, infoOf(bundle_)),
      accessibility_(desktop_.get()),
      headlessAlerts_(bundle_.bundleIdentifier().value_or("linux")),
      workspace_(desktop_.get(), systemQueue_),
      application_(bus_, mainQueue_, bundle_.bundleIdentifier(), launchedAsNewInstance_, desktop_.get()) {}

LinuxPlatform::~LinuxPlatform() {
    if (bus_ != nullptr) g_object_unref(bus_);
}

Services LinuxPlatform::services() {
    Services services;
    services.application = &application_;
    services.alerts = desktop_ ? &desktop_->alerts() : static_cast<AlertPresenter*>(&headlessAlerts_);
    services.workspace = &workspace_;
    services.mainBundle = &bundle_;
    services.localization = localization_.get();
    services.processInfo = &processInfo_;
    services.fileManager = &files_;
    services.distributedNotifications = &notifications_;
    services.xpc = &xpc_;
    services.serviceManagement = &loginItems_;
    services.accessibility = &accessibility_;
    services.keyboardEvents =
        desktop_ ? &desktop_->keyboardEvents() : static_cast<KeyboardEvents*>(&headlessKeyboard_);
    services.mainQueue = &mainQueue_;
    services.log = &log_;
    services.clock = &clock_;
    services.posix = &posix_;
    return services;
}

}  // namespace platform::linux_platform
