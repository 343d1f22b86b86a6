// The floor of the helper's paste figures: the least a GDBus service does to
// paste. Paste() -> (b) waits 30 ms on an absolute monotonic deadline, posts
// Control down, V down, V up, Control up through XTest, 8 ms apart, to
// whatever window has the focus, and replies true: nothing else. The bus
// starts it through an activation file, as it does the helper.

#include <gio/gio.h>
#include <time.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "BenchServices.h"
#include "FloorContract.h"
#include "MonotonicSleep.h"

using quillory_bench::monotonicAfter;
using quillory_bench::sleepUntil;

namespace {

using namespace quillory_bench::floor;
constexpr xcb_keysym_t keysymControlL = 0xffe3;
constexpr xcb_keysym_t keysymV = 0x0076;

xcb_connection_t* display = nullptr;
xcb_keycode_t control = 0;
xcb_keycode_t v = 0;

void post(std::uint8_t type, xcb_keycode_t key) {
    xcb_test_fake_input(display, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(display);
}

void answer(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
            GDBusMethodInvocation* invocation, gpointer) {
    sleepUntil(monotonicAfter(delayNs));
    post(XCB_KEY_PRESS, control);
    sleepUntil(monotonicAfter(keyPauseNs));
    post(XCB_KEY_PRESS, v);
    sleepUntil(monotonicAfter(keyPauseNs));
    post(XCB_KEY_RELEASE, v);
    sleepUntil(monotonicAfter(keyPauseNs));
    post(XCB_KEY_RELEASE, control);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", TRUE));
}

const GDBusInterfaceVTable vtable = {answer, nullptr, nullptr, {}};

}  // namespace

int main() {
    display = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(display)) {
        g_printerr("quillory-bench-floor: no display\n");
        return 1;
    }
    control = bench::keycodeFor(display, keysymControlL);
    v = bench::keycodeFor(display, keysymV);
    if (control == 0 || v == 0) {
        g_printerr("quillory-bench-floor: the keyboard map has no Control_L or v\n");
        return 1;
    }
    return bench::serveOnSessionBus("quillory-bench-floor", busName, objectPath, introspection, vtable);
}
