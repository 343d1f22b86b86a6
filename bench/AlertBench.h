#pragma once

#include <sys/types.h>

#include <string>

// An alert of the agent, as the user meets it: the helper opened again while
// its agent runs shows "Quillory Helper is on", answered with a real Return.
namespace quillory_bench {

// Opens `helperExecutable`, waits until the agent's alert is the active
// window, presses Return through XTest (xdotool) and waits until the agent's
// alert process has ended. False, with the reason on standard error, when a
// step does not happen within its bound.
bool showAndDismissAlert(const std::string& helperExecutable, pid_t agent);

}  // namespace quillory_bench
