#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "BusNotifications.h"
#include "LinuxTestSupport.h"

namespace platform::linux_platform {
namespace {

// Each signal heard as "path interface.member".
void record(GDBusConnection*, const gchar*, const gchar* path, const gchar* interface, const gchar* member,
            GVariant*, gpointer heard) {
    static_cast<std::vector<std::string>*>(heard)->push_back(std::string(path) + " " + interface + "." +
                                                             member);
}

long threadsOfThisProcess() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                         std::filesystem::directory_iterator());
}

TEST(DistributedNotifications, AreBroadcastSignalsThatAnyPeerHears) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    GDBusConnection* listener = linux_test::newBusPeer();
    std::vector<std::string> heard;
    const guint subscription =
        g_dbus_connection_signal_subscribe(listener, nullptr, "me.ombrel.quillory.helper", nullptr, nullptr,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, record, &heard, nullptr);
    // The bus has the match rule once a later call has come back.
    g_variant_unref(g_dbus_connection_call_sync(listener, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));

    const long threads = threadsOfThisProcess();
    BusNotifications notifications(bus);
    notifications.postNotificationName("me.ombrel.quillory.helper.didStart", true);
    notifications.postNotificationName("me.ombrel.quillory.helper.willStop", false);
    ASSERT_TRUE(linux_test::waitUntil([&] { return heard.size() == 2; }));
    EXPECT_EQ(heard,
              (std::vector<std::string>{"/me/ombrel/quillory/helper me.ombrel.quillory.helper.didStart",
                                        "/me/ombrel/quillory/helper me.ombrel.quillory.helper.willStop"}));
    // Sent by the bus connection's own thread, with no helper threads.
    EXPECT_EQ(threadsOfThisProcess(), threads);

    g_dbus_connection_signal_unsubscribe(listener, subscription);
    g_object_unref(listener);
    g_object_unref(bus);
}

}  // namespace
}  // namespace platform::linux_platform
