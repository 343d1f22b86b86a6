#include "fake/FakePlatform.h"

#include "platform/Platform.h"

namespace fake {

FakePlatform::FakePlatform() {
    platform::install(platform::Services{
        .application = &application,
        .alerts = &alerts,
        .workspace = &workspace,
        .mainBundle = &bundle,
        .localization = &localization,
        .processInfo = &process,
        .fileManager = &files,
        .distributedNotifications = &notifications,
        .xpc = &xpc,
        .serviceManagement = &loginItems,
        .accessibility = &accessibility,
        .keyboardEvents = &keyboard,
        .mainQueue = &scheduler.mainQueue(),
        .log = &log,
        .clock = &clock,
        .posix = &posix,
    });
}

FakePlatform::~FakePlatform() {
    // The process ends: what the fake still holds of the units (pending work,
    // open connections and their exported objects) goes first, while the
    // services their destructors may use are still installed.
    scheduler.discardPending();
    xpc.dropConnections();
    platform::install(platform::Services{});
}

}  // namespace fake
