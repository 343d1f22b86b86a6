// Requests the service does not offer, or too large: each gets a D-Bus error, none reaches ping or paste, and
// the agent keeps serving.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "AgentHarness.h"
#include "DBusNames.h"

namespace agent_harness {
namespace {

namespace fs = std::filesystem;

class BadInput : public ServingAgentTest {
protected:
    // While the bundle is away, a request that reached ping or paste would
    // be answered false and start the uninstall: nothing may show it.
    void SetUp() override {
        ServingAgentTest::SetUp();
        aside = helper->bundle() + ".aside";
        fs::rename(helper->bundle(), aside);
    }

    void expectNothingReachedTheService() {
        fs::rename(aside, helper->bundle());
        // The agent keeps serving, and a ping is the first request it saw.
        EXPECT_EQ(callOnce("Ping").value, true);
        EXPECT_TRUE(agent->isRunning());
        EXPECT_EQ(notifications->count("willStop"), 0);
        if (logsToStandardError()) {
            EXPECT_EQ(agent->count("no longer installed"), 0) << agent->log();
            EXPECT_EQ(agent->count("Paste requested"), 0) << agent->log();
        }
    }

    std::string aside;
};

GDBusMessage* methodCall(const char* path, const char* interface, const char* method,
                         GVariant* arguments = nullptr, const std::string& destination = serviceName) {
    GDBusMessage* message = g_dbus_message_new_method_call(destination.c_str(), path, interface, method);
    if (arguments != nullptr) g_dbus_message_set_body(message, arguments);
    return message;
}

TEST_F(BadInput, RequestsTheServiceDoesNotOfferGetErrorsAndReachNothing) {
    const std::string unknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
    const std::string invalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
    // The reopen object that every running helper serves.
    const std::string instanceName = platform::linux_platform::busNameFor(helper->bundleIdentifier());
    const std::string instancePath = platform::linux_platform::objectPathFor(helper->bundleIdentifier());
    struct Case {
        const char* what;
        GDBusMessage* message;
        std::set<std::string> errors;
    };
    const std::vector<Case> cases = {
        {"unknown method", methodCall(servicePath, serviceInterface, "Unpaste"), {unknownMethod}},
        {"unknown interface",
         methodCall(servicePath, "me.ombrel.quillory.Other", "Ping"),
         {unknownMethod, "org.freedesktop.DBus.Error.UnknownInterface"}},
        {"no interface",
         methodCall(servicePath, nullptr, "Ping"),
         {unknownMethod, "org.freedesktop.DBus.Error.UnknownInterface"}},
        {"object path above",
         methodCall("/me/ombrel/quillory", serviceInterface, "Ping"),
         {unknownMethod, "org.freedesktop.DBus.Error.UnknownObject"}},
        {"object path below",
         methodCall("/me/ombrel/quillory/autopaste/x", serviceInterface, "Paste"),
         {unknownMethod, "org.freedesktop.DBus.Error.UnknownObject"}},
        {"arguments to ping",
         methodCall(servicePath, serviceInterface, "Ping", g_variant_new("(s)", "now")),
         {invalidArgs}},
        {"arguments to paste",
         methodCall(servicePath, serviceInterface, "Paste", g_variant_new("(bu)", TRUE, 7u)),
         {invalidArgs}},
        {"a property of the service",
         methodCall(servicePath, "org.freedesktop.DBus.Properties", "Get",
                    g_variant_new("(ss)", serviceInterface, "Ping")),
         {invalidArgs, unknownMethod, "org.freedesktop.DBus.Error.UnknownProperty"}},
        {"reopen with arguments it does not take",
         methodCall(instancePath.c_str(), "org.freedesktop.Application", "Activate",
                    g_variant_new("(s)", "x"), instanceName),
         {invalidArgs}},
        {"an action of the reopen object",
         methodCall(
             instancePath.c_str(), "org.freedesktop.Application", "ActivateAction",
             g_variant_new("(s@av@a{sv})", "paste", g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0),
                           g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
             instanceName),
         {"org.freedesktop.DBus.Error.NotSupported"}},
    };
    for (const auto& badCase : cases) {
        const auto answer = callOnce(sessionBusAddress(), badCase.message);
        EXPECT_FALSE(answer.value) << badCase.what;
        EXPECT_EQ(badCase.errors.count(answer.error), 1u) << badCase.what << ": " << answer.error;
    }
    expectNothingReachedTheService();
}

TEST_F(BadInput, OversizedRequestsAreRefusedAndLeaveNoMemoryBehind) {
    // 8 MiB of bytes (a request is some 100 bytes), and a hundred thousand strings to take apart.
    const auto bytes = [] {
        std::string block(8 << 20, 'x');
        return g_variant_new("(@ay)",
                             g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, block.data(), block.size(), 1));
    };
    const auto strings = [] {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
        for (int i = 0; i < 100000; ++i) g_variant_builder_add(&builder, "s", "clip");
        return g_variant_new("(as)", &builder);
    };
    // The first rounds size the allocator's pools; later ones reuse them.
    Usage sized;
    for (int round = 0; round < 5; ++round) {
        if (round == 2) sized = agent->usage();
        EXPECT_EQ(callOnce("Ping", bytes()).error, "org.freedesktop.DBus.Error.InvalidArgs");
        EXPECT_EQ(callOnce("Paste", strings()).error, "org.freedesktop.DBus.Error.InvalidArgs");
    }
    const Usage last = agent->usage();
    if (residentMemoryTellsLeaks) {
        EXPECT_LE(last.residentKiB - sized.residentKiB, 2 * 1024)
            << "resident memory grew from " << sized.residentKiB << " KiB to " << last.residentKiB << " KiB";
    }
    expectNothingReachedTheService();
}

}  // namespace
}  // namespace agent_harness
