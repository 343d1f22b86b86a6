#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string_view>

// What a process has cost so far, from /proc.
namespace quillory_bench {

struct ProcessUsage {
    long cpuTicks = 0;  // user + system time of the whole process, in clock ticks
    long rssKb = 0;
    // Voluntary + involuntary context switches of each live thread.
    std::map<pid_t, long> switchesByThread;
};

// None once the process has gone.
std::optional<ProcessUsage> usageOf(pid_t pid);

// The times a process's threads were switched in between two readings: the
// switches of the threads that lived through both, all of those of threads
// that started in between, and one for each thread that ended (it ran to
// end).
long wakeupsBetween(const ProcessUsage& before, const ProcessUsage& after);

// The parts of the /proc files that usageOf reads, separately so that they
// can be checked against known text.
// utime + stime of a /proc/PID/stat line; the command name may hold spaces
// and parentheses.
std::optional<long> cpuTicksOfStat(std::string_view stat);
// A numeric field of /proc/PID/status ("VmRSS", "voluntary_ctxt_switches").
std::optional<long> statusField(std::string_view status, std::string_view field);

}  // namespace quillory_bench
