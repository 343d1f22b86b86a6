#include "BusNotifications.h"

#include "DBusNames.h"
#include "GLibSupport.h"

namespace platform::linux_platform {

// Delivery is always immediate: the connection's own thread sends the signal
// as soon as it is queued. (GLib's asynchronous flush would start two pool
// threads per notification to wait for what happens anyway.)
void BusNotifications::postNotificationName(const std::string& name, bool) {
    const auto address = signalAddressFor(name);
    if (bus_ == nullptr || !address) return;
    ErrorSlot error;
    if (!g_dbus_connection_emit_signal(bus_, nullptr, address->objectPath.c_str(), address->interface.c_str(),
                                       address->member.c_str(), nullptr, error.out())) {
        g_warning("Cannot post %s: %s", name.c_str(), error.message().c_str());
    }
}

}  // namespace platform::linux_platform
