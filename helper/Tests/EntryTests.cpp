#include <gtest/gtest.h>

#include "ExecutableIdentity.h"
#include "HelperTestSupport.h"
#include "HelperXPC.h"

namespace quillory {
namespace {

using testing::at;
using testing::HelperStory;

class Entry : public HelperStory {};

TEST_F(Entry, OnlyTheExactValueOneSelectsTheAgent) {
    EXPECT_FALSE(AutoPasteHelper::isAgent());  // not set at all
    for (const char* value : {"0", "", " 1", "1 ", "11", "true", "yes", "１"}) {
        desktop.process.environmentVariables["KVX_AUTOPASTE_AGENT"] = value;
        EXPECT_FALSE(AutoPasteHelper::isAgent()) << '"' << value << '"';
    }
    desktop.process.environmentVariables["KVX_AUTOPASTE_AGENT"] = "1";
    EXPECT_TRUE(AutoPasteHelper::isAgent());
    // Read anew on every call, never cached.
    desktop.process.environmentVariables.erase("KVX_AUTOPASTE_AGENT");
    EXPECT_FALSE(AutoPasteHelper::isAgent());
}

TEST_F(Entry, StartsAsAnAccessoryWhoseDelegateOutlivesTheApplicationsWeakReference) {
    startHelper("0");
    EXPECT_EQ(desktop.application.activationPolicy(), platform::ActivationPolicy::accessory);
    EXPECT_TRUE(desktop.application.isRunning());
    ASSERT_NE(process::delegate, nullptr);
    EXPECT_EQ(desktop.application.delegate(), process::delegate.get());
    EXPECT_EQ(process::application, &desktop.application);
}

TEST_F(Entry, IdentityOfTheExecutableOnDiskAndItsEquality) {
    EXPECT_EQ(ExecutableIdentity::current(), (ExecutableIdentity{7, at(1'700'000'000)}));

    // Installing over it: new number, or new date, or both, all differ.
    desktop.files.replaceFile(testing::helperExecutable, 8, at(1'700'000'000));
    EXPECT_NE(ExecutableIdentity::current(), (ExecutableIdentity{7, at(1'700'000'000)}));

    // Unreadable attributes or no executable path: both fields absent.
    desktop.bundle.executable = "/Applications/Quillory Helper.app/Contents/MacOS/gone";
    EXPECT_EQ(ExecutableIdentity::current(), ExecutableIdentity{});
    desktop.bundle.executable.reset();
    EXPECT_EQ(ExecutableIdentity::current(), ExecutableIdentity{});

    EXPECT_NE((ExecutableIdentity{7, std::nullopt}), (ExecutableIdentity{7, at(5)}));
    // Dates compare exactly: a nanosecond apart is a different file.
    EXPECT_NE((ExecutableIdentity{7, at(5)}), (ExecutableIdentity{7, at(5) + std::chrono::nanoseconds(1)}));
}

TEST(HelperXPCContract, ExportsExactlyPingAndPasteAndAnswersAStrayRequestFalse) {
    // The names themselves are what the Linux end-to-end tests call and hear.
    EXPECT_EQ(HelperXPC::clientRequirement.size(), 158u);

    const auto interface = AutoPasteHelperXPC::interface();
    EXPECT_EQ(interface.protocolName, "AutoPasteHelperXPC");
    EXPECT_EQ(interface.selectors, (std::vector<std::string>{"pingWithReply:", "pasteWithReply:"}));

    // Ping and paste reach the service through the fake connection; only a
    // selector the platform should never deliver is left to check here.
    struct Unreachable : AutoPasteHelperXPC {
        void ping(Reply) override { ADD_FAILURE(); }
        void paste(Reply) override { ADD_FAILURE(); }
    } object;
    std::vector<bool> replies;
    object.invoke("quitWithReply:", [&](bool value) { replies.push_back(value); });
    EXPECT_EQ(replies, std::vector<bool>{false});
}

}  // namespace
}  // namespace quillory
