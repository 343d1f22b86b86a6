#pragma once

#include <optional>
#include <string>

#include "PasteBench.h"

// Pastes on a Wayland desktop (sway), timed from the Paste call to its
// reply: no window of this process can see when the keys arrive there, as
// the X11 bench's does. The helper and the floor both reply once their four
// keys are sent, so the two are measured alike.
namespace quillory_bench {

// Needs WAYLAND_DISPLAY and SWAYSOCK (windows are switched with swaymsg), the
// helper's agent on the session bus, the Wayland floor service, the main
// app's stand-in and the paste target (tools/), both run as native Wayland
// windows. Fills the front, re-activation and floor figures, less their
// fixed 30 ms or 90 ms; `count` pastes in each path.
std::optional<PasteSamples> measureWaylandPastes(const std::string& mainAppStandin,
                                                 const std::string& pasteTarget, int count);

}  // namespace quillory_bench
