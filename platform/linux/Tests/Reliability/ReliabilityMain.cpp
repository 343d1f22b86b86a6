// Runs the reliability cases and prints one summary line per category (test
// suite). With --exiting-client it is instead a client of the helper that
// leaves before its pastes are answered.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "AgentHarness.h"

namespace {

using namespace agent_harness;

// Once connected (one ping answered), sends `pastes` pastes and ends at
// once, without waiting for their answers.
int exitingClient(int pastes) {
    GDBusConnection* connection = linux_test::newBusPeer();
    if (connection == nullptr) return 2;
    g_autoptr(GVariant) reply =
        g_dbus_connection_call_sync(connection, serviceName, servicePath, serviceInterface, "Ping", nullptr,
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, nullptr);
    if (reply == nullptr) return 3;
    for (int i = 0; i < pastes; ++i) {
        g_autoptr(GDBusMessage) paste = methodCall("Paste");
        g_dbus_connection_send_message(connection, paste, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
    }
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
    std::fflush(nullptr);
    ::_exit(0);
}

// "reliability <category>: N cases, M passed", on standard output and, when
// QUILLORY_RELIABILITY_SUMMARY names a folder, in a file of its own there.
class Summary : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest& unit) override {
        for (int i = 0; i < unit.total_test_suite_count(); ++i) {
            const testing::TestSuite& suite = *unit.GetTestSuite(i);
            if (suite.test_to_run_count() == 0) continue;
            const std::string line = "reliability " + std::string(suite.name()) + ": " +
                                     std::to_string(suite.test_to_run_count()) + " cases, " +
                                     std::to_string(suite.successful_test_count()) + " passed";
            std::printf("%s\n", line.c_str());
            if (const char* folder = std::getenv("QUILLORY_RELIABILITY_SUMMARY")) {
                std::ofstream(std::string(folder) + "/" + suite.name() + ".txt") << line << "\n";
            }
        }
        std::fflush(stdout);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--exiting-client") == 0) return exitingClient(std::atoi(argv[2]));
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new Summary);
    return RUN_ALL_TESTS();
}
