#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The figures of a benchmark run and the two ways they leave it: a table for
// people, JSON for tools.
namespace quillory_bench {

// Linear interpolation between the closest ranks (numpy's default), `q` in
// [0, 1]. NaN for no values.
double quantile(std::vector<double> values, double q);

struct Figure {
    std::string name;
    double value = 0;
    std::string unit;
    std::optional<double> baseline;  // the same figure of the baseline, measured in the same run
    std::optional<double> ratio;     // value / baseline
    std::optional<double> baselineP99;
    std::size_t samples = 0;
    double p50 = 0;
    double p99 = 0;
};

// A figure whose value is the median of its samples; with baseline samples,
// the baseline is their median and the ratio is value / baseline.
Figure medianFigure(const std::string& name, const std::string& unit, const std::vector<double>& samples,
                    const std::optional<std::vector<double>>& baselineSamples = std::nullopt);

// A figure measured once.
Figure singleFigure(const std::string& name, const std::string& unit, double value);

// A JSON array of objects with the fields of Figure; numbers that are not
// finite become null.
std::string toJson(const std::vector<Figure>& figures);

}  // namespace quillory_bench
