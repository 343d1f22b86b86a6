#pragma once

#include "platform/Accessibility.h"
#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/FileManager.h"
#include "platform/KeyboardEvents.h"
#include "platform/Log.h"
#include "platform/Posix.h"
#include "platform/ProcessInfo.h"
#include "platform/ServiceManagement.h"
#include "platform/Workspace.h"
#include "platform/XPC.h"

namespace platform {

// The services of one platform. The composition root installs them once, at
// start, before any unit runs; each `shared()` accessor then returns its own.
struct Services {
    Application* application = nullptr;
    AlertPresenter* alerts = nullptr;
    Workspace* workspace = nullptr;
    Bundle* mainBundle = nullptr;
    Localization* localization = nullptr;
    ProcessInfo* processInfo = nullptr;
    FileManager* fileManager = nullptr;
    DistributedNotificationCenter* distributedNotifications = nullptr;
    XPC* xpc = nullptr;
    ServiceManagement* serviceManagement = nullptr;
    Accessibility* accessibility = nullptr;
    KeyboardEvents* keyboardEvents = nullptr;
    DispatchQueue* mainQueue = nullptr;
    LogSink* log = nullptr;
    Clock* clock = nullptr;
    Posix* posix = nullptr;
};

void install(const Services& services);
const Services& installed();

}  // namespace platform
