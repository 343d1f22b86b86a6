#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "PasteShortcut.h"
#include "XcbConnection.h"
#include "XkbKeyboard.h"
#include "platform/KeyboardEvents.h"

namespace platform::linux_desktop {

// Keyboard events posted with XTest. They carry the macOS virtual key codes
// of the units; each is translated to the keys that play its part on X11 in
// the paste shortcut of the window that receives them: Command (55) to the
// shortcut's modifiers (Control_L, Control_L and Shift_L, or Shift_L), V (9)
// to the key of v in the layouts now in use, or to Insert.
class XTestKeyboardEvents : public KeyboardEvents {
public:
    // `receiverShortcut` chooses the paste shortcut of the window that will
    // receive the keys; asked once per source, that is once per paste.
    XTestKeyboardEvents(XcbConnection& connection, std::function<PasteShortcutChoice()> receiverShortcut)
        : connection_(connection), keyboard_(connection), receiverShortcut_(std::move(receiverShortcut)) {}

    std::shared_ptr<EventSource> createSource(EventSourceStateID state) override;
    std::shared_ptr<KeyboardEvent> createKeyboardEvent(EventSource& source, VirtualKeyCode keyCode,
                                                       bool keyDown) override;
    void setFlags(KeyboardEvent& event, EventFlags flags) override;
    void post(EventTapLocation tap, KeyboardEvent& event) override;
    std::optional<Error> unavailability() override;

    // The X keysyms that stand for a macOS virtual key code in a paste
    // shortcut, pressed in this order and released in the reverse; none for
    // keys the helper does not use.
    static std::vector<std::uint32_t> keysymsFor(VirtualKeyCode keyCode, PasteShortcut shortcut);

    // Keymap and layout group changes.
    void handleEvent(const xcb_generic_event_t& event) { keyboard_.handleEvent(event); }

private:
    XcbConnection& connection_;
    XkbKeyboard keyboard_;
    std::function<PasteShortcutChoice()> receiverShortcut_;
};

}  // namespace platform::linux_desktop
