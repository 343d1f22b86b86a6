#pragma once

#include <cstdint>

#include "XcbConnection.h"
#include "XkbKeyboard.h"
#include "platform/KeyboardEvents.h"

namespace platform::linux_desktop {

// Keyboard events posted with XTest. They carry the macOS virtual key codes
// of the units; each is translated to the key that plays its part on X11:
// Command (55) to Control_L, the paste modifier here, and V (9) to the key
// of v in the layouts now in use.
class XTestKeyboardEvents : public KeyboardEvents {
public:
    explicit XTestKeyboardEvents(XcbConnection& connection)
        : connection_(connection), keyboard_(connection) {}

    std::shared_ptr<EventSource> createSource(EventSourceStateID state) override;
    std::shared_ptr<KeyboardEvent> createKeyboardEvent(EventSource& source, VirtualKeyCode keyCode,
                                                       bool keyDown) override;
    void setFlags(KeyboardEvent& event, EventFlags flags) override;
    void post(EventTapLocation tap, KeyboardEvent& event) override;
    std::optional<Error> unavailability() override;

    // The X keysym that stands for a macOS virtual key code; 0 for keys the
    // helper does not use.
    static std::uint32_t keysymFor(VirtualKeyCode keyCode);

    // Keymap and layout group changes.
    void handleEvent(const xcb_generic_event_t& event) { keyboard_.handleEvent(event); }

private:
    XcbConnection& connection_;
    XkbKeyboard keyboard_;
};

}  // namespace platform::linux_desktop
