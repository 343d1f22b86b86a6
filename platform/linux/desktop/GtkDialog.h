#pragma once

#include <cstdint>
#include <functional>

#include "platform/Alert.h"

// The GTK side of alerts, run by the alert process (AlertProcessMain.cpp)
// and never by the agent: GTK, its theme and font caches would stay in the
// agent for the rest of its life after a single alert.
namespace platform::linux_desktop {

// Sets GTK up for the X display; false when it cannot reach the display.
bool setUpGtk();

// Shows the alert as a GTK message dialog and runs a loop of GLib's default
// main context until it is answered: a button's response, or
// `closedResponse` when closed without one. `shown` learns the dialog's X
// window each time it is mapped. The alert has at least one button.
ModalResponse runGtkDialog(const Alert& alert, const std::function<void(std::uint32_t window)>& shown);

}  // namespace platform::linux_desktop
