#pragma once

#include "platform/Alert.h"

// What an alert answers besides its buttons, and how the alert process tells
// the agent about its dialog: one line per event on its standard output.
namespace platform::linux_desktop {

// Closed without a button (Escape, the window's close button).
inline constexpr ModalResponse closedResponse = 0;
// Not shown, or ended because the display went away.
inline constexpr ModalResponse abortedResponse = -1001;

// "window <X window id>": the dialog is mapped, to be brought to the front.
inline constexpr const char* windowLinePrefix = "window ";
// "response <ModalResponse>": the answer; the process ends after it.
inline constexpr const char* responseLinePrefix = "response ";

}  // namespace platform::linux_desktop
