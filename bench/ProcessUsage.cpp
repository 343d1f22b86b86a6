#include "ProcessUsage.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace quillory_bench {

namespace {

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::optional<long> leadingNumber(std::string_view text) {
    const auto start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return std::nullopt;
    long value = 0;
    const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data() + start) return std::nullopt;
    return value;
}

}  // namespace

std::optional<long> cpuTicksOfStat(std::string_view stat) {
    // Fields after the command: state is field 3, utime 14, stime 15.
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    long ticks = 0;
    for (int field = 3; field <= 15; ++field) {
        const auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) return std::nullopt;
        rest = rest.substr(start);
        if (field >= 14) {
            const auto value = leadingNumber(rest);
            if (!value) return std::nullopt;
            ticks += *value;
        }
        const auto end = rest.find(' ');
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    }
    return ticks;
}

std::optional<long> statusField(std::string_view status, std::string_view field) {
    std::size_t at = 0;
    while (at < status.size()) {
        const auto end = std::min(status.find('\n', at), status.size());
        const std::string_view line = status.substr(at, end - at);
        if (line.size() > field.size() && line.starts_with(field) && line[field.size()] == ':')
            return leadingNumber(line.substr(field.size() + 1));
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<ProcessUsage> usageOf(pid_t pid) {
    const std::filesystem::path process = "/proc/" + std::to_string(pid);
    const auto status = readFile(process / "status");
    // The process's own times include those of threads that have ended.
    const auto stat = readFile(process / "stat");
    if (!status || !stat) return std::nullopt;
    ProcessUsage usage;
    usage.rssKb = statusField(*status, "VmRSS").value_or(0);
    usage.cpuTicks = cpuTicksOfStat(*stat).value_or(0);
    // Context switches are counted per thread only.
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(process / "task", error)) {
        const auto taskStatus = readFile(task.path() / "status");
        if (!taskStatus) continue;  // a thread that just ended
        const auto tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
        usage.switchesByThread[tid] = statusField(*taskStatus, "voluntary_ctxt_switches").value_or(0) +
                                      statusField(*taskStatus, "nonvoluntary_ctxt_switches").value_or(0);
    }
    if (error) return std::nullopt;
    return usage;
}

long wakeupsBetween(const ProcessUsage& before, const ProcessUsage& after) {
    long wakeups = 0;
    for (const auto& [tid, switches] : after.switchesByThread) {
        const auto earlier = before.switchesByThread.find(tid);
        wakeups += switches - (earlier != before.switchesByThread.end() ? earlier->second : 0);
    }
    for (const auto& [tid, switches] : before.switchesByThread) {
        if (!after.switchesByThread.contains(tid)) ++wakeups;
    }
    return wakeups;
}

}  // namespace quillory_bench
