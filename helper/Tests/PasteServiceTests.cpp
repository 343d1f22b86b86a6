#include <gtest/gtest.h>

#include "HelperXPC.h"
#include "PasteService.h"
#include "PastingTestSupport.h"

namespace quillory {
namespace {

const std::string serviceName(HelperXPC::machServiceName);
const std::string ping = "pingWithReply:";
const std::string paste = "pasteWithReply:";

class PasteServiceStory : public testing::PastingStory {
protected:
    // The agent's start, with TextEdit in front; then a client connects.
    std::shared_ptr<fake::FakeConnection> startAndConnect(fake::ClientOptions client) {
        desktop.workspace.setFrontmost(textEdit);
        service = std::make_shared<PasteService>(
            std::make_shared<Paster>(),
            [this] {
                isInstalledAskedOn.push_back(desktop.scheduler.currentQueueLabel());
                return installed;
            },
            [this] { uninstallsRanOn.push_back(desktop.scheduler.currentQueueLabel()); });
        service->start();
        auto connection = desktop.xpc.connect(serviceName, client);
        desktop.runUntilIdle();
        return connection;
    }

    // Each reply as the client saw it: "#1 true on main at 54ms".
    static std::vector<std::string> replies(const fake::FakeConnection& connection) {
        std::vector<std::string> seen;
        for (const auto& reply : connection.replies) {
            seen.push_back("#" + std::to_string(reply.request) + (reply.value ? " true on " : " false on ") +
                           reply.queue + " at " + std::to_string(reply.at.count() / 1'000'000) + "ms");
        }
        return seen;
    }

    bool installed = true;
    std::vector<std::string> isInstalledAskedOn;
    std::vector<std::string> uninstallsRanOn;
    std::shared_ptr<PasteService> service;
};

TEST_F(PasteServiceStory, ServesPingAndPasteToTheMainApp) {
    const auto client = startAndConnect({.pid = 812});
    EXPECT_EQ(desktop.xpc.listenersMade, std::vector<std::string>{serviceName});
    EXPECT_TRUE(client->accepted && client->resumed);
    // As every release builds it: the main app alone (the development build's
    // second client is in DevelopmentBuild/).
    EXPECT_EQ(client->requirement, std::string(HelperXPC::clientRequirement));
    ASSERT_TRUE(client->exportedInterface);
    EXPECT_EQ(client->exportedInterface->selectors, (std::vector<std::string>{ping, paste}));
    EXPECT_EQ(client->exportedObject.get(), static_cast<platform::XPCExportedObject*>(service.get()));

    // Ping is answered on the connection's own queue, the main queue untouched.
    client->send(ping);
    ASSERT_TRUE(desktop.scheduler.runOne());
    EXPECT_EQ(desktop.scheduler.mainQueue().pendingCount(), 0u);

    // Two pastes back to back: each its own paste on the main queue, in order,
    // each answered once from there.
    client->send(paste);
    client->send(paste);
    desktop.scheduler.runOne();
    desktop.scheduler.runOne();
    EXPECT_EQ(desktop.scheduler.mainQueue().pendingCount(), 2u);
    // The waiting work holds the paster and the reply, not the service.
    EXPECT_EQ(service.use_count(), 2);  // here and the connection
    desktop.advance(1);
    EXPECT_EQ(replies(*client),
              (std::vector<std::string>{"#0 true on xpc.connection.812 at 0ms", "#1 true on main at 54ms",
                                        "#2 true on main at 78ms"}));
    EXPECT_EQ(desktop.keyboard.posted.size(), 8u);
    EXPECT_EQ(isInstalledAskedOn, std::vector<std::string>(3, "xpc.connection.812"));
    EXPECT_TRUE(uninstallsRanOn.empty());

    // Once the copy is gone, every request is answered false at once, from
    // the connection's queue, and starts the uninstall on the main queue.
    // (That it runs once is AgentRuntime's.)
    installed = false;
    client->send(ping);
    client->send(paste);
    desktop.advance(1);
    EXPECT_EQ(replies(*client).back(), "#4 false on xpc.connection.812 at 1000ms");
    EXPECT_EQ(replies(*client).at(3), "#3 false on xpc.connection.812 at 1000ms");
    EXPECT_EQ(uninstallsRanOn, std::vector<std::string>(2, "main"));
    EXPECT_EQ(desktop.keyboard.posted.size(), 8u);

    client->close();
    desktop.runUntilIdle();
    // Nothing about a development client either.
    EXPECT_EQ(desktop.log.texts("xpc"),
              (std::vector<std::string>{"Listening on " + serviceName, "Connection from pid 812",
                                        "Connection from pid 812 ended"}));
    EXPECT_EQ(service.use_count(), 1);
}

}  // namespace
}  // namespace quillory
