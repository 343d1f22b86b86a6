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

class BadInput : public ServingAgentTest {};

TEST_F(BadInput, RequestsNotOfferedOrOversizedGetErrorsReachNothingAndLeaveNoMemoryBehind) {
    // While the bundle is away, a request that reached ping or paste would
    // be answered false and start the uninstall: nothing may show it.
    const std::string aside = helper->bundle() + ".aside";
    fs::rename(helper->bundle(), aside);
    const std::string unknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
    const std::string invalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
    // The reopen object that every running helper serves.
    const std::string instance = platform::linux_platform::busNameFor(helper->bundleIdentifier());
    const std::string instancePath = platform::linux_platform::objectPathFor(helper->bundleIdentifier());
    struct Case {
        const char* what;
        GDBusMessage* message;
        std::set<std::string> errors;
    };
    const std::vector<Case> cases = {
        {"unknown method", methodCall("Unpaste"), {unknownMethod}},
        {"unknown interface",
         methodCall("Ping", nullptr, servicePath, "me.ombrel.quillory.Other"),
         {unknownMethod, "org.freedesktop.DBus.Error.UnknownInterface"}},
        {"no interface",
         methodCall("Ping", nullptr, servicePath, nullptr),
         {unknownMethod, "org.freedesktop.DBus.Error.UnknownInterface"}},
        {"object path above",
         methodCall("Ping", nullptr, "/me/ombrel/quillory"),
         {unknownMethod, "org.freedesktop.DBus.Error.UnknownObject"}},
        {"object path below",
         methodCall("Paste", nullptr, "/me/ombrel/quillory/autopaste/x"),
         {unknownMethod, "org.freedesktop.DBus.Error.UnknownObject"}},
        {"arguments to ping", methodCall("Ping", g_variant_new("(s)", "now")), {invalidArgs}},
        {"arguments to paste", methodCall("Paste", g_variant_new("(bu)", TRUE, 7u)), {invalidArgs}},
        {"a property of the service",
         methodCall("Get", g_variant_new("(ss)", serviceInterface, "Ping"), servicePath,
                    "org.freedesktop.DBus.Properties"),
         {invalidArgs, unknownMethod, "org.freedesktop.DBus.Error.UnknownProperty"}},
        {"reopen with arguments it does not take",
         methodCall("Activate", g_variant_new("(s)", "x"), instancePath.c_str(),
                    "org.freedesktop.Application", instance.c_str()),
         {invalidArgs}},
        {"an action of the reopen object",
         methodCall(
             "ActivateAction",
             g_variant_new("(s@av@a{sv})", "paste", g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0),
                           g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
             instancePath.c_str(), "org.freedesktop.Application", instance.c_str()),
         {"org.freedesktop.DBus.Error.NotSupported"}},
    };
    for (const auto& badCase : cases) {
        const auto answer = callOnce(badCase.message);
        EXPECT_FALSE(answer.value) << badCase.what;
        EXPECT_EQ(badCase.errors.count(answer.error), 1u) << badCase.what << ": " << answer.error;
    }

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
    expectAsLeanAs(sized);

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

}  // namespace
}  // namespace agent_harness
