#pragma once

// What the bench's stand-in services share: serving one object on the
// session bus, and finding a key on the keyboard.

#include <gio/gio.h>
#include <xcb/xcb.h>

namespace bench {

// Serves `vtable` at `objectPath`, then takes `busName` on the session bus
// (as the helper does) and answers on the main loop until the bus goes.
// Returns 1, with a message naming `program`, when any step fails.
int serveOnSessionBus(const char* program, const char* busName, const char* objectPath,
                      const char* introspection, const GDBusInterfaceVTable& vtable);

// The key that types `keysym` unshifted in the first group; 0 when none does.
xcb_keycode_t keycodeFor(xcb_connection_t* display, xcb_keysym_t keysym);

}  // namespace bench
