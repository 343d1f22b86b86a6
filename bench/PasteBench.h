#pragma once

#include <optional>
#include <string>
#include <vector>

// Pastes into a window of this process, timed at both ends on one clock.
namespace quillory_bench {

struct PasteSamples {
    // From the Paste call to the first key event at the target, less the
    // fixed 30 ms (target in front) or 90 ms (target re-activated).
    std::vector<double> frontOverheadMs;
    std::vector<double> reactivateOverheadMs;
    // The floor's pastes, interleaved with the helper's in both paths, less
    // its fixed 30 ms: what the machine costs with nothing in between.
    std::vector<double> floorOverheadMs;
    // From the fourth key event at the target to the reply, both paths.
    std::vector<double> replyAfterLastKeyMs;
};

// Needs DISPLAY with an EWMH window manager, the helper's agent on the
// session bus, the floor service and the main app's stand-in (a program that
// prints "window <X id>" once its window is up). `count` pastes in each path,
// and as many of the floor's.
std::optional<PasteSamples> measurePastes(const std::string& mainAppStandin, int count);

}  // namespace quillory_bench
