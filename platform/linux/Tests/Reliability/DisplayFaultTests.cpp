// The agent on a display of its own, which goes away while it serves.

#include <gtest/gtest.h>

#include "AgentHarness.h"

namespace agent_harness {
namespace {

class DisplayFaults : public ServingAgentTest {
protected:
    DisplayFaults() { agentEnvironment = {{"DISPLAY", display.address()}}; }

    PrivateServer display{PrivateServer::Kind::display};
};

TEST_F(DisplayFaults, KillingTheDisplayWhileServingLeavesPingsTrueAndPastesFalse) {
    expectServingThroughTheLossOf(display.process(), "Lost the connection to the X display");
    EXPECT_EQ(notifications->count("willStop"), 0);
}

}  // namespace
}  // namespace agent_harness
