// The baseline of the helper's request figures: the least a GDBus service
// does to answer Ping() -> (b). It serves its object, then takes its name on
// the session bus (as the helper does) and answers on its main loop. The bus
// starts it through an activation file for the cold-start figure.

#include <gio/gio.h>

namespace {

constexpr const char* busName = "me.ombrel.quillory.bench.Echo";
constexpr const char* objectPath = "/me/ombrel/quillory/bench/Echo";
constexpr const char* introspection =
    "<node><interface name='me.ombrel.quillory.bench.Echo'>"
    "<method name='Ping'><arg type='b' name='reply' direction='out'/></method>"
    "</interface></node>";

// Replies of RequestName.
constexpr guint32 primaryOwner = 1;
constexpr guint32 doNotQueue = 4;

void answer(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
            GDBusMethodInvocation* invocation, gpointer) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", TRUE));
}

const GDBusInterfaceVTable vtable = {answer, nullptr, nullptr, {}};

int fail(const char* what, GError* error) {
    g_printerr("quillory-bench-echo: %s: %s\n", what, error != nullptr ? error->message : "refused");
    if (error != nullptr) g_error_free(error);
    return 1;
}

}  // namespace

int main() {
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
