#pragma once

namespace quillory {

// The alerts that tell the user whether the helper is on. Each brings the
// helper to the front, blocks until dismissed and never ends the process.
namespace SetUpAlert {

// The agent runs already: "OK", or "Open Login Items" as the second button.
void alreadyOn();
// The user turned the agent off: "Open Login Items" first, then "Cancel".
void turnedOff();
// Registering failed: how to install afresh, with one "OK".
void failed();

}  // namespace SetUpAlert

}  // namespace quillory
