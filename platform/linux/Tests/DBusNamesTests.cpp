#include <gio/gio.h>
#include <gtest/gtest.h>

#include "DBusNames.h"

namespace platform::linux_platform {
namespace {

// The helper's own service address is what every end-to-end test calls.
TEST(DBusNames, NamesAndNotificationsBecomeValidDBusNames) {
    // Elements starting with a digit, characters D-Bus does not allow.
    EXPECT_EQ(busNameFor("1a.b-c.9d+e"), "_1a.b-c._9d_e");
    const auto plain = serviceAddressFor("org.example.service");
    EXPECT_EQ(plain.busName, "org.example.service");
    EXPECT_EQ(plain.objectPath, "/org/example/service");
    EXPECT_EQ(plain.interfaceFor("Proto-col"), "org.example.Proto_col");
    // Only the first "With" before a capital ends the base name.
    EXPECT_EQ(memberForSelector("pasteWithReply:"), "Paste");
    EXPECT_EQ(memberForSelector("fetchWithoutCache:"), "FetchWithoutCache");
    EXPECT_EQ(memberForSelector("sendWithData:reply:"), "Send");
    EXPECT_EQ(memberForSelector("status"), "Status");
    for (const char* name : {"1a.b-c.9d+e", "org.example.service"}) {
        const auto address = serviceAddressFor(name);
        EXPECT_TRUE(g_dbus_is_name(address.busName.c_str())) << name;
        EXPECT_TRUE(g_variant_is_object_path(address.objectPath.c_str())) << name;
        EXPECT_TRUE(g_dbus_is_interface_name(address.interfaceFor("P").c_str())) << name;
    }
    // A notification is a signal of its parent name; the helper's own are
    // heard as such in NotificationTests.
    const auto odd = signalAddressFor("com.2do.list-changed");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->interface, "com._2do");
    EXPECT_EQ(odd->member, "list_changed");
    // An interface needs two elements.
    EXPECT_FALSE(signalAddressFor("toplevel.name"));
    EXPECT_FALSE(signalAddressFor("name"));
}

}  // namespace
}  // namespace platform::linux_platform
