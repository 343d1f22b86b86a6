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

namespace {

constexpr const char* busName = "me.ombrel.quillory.bench.Floor";
constexpr const char* objectPath = "/me/ombrel/quillory/bench/Floor";
constexpr const char* introspection =
    "<node><interface name='me.ombrel.quillory.bench.Floor'>"
    "<method name='Paste'><arg type='b' name='reply' direction='out'/></method>"
    "</interface></node>";

constexpr long delayNs = 30'000'000;
constexpr long keyPauseNs = 8'000'000;
constexpr xcb_keysym_t keysymControlL = 0xffe3;
constexpr xcb_keysym_t keysymV = 0x0076;

// Replies of RequestName.
constexpr guint32 primaryOwner = 1;
constexpr guint32 doNotQueue = 4;

xcb_connection_t* display = nullptr;
xcb_keycode_t control = 0;
xcb_keycode_t v = 0;

xcb_keycode_t keycodeFor(xcb_keysym_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(display);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
        display, xcb_get_keyboard_mapping(display, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr);
    if (mapping == nullptr) return 0;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
    xcb_keycode_t found = 0;
    for (int i = 0; i < count && found == 0; ++i) {
        if (keysyms[i * mapping->keysyms_per_keycode] == keysym)
            found = static_cast<xcb_keycode_t>(setup->min_keycode + i);
    }
    std::free(mapping);
    return found;
}

void sleepUntil(const timespec& deadline) {
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

timespec after(long nanoseconds) {
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC, &at);
    at.tv_nsec += nanoseconds;
    at.tv_sec += at.tv_nsec / 1'000'000'000;
    at.tv_nsec %= 1'000'000'000;
    return at;
}

void post(std::uint8_t type, xcb_keycode_t key) {
    xcb_test_fake_input(display, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(display);
}

void answer(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
            GDBusMethodInvocation* invocation, gpointer) {
    sleepUntil(after(delayNs));
    post(XCB_KEY_PRESS, control);
    sleepUntil(after(keyPauseNs));
    post(XCB_KEY_PRESS, v);
    sleepUntil(after(keyPauseNs));
    post(XCB_KEY_RELEASE, v);
    sleepUntil(after(keyPauseNs));
    post(XCB_KEY_RELEASE, control);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", TRUE));
}

const GDBusInterfaceVTable vtable = {answer, nullptr, nullptr, {}};

int fail(const char* what, GError* error) {
    g_printerr("quillory-bench-floor: %s: %s\n", what, error != nullptr ? error->message : "refused");
    if (error != nullptr) g_error_free(error);
    return 1;
}

}  // namespace

int main() {
    display = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(display)) return fail("no display", nullptr);
    control = keycodeFor(keysymControlL);
    v = keycodeFor(keysymV);
    if (control == 0 || v == 0) return fail("the keyboard map has no Control_L or v", nullptr);

    GError* error = nullptr;
    // Exits when the bus connection closes.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) return fail("no session bus", error);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, &error);
    if (node == nullptr) return fail("bad interface", error);
    if (g_dbus_connection_register_object(bus, objectPath, node->interfaces[0], &vtable, nullptr, nullptr,
                                          &error) == 0)
        return fail("cannot serve the object", error);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", busName, doNotQueue), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, &error);
    if (reply == nullptr) return fail("cannot own the name", error);
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    if (result != primaryOwner) return fail("another process owns the name", nullptr);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
