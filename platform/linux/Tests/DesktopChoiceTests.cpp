#include <gtest/gtest.h>

#include "DesktopChoice.h"

namespace {

using platform::linux_platform::DesktopKind;
using platform::linux_platform::desktopKindFor;

TEST(DesktopChoice, AWaylandSessionIsWaylandEvenWithXwaylandsDisplay) {
    EXPECT_EQ(desktopKindFor("wayland-1", nullptr, nullptr), DesktopKind::wayland);
    // As a Wayland session with Xwayland sets it up.
    EXPECT_EQ(desktopKindFor("wayland-1", "wayland", ":0"), DesktopKind::wayland);
    // The session says Wayland but names no display: still no X11 through
    // Xwayland, which would reach only X11 windows.
    EXPECT_EQ(desktopKindFor(nullptr, "wayland", ":0"), DesktopKind::wayland);
    EXPECT_EQ(desktopKindFor("", "wayland", nullptr), DesktopKind::wayland);

    EXPECT_EQ(desktopKindFor(nullptr, "x11", ":0"), DesktopKind::x11);
    EXPECT_EQ(desktopKindFor("", nullptr, ":1"), DesktopKind::x11);
    EXPECT_EQ(desktopKindFor(nullptr, "tty", nullptr), DesktopKind::none);
    EXPECT_EQ(desktopKindFor("", "", ""), DesktopKind::none);
}

}  // namespace
