// The agent on a display of its own, which goes away while it serves.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>

#include "ReliabilitySupport.h"

namespace reliability {
namespace {

class DisplayFaults : public testing::Test {
protected:
    void SetUp() override {
        display = std::make_unique<PrivateDisplay>();
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(bus, nullptr);
        helper = std::make_unique<InstalledHelper>();
        notifications = std::make_unique<Notifications>(bus);
        agent = std::make_unique<Agent>(*helper,
                                        std::map<std::string, std::string>{{"DISPLAY", display->name()}});
        ASSERT_TRUE(waitUntilServing(bus, *agent, *notifications));
    }

    void TearDown() override {
        agent.reset();
        notifications.reset();
        helper.reset();
        if (bus != nullptr) g_object_unref(bus);
        display.reset();
    }

    std::unique_ptr<PrivateDisplay> display;
    GDBusConnection* bus = nullptr;
    std::unique_ptr<InstalledHelper> helper;
    std::unique_ptr<Notifications> notifications;
    std::unique_ptr<Agent> agent;
};

TEST_F(DisplayFaults, KillingTheDisplayWhileServingLeavesPingsTrueAndPastesFalse) {
    // With the display, a paste posts its keystroke: true.
    EXPECT_EQ(callOnce(sessionBusAddress(), "Paste").value, true);

    // Ten clients, every other request a paste; the display goes meanwhile.
    auto clients = makeClients(10);
    const auto pump = [&](int total) {
        for (auto& client : clients) {
            while (client->sent() < total && client->sent() - client->answered() < 2) {
                client->send(client->sent() % 2 == 1 ? Request::paste : Request::ping);
            }
        }
        for (const auto& client : clients) {
            if (client->answered() < total) return false;
        }
        return true;
    };
    ASSERT_TRUE(waitUntil([&] { return pump(6); }, 60));
    display->server().signal(SIGKILL);
    ASSERT_TRUE(display->server().waitForEnd(10));
    ASSERT_TRUE(waitUntil([&] { return pump(40); }, 60)) << "not every request was answered";

    for (std::size_t i = 0; i < clients.size(); ++i) {
        const std::string name = "client " + std::to_string(i);
        bool pastesFailed = false;
        for (const auto& answer : checkAnswers(*clients[i], name)) {
            if (answer.request == Request::ping) {
                EXPECT_EQ(answer.value, true) << name << " " << answer.error;
            } else {
                // Once the display is gone, no paste succeeds again.
                EXPECT_TRUE(answer.value.has_value()) << name << " " << answer.error;
                EXPECT_FALSE(pastesFailed && answer.value == true)
                    << name << ": a paste succeeded after one failed";
                pastesFailed = pastesFailed || answer.value == false;
            }
        }
        EXPECT_TRUE(pastesFailed) << name << ": no paste failed after the display went";
    }
    EXPECT_TRUE(agent->isRunning()) << agent->describeEnd();
    if (logsToStandardError()) {
        EXPECT_EQ(agent->count("Lost the connection to the X display"), 1) << agent->log();
    }

    // Still serving, and idle between requests rather than spinning on the
    // dead connection: CPU time well below the time that passed.
    const double cpuBefore = agent->usage().cpuSeconds;
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(callOnce(sessionBusAddress(), "Ping").value, true);
        EXPECT_EQ(callOnce(sessionBusAddress(), "Paste").value, false);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    const double cpu = agent->usage().cpuSeconds - cpuBefore;
    EXPECT_LT(cpu, 0.7 * elapsed) << cpu << " s of CPU time in " << elapsed << " s";
    EXPECT_EQ(notifications->count("willStop"), 0);
}

}  // namespace
}  // namespace reliability
