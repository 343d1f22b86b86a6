#include "DesktopChoice.h"

#include <cstdlib>
#include <cstring>

namespace platform::linux_platform {

namespace {

bool isSet(const char* value) { return value != nullptr && value[0] != '\0'; }

}  // namespace

DesktopKind desktopKindFor(const char* waylandDisplay, const char* sessionType, const char* display) {
    if (isSet(waylandDisplay) || (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0))
        return DesktopKind::wayland;
    if (isSet(display)) return DesktopKind::x11;
    return DesktopKind::none;
}

std::unique_ptr<linux_desktop::Desktop> openSessionDesktop() {
    switch (desktopKindFor(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"),
                           std::getenv("DISPLAY"))) {
        case DesktopKind::wayland:
            return linux_desktop::openWaylandDesktop();
        case DesktopKind::x11:
            return linux_desktop::openX11Desktop();
        case DesktopKind::none:
            break;
    }
    return nullptr;
}

}  // namespace platform::linux_platform
