#include <gtest/gtest.h>

#include <cmath>

#include "Statistics.h"

namespace quillory_bench {
namespace {

TEST(Quantile, InterpolatesBetweenTheClosestRanksOfTheSortedValues) {
    // Given out of order: the ranks are those of the sorted values.
    const std::vector<double> values = {40, 10, 30, 20};
    EXPECT_DOUBLE_EQ(quantile(values, 0.0), 10);
    EXPECT_DOUBLE_EQ(quantile(values, 1.0), 40);
    EXPECT_DOUBLE_EQ(quantile(values, 0.5), 25);
    EXPECT_DOUBLE_EQ(quantile(values, 0.99), 39.7);
    EXPECT_DOUBLE_EQ(quantile({7}, 0.99), 7);
    EXPECT_TRUE(std::isnan(quantile({}, 0.5)));
}

TEST(Figures, CarryTheMedianAndTheRatioToTheBaselineIntoEscapedJson) {
    const auto ping = medianFigure("ping_rtt_us", "us", {100, 300, 200}, std::vector<double>{150, 160, 170});
    EXPECT_DOUBLE_EQ(ping.value, 200);
    ASSERT_TRUE(ping.baseline.has_value());
    EXPECT_DOUBLE_EQ(*ping.baseline, 160);
    EXPECT_DOUBLE_EQ(*ping.ratio, 1.25);
    EXPECT_DOUBLE_EQ(*ping.baselineP99, 169.8);
    EXPECT_EQ(ping.samples, 3u);

    const auto rss = singleFigure("idle_rss_kb", "kB", 6144);
    const auto empty = medianFigure("paste_overhead_front_ms", "ms", {});

    EXPECT_EQ(
        toJson({ping, rss, empty}),
        "[\n"
        "  {\"name\": \"ping_rtt_us\", \"value\": 200, \"unit\": \"us\", \"baseline\": 160, "
        "\"ratio\": 1.25, \"samples\": 3, \"p50\": 200, \"p99\": 298, \"baseline_p99\": 169.8},\n"
        "  {\"name\": \"idle_rss_kb\", \"value\": 6144, \"unit\": \"kB\", \"baseline\": null, "
        "\"ratio\": null, \"samples\": 1, \"p50\": 6144, \"p99\": 6144, \"baseline_p99\": null},\n"
        "  {\"name\": \"paste_overhead_front_ms\", \"value\": null, \"unit\": \"ms\", \"baseline\": null, "
        "\"ratio\": null, \"samples\": 0, \"p50\": null, \"p99\": null, \"baseline_p99\": null}\n"
        "]\n");
    EXPECT_EQ(toJson({}), "[]\n");
    // Text that JSON cannot hold as is comes escaped.
    const Figure odd = singleFigure("a \"quoted\" \\ name\n", "ms", 0.25);
    EXPECT_NE(toJson({odd}).find("\"a \\\"quoted\\\" \\\\ name\\u000a\""), std::string::npos);
}

}  // namespace
}  // namespace quillory_bench
