#include "LinuxPlatform.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "DesktopChoice.h"
#include "GLibSupport.h"
#include "Processes.h"

namespace platform::linux_platform {

namespace {

constexpr const char* desktopLogSubsystem = "me.ombrel.quillory.autopastehelper";

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

// Why there is no desktop, for the log and each refused paste.
std::string headlessReason() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && display[0] != '\0')
        return std::string("The X display ") + display + " cannot be opened.";
    return "There is no display: neither WAYLAND_DISPLAY nor DISPLAY is set.";
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
      desktop_(openSessionDesktop()),
      mainQueue_(g_main_context_default()),
      systemQueue_("system"),
      bundle_(executable_),
      localization_(linux_desktop::makeGettextLocalization(bundle_.resourcesPath())),
      notifications_(bus_),
      xpc_(bus_),
      loginItems_(bus_, systemQueue_, infoOf(bundle_)),
      accessibility_(desktop_.get()),
      headlessAlerts_(bundle_.bundleIdentifier().value_or("linux")),
      headlessKeyboard_(headlessReason()),
      workspace_(desktop_.get(), systemQueue_),
      application_(bus_, mainQueue_, bundle_.bundleIdentifier(), launchedAsNewInstance_, desktop_.get()) {
    logDesktop();
    if (bus_ == nullptr) return;
    // The bus goes when the session ends (or the bus dies). GDBus would then
    // raise SIGTERM; the process ends in order instead, as at a quit request.
    g_dbus_connection_set_exit_on_close(bus_, FALSE);
    g_signal_connect(bus_, "closed",
                     G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer application) {
                         g_message("The session bus has closed; ending.");
                         static_cast<LinuxApplication*>(application)->terminate();
                     }),
                     &application_);
}

// Once at start: which desktop, what it offers, and why it cannot paste
// if it cannot.
void LinuxPlatform::logDesktop() {
    const auto write = [this](LogLevel level, const std::string& text) {
        log_.write(LogMessage{level, desktopLogSubsystem, "desktop", "%{public}s", {text}});
    };
    if (!desktop_) {
        write(LogLevel::info, "Desktop: none. " + headlessReason());
        return;
    }
    write(LogLevel::info, "Desktop: " + desktop_->summary() + ".");
    if (auto why = desktop_->keyboardEvents().unavailability())
        write(LogLevel::error, "Pasting is unavailable on this desktop. " + why->localizedDescription);
}

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
