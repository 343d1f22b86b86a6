// The floor of the helper's paste figures on Wayland: the least a GDBus
// service does to paste there. One virtual keyboard made at start with the
// default keymap; Paste() -> (b) waits 30 ms on an absolute monotonic
// deadline, then presses Control (its bit sent with the modifiers request),
// V, releases V and Control (an empty state sent), 8 ms apart, into
// whatever window has the keyboard, and replies true: nothing else. The bus
// starts it through an activation file, as it does the helper.

#include <gio/gio.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BenchServices.h"
#include "FloorContract.h"
#include "MonotonicSleep.h"
#include "desktop/WaylandKeymap.h"
#include "virtual-keyboard-unstable-v1-client.h"

using quillory_bench::monotonicAfter;
using quillory_bench::sleepUntil;

namespace {

using namespace quillory_bench::floor;

wl_display* display = nullptr;
wl_seat* seat = nullptr;
zwp_virtual_keyboard_manager_v1* manager = nullptr;
zwp_virtual_keyboard_v1* keyboard = nullptr;
std::uint32_t control = 0;  // evdev codes
std::uint32_t v = 0;
std::uint32_t controlMask = 0;

void key(std::uint32_t code, bool down) {
    zwp_virtual_keyboard_v1_key(keyboard, 0, code,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void answer(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
            GDBusMethodInvocation* invocation, gpointer) {
    sleepUntil(monotonicAfter(delayNs));
    key(control, true);
    zwp_virtual_keyboard_v1_modifiers(keyboard, controlMask, 0, 0, 0);
    wl_display_flush(display);
    sleepUntil(monotonicAfter(keyPauseNs));
    key(v, true);
    wl_display_flush(display);
    sleepUntil(monotonicAfter(keyPauseNs));
    key(v, false);
    wl_display_flush(display);
    sleepUntil(monotonicAfter(keyPauseNs));
    key(control, false);
    zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
    wl_display_flush(display);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", TRUE));
}

const GDBusInterfaceVTable vtable = {answer, nullptr, nullptr, {}};

void announced(void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    if (std::strcmp(interface, "wl_seat") == 0 && seat == nullptr)
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    if (std::strcmp(interface, "zwp_virtual_keyboard_manager_v1") == 0)
        manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}

void removed(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener = {announced, removed};

}  // namespace

int main() {
    display = wl_display_connect(nullptr);
    if (display == nullptr) {
        g_printerr("quillory-bench-wayland-floor: no Wayland display\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, nullptr);
    wl_display_roundtrip(display);
    const auto keymap = platform::linux_desktop::WaylandKeymap::fromDefaults();
    if (seat == nullptr || manager == nullptr || keymap == nullptr) {
        g_printerr("quillory-bench-wayland-floor: no virtual keyboard here\n");
        return 1;
    }
    const auto controlKey = keymap->keyFor(XKB_KEY_Control_L);
    const auto vKey = keymap->keyFor(XKB_KEY_v);
    controlMask = keymap->modifierMask(XKB_MOD_NAME_CTRL);
    const std::string& text = keymap->text();
    const int fd = memfd_create("floor-keymap", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text.c_str(), text.size() + 1) != static_cast<ssize_t>(text.size() + 1) ||
        !controlKey || !vKey) {
        g_printerr("quillory-bench-wayland-floor: no keymap for the virtual keyboard\n");
        return 1;
    }
    control = controlKey->evdevCode;
    v = vKey->evdevCode;
    keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(text.size() + 1));
    close(fd);
    if (wl_display_roundtrip(display) < 0) {
        g_printerr("quillory-bench-wayland-floor: the compositor refused a virtual keyboard\n");
        return 1;
    }
    return bench::serveOnSessionBus("quillory-bench-wayland-floor", busName, objectPath, introspection,
                                    vtable);
}
