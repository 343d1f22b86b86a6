// Built with QUILLORY_DEV_CLIENT_REQUIREMENT set, as scripts/demo builds the
// agent on a Mac (see helper/CMakeLists.txt). helper_tests holds the same
// service without it.
#include <gtest/gtest.h>

#include <string>

#include "HelperTestSupport.h"
#include "HelperXPC.h"

namespace quillory {
namespace {

// The demo's client and its stand-in of the main app, by code directory hash.
const std::string demoClient =
    "cdhash H\"0123456789abcdef0123456789abcdef01234567\" or cdhash "
    "H\"89abcdef0123456789abcdef0123456789abcdef\"";
const std::string served = "(" + std::string(HelperXPC::clientRequirement) + ") or (" + demoClient + ")";

class DevelopmentBuild : public testing::HelperStory {};

TEST_F(DevelopmentBuild, ServesTheDemoClientAsWellAndSaysSoAtStart) {
    startHelper("1");
    desktop.runUntilIdle();
    auto client = desktop.xpc.connect(std::string(HelperXPC::machServiceName), {.pid = 900});
    client->send("pingWithReply:");
    desktop.runUntilIdle();

    EXPECT_EQ(client->requirement, served);
    ASSERT_EQ(client->replies.size(), 1u);
    EXPECT_TRUE(client->replies[0].value);

    const auto* announced = desktop.log.find("Development build: serving clients that meet " + served);
    ASSERT_NE(announced, nullptr);
    // At the default level, which `log show` and the journal keep.
    EXPECT_EQ(announced->message.level, platform::LogLevel::notice);
    EXPECT_EQ(desktop.log.texts("xpc").at(1), announced->text);  // right after "Listening on"
}

}  // namespace
}  // namespace quillory
