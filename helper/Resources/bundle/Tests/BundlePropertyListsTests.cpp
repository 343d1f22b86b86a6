#include <gtest/gtest.h>

#include <string>

#include "HelperXPC.h"
#include "LoginItem.h"
#include "XmlPropertyList.h"

// The property lists as the build put them into the bundle: the Info.plist
// and the launch-agent list must describe the same program, and the agent
// list must match what the units register and serve.
namespace quillory {
namespace {

const std::string contents = QUILLORY_BUNDLE_DIR "/Contents";
const std::string agentPlist = LoginItem::agentPlistName;

TEST(BundlePropertyLists, TheLaunchAgentRunsTheBundlesExecutableFromLoginAndServesTheAgentsMachService) {
    std::string error;
    const auto info = test::readXmlPropertyList(contents + "/Info.plist", &error);
    ASSERT_TRUE(info) << error;
    const auto agent = test::readXmlPropertyList(contents + "/Library/LaunchAgents/" + agentPlist, &error);
    ASSERT_TRUE(agent) << error;

    // launchd and SMAppService name the job by its file.
    ASSERT_TRUE(agentPlist.ends_with(".plist"));
    EXPECT_EQ(agent->string("Label"), agentPlist.substr(0, agentPlist.size() - 6));

    const auto executable = info->string("CFBundleExecutable");
    ASSERT_TRUE(executable);
    EXPECT_EQ(agent->string("BundleProgram"), "Contents/MacOS/" + *executable);
    const test::PlistValue* associated = agent->find("AssociatedBundleIdentifiers");
    ASSERT_NE(associated, nullptr);
    ASSERT_EQ(associated->items.size(), 1u);
    EXPECT_EQ(associated->items.front().text, info->string("CFBundleIdentifier"));

    const test::PlistValue* services = agent->find("MachServices");
    ASSERT_NE(services, nullptr);
    EXPECT_EQ(services->flag(HelperXPC::machServiceName), true);
    const test::PlistValue* environment = agent->find("EnvironmentVariables");
    ASSERT_NE(environment, nullptr);
    EXPECT_EQ(environment->string("KVX_AUTOPASTE_AGENT"), "1");

    // Running from login, the agent knows the application in front before
    // the first request; kept alive, it would come back after the set-up
    // stops it.
    EXPECT_EQ(agent->flag("RunAtLoad"), true);
    EXPECT_EQ(agent->find("KeepAlive"), nullptr);
}

TEST(BundlePropertyLists, TheBundleIsABackgroundApplicationForMacOS14AndLater) {
    std::string error;
    const auto info = test::readXmlPropertyList(contents + "/Info.plist", &error);
    ASSERT_TRUE(info) << error;
    EXPECT_EQ(info->flag("LSUIElement"), true);
    EXPECT_EQ(info->string("LSMinimumSystemVersion"), "14.0");
}

}  // namespace
}  // namespace quillory
