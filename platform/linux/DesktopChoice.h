#pragma once

#include <memory>
#include <string>

#include "LinuxDesktop.h"

namespace platform::linux_platform {

enum class DesktopKind { wayland, x11, none };

// A Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland) gets
// the Wayland desktop even when DISPLAY is set too: Xwayland reaches only
// X11 windows, so typing through it would miss every native window and
// still report success. Otherwise X11 when DISPLAY is set; else none.
// Null arguments stand for unset variables.
DesktopKind desktopKindFor(const char* waylandDisplay, const char* sessionType, const char* display);

// The desktop of this process's environment; null for none or an X display
// that cannot be opened (headless). A Wayland session always gets a
// Wayland desktop, one that refuses to type when it cannot.
std::unique_ptr<linux_desktop::Desktop> openSessionDesktop();

}  // namespace platform::linux_platform
