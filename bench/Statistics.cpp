#include "Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace quillory_bench {

double quantile(std::vector<double> values, double q) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const double position = std::clamp(q, 0.0, 1.0) * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(position));
    const std::size_t above = std::min(below + 1, values.size() - 1);
    const double fraction = position - static_cast<double>(below);
    return values[below] + (values[above] - values[below]) * fraction;
}

Figure medianFigure(const std::string& name, const std::string& unit, const std::vector<double>& samples,
                    const std::optional<std::vector<double>>& baselineSamples) {
    Figure figure;
    figure.name = name;
    figure.unit = unit;
    figure.samples = samples.size();
    figure.p50 = quantile(samples, 0.5);
    figure.p99 = quantile(samples, 0.99);
    figure.value = figure.p50;
    if (baselineSamples) {
        figure.baseline = quantile(*baselineSamples, 0.5);
        figure.ratio = figure.value / *figure.baseline;
        figure.baselineP99 = quantile(*baselineSamples, 0.99);
    }
    return figure;
}

Figure singleFigure(const std::string& name, const std::string& unit, double value) {
    Figure figure;
    figure.name = name;
    figure.unit = unit;
    figure.value = figure.p50 = figure.p99 = value;
    figure.samples = 1;
    return figure;
}

namespace {

std::string number(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    return text;
}

std::string number(const std::optional<double>& value) { return value ? number(*value) : "null"; }

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::string toJson(const std::vector<Figure>& figures) {
    std::string out = "[";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure& f = figures[i];
        out += i == 0 ? "\n" : ",\n";
        out += "  {\"name\": " + quoted(f.name) + ", \"value\": " + number(f.value) +
               ", \"unit\": " + quoted(f.unit) + ", \"baseline\": " + number(f.baseline) +
               ", \"ratio\": " + number(f.ratio) + ", \"samples\": " + std::to_string(f.samples) +
               ", \"p50\": " + number(f.p50) + ", \"p99\": " + number(f.p99) +
               ", \"baseline_p99\": " + number(f.baselineP99) + "}";
    }
    return out + (figures.empty() ? "]\n" : "\n]\n");
}

}  // namespace quillory_bench
