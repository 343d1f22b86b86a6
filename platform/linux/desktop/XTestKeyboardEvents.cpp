#include "XTestKeyboardEvents.h"

#include <xcb/xtest.h>

namespace platform::linux_desktop {

namespace {

constexpr std::uint32_t keysymControlL = 0xffe3;
constexpr std::uint32_t keysymV = 0x0076;

class XTestSource : public EventSource {};

class XTestKeyEvent : public KeyboardEvent {
public:
    XTestKeyEvent(VirtualKeyCode keyCode, xcb_keycode_t xKeycode, bool keyDown)
        : keyCode(keyCode), xKeycode(xKeycode), keyDown(keyDown) {}

    const VirtualKeyCode keyCode;
    const xcb_keycode_t xKeycode;
    const bool keyDown;
    // X works out the modifier state from the keys held down, so the
    // Command flag of V is carried by the Control_L press before it.
    EventFlags flags = 0;
};

}  // namespace

std::uint32_t XTestKeyboardEvents::keysymFor(VirtualKeyCode keyCode) {
    switch (keyCode) {
        case 55:
            return keysymControlL;
        case virtualKeyV:
            return keysymV;
        default:
            return 0;
    }
}

std::shared_ptr<EventSource> XTestKeyboardEvents::createSource(EventSourceStateID) {
    // No round trip to ask the server: a lost display is noticed by the main
    // loop as it goes (and by any request), and a paste waits for nothing
    // it does not need.
    if (connection_.isLost()) return nullptr;
    return std::make_shared<XTestSource>();
}

std::optional<Error> XTestKeyboardEvents::unavailability() {
    if (connection_.isLost()) return Error{"The X display has gone."};
    if (!connection_.hasXTest()) return Error{"The X display has no XTEST extension to type with."};
    return std::nullopt;
}

std::shared_ptr<KeyboardEvent> XTestKeyboardEvents::createKeyboardEvent(EventSource& source,
                                                                        VirtualKeyCode keyCode,
                                                                        bool keyDown) {
    if (dynamic_cast<XTestSource*>(&source) == nullptr) return nullptr;
    const std::uint32_t keysym = keysymFor(keyCode);
    if (keysym == 0) return nullptr;
    const xcb_keycode_t xKeycode = keyboard_.keyFor(keysym);
    if (xKeycode == 0) return nullptr;
    return std::make_shared<XTestKeyEvent>(keyCode, xKeycode, keyDown);
}

void XTestKeyboardEvents::setFlags(KeyboardEvent& event, EventFlags flags) {
    if (auto* keyEvent = dynamic_cast<XTestKeyEvent*>(&event)) keyEvent->flags = flags;
}

void XTestKeyboardEvents::post(EventTapLocation, KeyboardEvent& event) {
    auto* keyEvent = dynamic_cast<XTestKeyEvent*>(&event);
    if (keyEvent == nullptr || connection_.isLost() || !connection_.hasXTest()) return;
    xcb_test_fake_input(connection_.raw(), keyEvent->keyDown ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                        keyEvent->xKeycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    // The caller pauses between events; each must reach the server before the pause.
    xcb_flush(connection_.raw());
    connection_.noticeError();
}

}  // namespace platform::linux_desktop
