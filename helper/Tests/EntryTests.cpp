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

TEST(HelperXPCContract, ExportsExactlyPingAndPasteAndAnswersAStrayRequest) {
    // The names themselves are what the Linux end-to-end tests call and hear.
    EXPECT_EQ(HelperXPC::clientRequirement.size(), 158u);

    struct Recorder : AutoPasteHelperXPC {
        std::vector<std::string> calls;
        void ping(Reply reply) override {
            calls.push_back("ping");
            reply(true);
        }
        void paste(Reply reply) override {
            calls.push_back("paste");
            reply(true);
        }
    } recorder;
    const auto interface = AutoPasteHelperXPC::interface();
    EXPECT_EQ(interface.protocolName, "AutoPasteHelperXPC");
    EXPECT_EQ(interface.selectors, (std::vector<std::string>{"pingWithReply:", "pasteWithReply:"}));

    std::vector<bool> replies;
    for (const auto& selector : {"pasteWithReply:", "pingWithReply:", "quitWithReply:"}) {
        recorder.invoke(selector, [&](bool value) { replies.push_back(value); });
    }
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"paste", "ping"}));
    EXPECT_EQ(replies, (std::vector<bool>{true, true, false}));
}

}  // namespace
}  // namespace quillory
