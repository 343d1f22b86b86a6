#pragma once

#include <cstdint>
#include <map>

#include "XcbConnection.h"
#include "platform/KeyboardEvents.h"

namespace platform::linux_desktop {

// Keyboard events posted with XTest. They carry the macOS virtual key codes
// of the units; each is translated to the key that plays its part on X11:
// Command (55) to Control_L, the paste modifier here, and V (9) to v.
class XTestKeyboardEvents : public KeyboardEvents {
public:
    explicit XTestKeyboardEvents(XcbConnection& connection) : connection_(connection) {}

    std::shared_ptr<EventSource> createSource(EventSourceStateID state) override;
    std::shared_ptr<KeyboardEvent> createKeyboardEvent(EventSource& source, VirtualKeyCode keyCode,
                                                       bool keyDown) override;
    void setFlags(KeyboardEvent& event, EventFlags flags) override;
    void post(EventTapLocation tap, KeyboardEvent& event) override;

    // The X keysym that stands for a macOS virtual key code; 0 for keys the
    // helper does not use.
    static std::uint32_t keysymFor(VirtualKeyCode keyCode);

    // The server announced a new keyboard mapping (MappingNotify).
    void keyboardMappingChanged() { keycodes_.clear(); }

private:
    // The key that yields `keysym` unshifted in the current keyboard mapping;
    // 0 when none does. Looked up once and kept until the mapping changes:
    // each look-up is a round trip, and a paste makes four keys.
    xcb_keycode_t keycodeFor(std::uint32_t keysym);

    XcbConnection& connection_;
    std::map<std::uint32_t, xcb_keycode_t> keycodes_;
};

}  // namespace platform::linux_desktop
