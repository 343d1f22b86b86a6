#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HelperXPC.h"
#include "LoginItem.h"
#include "PropertyList.h"

// The property lists as the build put them into the bundle: the Info.plist
// and the launch-agent list must describe the same program, and the agent
// list must match what the units register and serve.
namespace quillory {
namespace {

using platform::linux_platform::PropertyList;

const std::string contents = QUILLORY_BUNDLE_DIR "/Contents";
const std::string agentPlist = LoginItem::agentPlistName;

TEST(BundlePropertyLists, TheLaunchAgentRunsTheBundlesExecutableFromLoginAndServesTheAgentsMachService) {
    const auto info = PropertyList::read(contents + "/Info.plist");
    ASSERT_TRUE(info);
    const auto agent = PropertyList::read(contents + "/Library/LaunchAgents/" + agentPlist);
    ASSERT_TRUE(agent);

    // launchd and SMAppService name the job by its file.
    ASSERT_TRUE(agentPlist.ends_with(".plist"));
    EXPECT_EQ(agent->string("Label"), agentPlist.substr(0, agentPlist.size() - 6));

    const auto executable = info->string("CFBundleExecutable");
    ASSERT_TRUE(executable);
    EXPECT_EQ(agent->string("BundleProgram"), "Contents/MacOS/" + *executable);
    const auto associated = agent->root()["AssociatedBundleIdentifiers"];
    ASSERT_TRUE(associated);
    const auto identifier = info->string("CFBundleIdentifier");
    ASSERT_TRUE(identifier);
    EXPECT_EQ(associated->stringArray(), std::vector<std::string>{*identifier});

    const auto services = agent->root()["MachServices"];
    ASSERT_TRUE(services);
    const auto service = (*services)[std::string(HelperXPC::machServiceName)];
    ASSERT_TRUE(service);
    EXPECT_EQ(service->boolean(), true);
    const auto environment = agent->root()["EnvironmentVariables"];
    ASSERT_TRUE(environment);
    EXPECT_EQ(environment->stringDictionary()["KVX_AUTOPASTE_AGENT"], "1");

    // Running from login, the agent knows the application in front before
    // the first request; kept alive, it would come back after the set-up
    // stops it.
    const auto runAtLoad = agent->root()["RunAtLoad"];
    ASSERT_TRUE(runAtLoad);
    EXPECT_EQ(runAtLoad->boolean(), true);
    EXPECT_FALSE(agent->root()["KeepAlive"]);
}

TEST(BundlePropertyLists, TheBundleIsABackgroundApplicationForMacOS14AndLater) {
    const auto info = PropertyList::read(contents + "/Info.plist");
    ASSERT_TRUE(info);
    const auto background = info->root()["LSUIElement"];
    ASSERT_TRUE(background);
    EXPECT_EQ(background->boolean(), true);
    EXPECT_EQ(info->string("LSMinimumSystemVersion"), "14.0");
}

}  // namespace
}  // namespace quillory
