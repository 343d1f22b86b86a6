#include "MacPlatform.h"

#import <Foundation/Foundation.h>

namespace platform::macos {

MacPlatform::MacPlatform() : localization_(NSBundle.mainBundle) {}

Services MacPlatform::services() {
    Services services;
    services.application = &application_;
    services.alerts = &alerts_;
    services.workspace = &workspace_;
    services.mainBundle = &bundle_;
    services.localization = &localization_;
    services.processInfo = &processInfo_;
    services.fileManager = &files_;
    services.distributedNotifications = &notifications_;
    services.xpc = &xpc_;
    services.serviceManagement = &loginItems_;
    services.accessibility = &accessibility_;
    services.keyboardEvents = &keyboardEvents_;
    services.mainQueue = &mainQueue_;
    services.log = &log_;
    services.clock = &clock_;
    services.posix = &posix_;
    return services;
}

}  // namespace platform::macos
