#include <gtest/gtest.h>

#include <vector>

#include "platform/Log.h"

namespace {

using platform::LogArgument;
using platform::renderLogMessage;

TEST(LogFormat, RendersEachPlaceholderAndRedactsPrivateStrings) {
    const std::vector<LogArgument> arguments{std::string("/Applications/Quillory Helper.app"),
                                             true,
                                             std::int64_t{501},
                                             std::int64_t{-4},
                                             5.0,
                                             std::string("[501, 502]")};
    EXPECT_EQ(renderLogMessage("%{public}s|%{bool}d|%d|%ld|%f s: %s", arguments, true),
              "/Applications/Quillory Helper.app|true|501|-4|5.000000 s: <private>");
    EXPECT_EQ(renderLogMessage("%f s: %s", std::vector<LogArgument>{5.0, std::string("[501, 502]")}, false),
              "5.000000 s: [501, 502]");
    EXPECT_EQ(renderLogMessage("100%% and ⌘V → %{public}s", std::vector<LogArgument>{std::string("x")}, true),
              "100% and ⌘V → x");
    EXPECT_EQ(renderLogMessage("missing %d", {}, true), "missing <missing>");
}

}  // namespace
