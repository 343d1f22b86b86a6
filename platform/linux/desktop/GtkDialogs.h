#pragma once

#include <cstdint>
#include <functional>

#include "platform/Alert.h"

// The GTK side of alerts, built as a module of its own that the agent loads
// when it shows its first alert: GTK and its libraries cost every start of
// the helper time and memory, while most starts never show an alert.
namespace platform::linux_desktop {

// Closed without a button (Escape, the window's close button).
inline constexpr ModalResponse closedResponse = 0;
// Not shown, or ended because the display went away.
inline constexpr ModalResponse abortedResponse = -1001;

class GtkDialogs {
public:
    // Asks the window manager to bring an X window to the front.
    using ActivateWindow = std::function<void(std::uint32_t window)>;

    virtual ~GtkDialogs() = default;
    // A GTK message dialog, run in a nested loop of GLib's default main
    // context; the alert has at least one button.
    virtual ModalResponse runModal(const Alert& alert, const ActivateWindow& activateWindow) = 0;
    virtual void bringToFront(const ActivateWindow& activateWindow) = 0;
    // Ends the dialogs that are up with `abortedResponse`.
    virtual void abortAll() = 0;
    // Whether GTK's own connection to the display has broken.
    virtual bool isDisplayLost() const = 0;
};

// The module's one entry: GTK is set up on the first call; null when it
// cannot reach the display.
using GtkDialogsEntry = GtkDialogs* (*)();
inline constexpr const char* gtkDialogsEntryName = "quilloryGtkDialogs";

}  // namespace platform::linux_desktop
