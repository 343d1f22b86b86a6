#pragma once

#include <gio/gio.h>

#include <memory>

#include "Bundles.h"
#include "BusNotifications.h"
#include "BusXPC.h"
#include "Headless.h"
#include "LinuxApplication.h"
#include "LinuxDesktop.h"
#include "LinuxLog.h"
#include "LinuxSystem.h"
#include "LinuxWorkspace.h"
#include "LoginItems.h"
#include "Queues.h"
#include "platform/Platform.h"

namespace platform::linux_platform {

// Every service of the Linux platform, wired once. Made first thing in
// main(), before any other thread exists: it takes the new-instance marker
// out of the environment.
class LinuxPlatform {
public:
    LinuxPlatform();
    ~LinuxPlatform();
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    Services services();

private:
    void logDesktop();

    bool launchedAsNewInstance_;
    std::string executable_;
    LinuxLog log_;
    GDBusConnection* bus_;
    std::unique_ptr<linux_desktop::Desktop> desktop_;
    ContextQueue mainQueue_;
    SerialQueue systemQueue_;
    LinuxBundle bundle_;
    std::unique_ptr<Localization> localization_;
    LinuxProcessInfo processInfo_;
    LinuxFileManager files_;
    LinuxClock clock_;
    LinuxPosix posix_;
    BusNotifications notifications_;
    BusXPC xpc_;
    LinuxServiceManagement loginItems_;
    LinuxAccessibility accessibility_;
    HeadlessAlerts headlessAlerts_;
    HeadlessKeyboardEvents headlessKeyboard_;
    LinuxWorkspace workspace_;
    LinuxApplication application_;
};

}  // namespace platform::linux_platform
