#include "BusNotifications.h"

#include "DBusNames.h"
#include "GLibSupport.h"

namespace platform::linux_platform {

void BusNotifications::postNotificationName(const std::string& name, bool deliverImmediately) {
    const auto address = signalAddressFor(name);
    if (bus_ == nullptr || !address) return;
    ErrorSlot error;
    if (!g_dbus_connection_emit_signal(bus_, nullptr, address->objectPath.c_str(), address->interface.c_str(),
                                       address->member.c_str(), nullptr, error.out())) {
        g_warning("Cannot post %s: %s", name.c_str(), error.message().c_str());
        return;
    }
    // The connection's own thread sends it soon anyway; this does not wait.
    if (deliverImmediately) g_dbus_connection_flush(bus_, nullptr, nullptr, nullptr);
}

}  // namespace platform::linux_platform
