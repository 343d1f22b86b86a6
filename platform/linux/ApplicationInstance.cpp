#include "ApplicationInstance.h"

#include "DBusNames.h"
#include "GLibSupport.h"

namespace platform::linux_platform {

namespace {

constexpr const char* applicationInterface = "org.freedesktop.Application";

constexpr const char* introspection =
    "<node>"
    "  <interface name='org.freedesktop.Application'>"
    "    <method name='Activate'><arg type='a{sv}' name='platform_data' direction='in'/></method>"
    "    <method name='Open'>"
    "      <arg type='as' name='uris' direction='in'/>"
    "      <arg type='a{sv}' name='platform_data' direction='in'/>"
    "    </method>"
    "    <method name='ActivateAction'>"
    "      <arg type='s' name='action_name' direction='in'/>"
    "      <arg type='av' name='parameter' direction='in'/>"
    "      <arg type='a{sv}' name='platform_data' direction='in'/>"
    "    </method>"
    "  </interface>"
    "</node>";

// Replies of RequestName.
constexpr guint32 primaryOwner = 1;
constexpr guint32 alreadyOwner = 4;
// Flags of RequestName.
constexpr guint32 queueForName = 0;
constexpr guint32 doNotQueue = 4;

// The instance answers a reopen before it acts on it.
constexpr int forwardTimeoutMs = 10000;

}  // namespace

ApplicationInstance::ApplicationInstance(GDBusConnection* bus, const std::string& bundleIdentifier,
                                         std::function<void()> reopened)
    : bus_(bus),
      busName_(busNameFor(bundleIdentifier)),
      objectPath_(objectPathFor(bundleIdentifier)),
      reopened_(std::move(reopened)) {}

ApplicationInstance::~ApplicationInstance() {
    if (registration_ != 0) g_dbus_connection_unregister_object(bus_, registration_);
}

void ApplicationInstance::handleMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                       const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                                       gpointer data) {
    auto* self = static_cast<ApplicationInstance*>(data);
    if (g_strcmp0(method, "Activate") == 0) {
        // The opener waits only for this answer, not for what reopening does
        // (it may show a modal alert).
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (self->reopened_) self->reopened_();
        return;
    }
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.NotSupported",
                                               "Only Activate (reopen) is supported.");
}

ApplicationInstance::Claim ApplicationInstance::claim(bool newInstance) {
    if (bus_ == nullptr || busName_.empty()) return Claim::running;
    if (registration_ == 0) {
        static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, nullptr);
        static const GDBusInterfaceVTable vtable = {&ApplicationInstance::handleMethod, nullptr, nullptr, {}};
        ErrorSlot error;
        registration_ = g_dbus_connection_register_object(bus_, objectPath_.c_str(), node->interfaces[0],
                                                          &vtable, this, nullptr, error.out());
        if (registration_ == 0) g_warning("Cannot serve reopen requests: %s", error.message().c_str());
    }
    // Another round covers an instance that ends between the two calls.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ErrorSlot error;
        GVariantPtr reply(g_dbus_connection_call_sync(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", busName_.c_str(), newInstance ? queueForName : doNotQueue),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, error.out()));
        if (!reply) return Claim::running;
        guint32 result = 0;
        g_variant_get(reply.get(), "(u)", &result);
        if (newInstance || result == primaryOwner || result == alreadyOwner) return Claim::running;
        switch (forwardReopen()) {
            case Forward::delivered:
                return Claim::forwarded;
            case Forward::noInstance:
                continue;
            case Forward::noAnswer:
                // An instance that does not answer is not waited for: this
                // process runs, and its set-up can stop that one.
                return Claim::running;
        }
    }
    return Claim::running;
}

ApplicationInstance::Forward ApplicationInstance::forwardReopen() {
    GVariantBuilder platformData;
    g_variant_builder_init(&platformData, G_VARIANT_TYPE("a{sv}"));
    ErrorSlot error;
    GVariantPtr reply(
        g_dbus_connection_call_sync(bus_, busName_.c_str(), objectPath_.c_str(), applicationInterface,
                                    "Activate", g_variant_new("(a{sv})", &platformData), nullptr,
                                    G_DBUS_CALL_FLAGS_NO_AUTO_START, forwardTimeoutMs, nullptr, error.out()));
    if (reply) return Forward::delivered;
    const bool gone = g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                      g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
    return gone ? Forward::noInstance : Forward::noAnswer;
}

}  // namespace platform::linux_platform
