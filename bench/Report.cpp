#include "Report.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace quillory_bench {

namespace {

struct Target {
    std::string text;
    std::function<bool(const Figure&)> isMet;
};

const std::map<std::string, Target>& targets() {
    static const std::map<std::string, Target> all = {
        // Against the floor: the same 30 ms and four keys with nothing in between.
        {"paste_overhead_front_ms",
         {"p50 <= floor+0.3, p99 <= floor+0.5",
          [](const Figure& f) {
              return f.baseline && f.baselineP99 && f.p50 <= *f.baseline + 0.3 &&
                     f.p99 <= *f.baselineP99 + 0.5;
          }}},
        {"paste_overhead_reactivate_ms",
         {"p99 <= floor+1.0",
          [](const Figure& f) { return f.baselineP99 && f.p99 <= *f.baselineP99 + 1.0; }}},
        {"paste_reply_after_last_key_ms", {"p99 <= 0.5 ms", [](const Figure& f) { return f.p99 <= 0.5; }}},
        {"ping_rtt_us", {"ratio <= 1.10", [](const Figure& f) { return f.ratio && *f.ratio <= 1.10; }}},
        {"ping_throughput_per_s",
         {"ratio >= 0.90", [](const Figure& f) { return f.ratio && *f.ratio >= 0.90; }}},
        {"idle_cpu_ticks_60s", {"0", [](const Figure& f) { return f.value == 0; }}},
        {"idle_wakeups_60s", {"0", [](const Figure& f) { return f.value == 0; }}},
        {"idle_rss_kb", {"<= 8192 kB", [](const Figure& f) { return f.value <= 8192; }}},
        // The baseline is the agent's resting RSS just before the alert.
        {"idle_rss_after_alert_kb",
         {"<= rest+1024 kB", [](const Figure& f) { return f.baseline && f.value <= *f.baseline + 1024; }}},
        {"idle_cpu_ticks_after_alert_30s", {"0", [](const Figure& f) { return f.value == 0; }}},
        {"idle_wakeups_after_alert_30s", {"0", [](const Figure& f) { return f.value == 0; }}},
        {"cold_start_ms", {"ratio <= 1.50", [](const Figure& f) { return f.ratio && *f.ratio <= 1.50; }}},
    };
    return all;
}

std::string cell(double value) {
    if (!std::isfinite(value)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, std::fabs(value) >= 1000 ? "%.0f" : "%.3g", value);
    return text;
}

std::string row(const std::vector<std::string>& cells) {
    static const int widths[] = {40, 9, 9, 9, 9, 9, 7, 34, 6};
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        char text[64];
        std::snprintf(text, sizeof text, i == 0 || i >= 7 ? "%-*s " : "%*s ", widths[i], cells[i].c_str());
        line += text;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

}  // namespace

std::string table(const std::vector<Figure>& figures) {
    std::string out =
        row({"figure", "value", "p50", "p99", "baseline", "base p99", "ratio", "target", "met"});
    for (const Figure& f : figures) {
        const auto target = targets().find(f.name);
        const bool measured = f.samples > 0 && std::isfinite(f.value);
        std::string met = "-";
        if (target != targets().end() && measured) met = target->second.isMet(f) ? "yes" : "NO";
        out +=
            row({f.name + " (" + f.unit + ")", cell(f.value), cell(f.p50), cell(f.p99),
                 f.baseline ? cell(*f.baseline) : "-", f.baselineP99 ? cell(*f.baselineP99) : "-",
                 f.ratio ? cell(*f.ratio) : "-", target != targets().end() ? target->second.text : "", met});
    }
    return out;
}

}  // namespace quillory_bench
