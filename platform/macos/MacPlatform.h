#pragma once

#include "MacApplication.h"
#include "MacBundle.h"
#include "MacDispatch.h"
#include "MacEvents.h"
#include "MacLog.h"
#include "MacServiceManagement.h"
#include "MacSystem.h"
#include "MacWorkspace.h"
#include "MacXPC.h"
#include "platform/Platform.h"

namespace platform::macos {

// Every service of the macOS platform, wired once, first thing in main().
class MacPlatform {
public:
    MacPlatform();
    MacPlatform(const MacPlatform&) = delete;
    MacPlatform& operator=(const MacPlatform&) = delete;

    Services services();

private:
    MacApplication application_;
    MacAlertPresenter alerts_;
    MacMainQueue mainQueue_;
    MacWorkspace workspace_;
    MacBundle bundle_;
    MacLocalization localization_;
    MacProcessInfo processInfo_;
    MacFileManager files_;
    MacDistributedNotificationCenter notifications_;
    MacXPC xpc_;
    MacServiceManagement loginItems_;
    MacAccessibility accessibility_;
    MacKeyboardEvents keyboardEvents_;
    MacLog log_;
    MacClock clock_;
    MacPosix posix_;
};

}  // namespace platform::macos
