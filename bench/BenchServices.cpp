#include "BenchServices.h"

#include <cstdint>
#include <cstdlib>

namespace bench {

namespace {

// Replies of RequestName.
constexpr guint32 primaryOwner = 1;
constexpr guint32 doNotQueue = 4;

int fail(const char* program, const char* what, GError* error) {
    g_printerr("%s: %s: %s\n", program, what, error != nullptr ? error->message : "refused");
    if (error != nullptr) g_error_free(error);
    return 1;
}

}  // namespace

int serveOnSessionBus(const char* program, const char* busName, const char* objectPath,
                      const char* introspection, const GDBusInterfaceVTable& vtable) {
    GError* error = nullptr;
    // Exits when the bus connection closes.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) return fail(program, "no session bus", error);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, &error);
    if (node == nullptr) return fail(program, "bad interface", error);
    if (g_dbus_connection_register_object(bus, objectPath, node->interfaces[0], &vtable, nullptr, nullptr,
                                          &error) == 0)
        return fail(program, "cannot serve the object", error);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", busName, doNotQueue), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, &error);
    if (reply == nullptr) return fail(program, "cannot own the name", error);
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    if (result != primaryOwner) return fail(program, "another process owns the name", nullptr);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}

xcb_keycode_t keycodeFor(xcb_connection_t* display, xcb_keysym_t keysym) {
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

}  // namespace bench
