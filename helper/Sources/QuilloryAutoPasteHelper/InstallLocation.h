#pragma once

namespace quillory {

// The helper only works from an Applications folder: the set-up explains how
// to move it there, the agent uninstalls itself.
namespace InstallLocation {

// True when the bundle, its symbolic links resolved, lies anywhere below
// /Applications or the user's own ~/Applications. Worked out anew each call.
bool isInApplicationsFolder();

// Tells the user to move the helper to Applications, then terminates the
// application whatever closed the alert.
void explainAndQuit();

}  // namespace InstallLocation

}  // namespace quillory
