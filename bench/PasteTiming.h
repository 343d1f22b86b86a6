#pragma once

// How the paste benchmarks pace the agent, on either desktop.
namespace quillory_bench::paste_timing {

// The agent's fixed waits: 0.03 s before a paste, 0.06 s more after a re-activation.
constexpr double frontDelayMs = 30;
constexpr double reactivateDelayMs = 90;
constexpr int warmUpPastes = 5;
// After each paste the agent checks the permission once more, 0.15 s after
// its reply; the next paste starts after that, so the two never meet.
constexpr double pauseBetweenPastes = 0.16;
// What the agent needs to hear of an activation before it counts on it.
constexpr double trackerSettleSeconds = 0.3;

}  // namespace quillory_bench::paste_timing
