#include "XTestKeyboardEvents.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <utility>

namespace platform::linux_desktop {

namespace {

constexpr std::uint32_t keysymControlL = 0xffe3;
constexpr std::uint32_t keysymShiftL = 0xffe1;
constexpr std::uint32_t keysymInsert = 0xff63;
constexpr std::uint32_t keysymV = 0x0076;
constexpr VirtualKeyCode virtualKeyCommand = 55;

// A paste's source: its events play the shortcut chosen when it was made.
class XTestSource : public EventSource {
public:
    explicit XTestSource(PasteShortcutChoice choice) : choice(std::move(choice)) {}
    const PasteShortcutChoice choice;
};

class XTestKeyEvent : public KeyboardEvent {
public:
    XTestKeyEvent(std::vector<xcb_keycode_t> xKeycodes, bool keyDown)
        : xKeycodes(std::move(xKeycodes)), keyDown(keyDown) {}

    // Pressed in this order, released in the reverse.
    const std::vector<xcb_keycode_t> xKeycodes;
    const bool keyDown;
    // X works out the modifier state from the keys held down, so the
    // Command flag of V is carried by the modifier presses before it.
    EventFlags flags = 0;
    // The first press of a paste says, once posted, what was pressed for whom.
    std::optional<PasteShortcutChoice> choiceToLog;
};

}  // namespace

std::vector<std::uint32_t> XTestKeyboardEvents::keysymsFor(VirtualKeyCode keyCode, PasteShortcut shortcut) {
    switch (keyCode) {
        case virtualKeyCommand:
            switch (shortcut) {
                case PasteShortcut::controlV:
                    return {keysymControlL};
                case PasteShortcut::controlShiftV:
                    return {keysymControlL, keysymShiftL};
                case PasteShortcut::shiftInsert:
                    return {keysymShiftL};
            }
            return {};
        case virtualKeyV:
            return {shortcut == PasteShortcut::shiftInsert ? keysymInsert : keysymV};
        default:
            return {};
    }
}

std::shared_ptr<EventSource> XTestKeyboardEvents::createSource(EventSourceStateID) {
    // No round trip to ask whether the server is there: a lost display is
    // noticed by the main loop as it goes (and by any request). The keys
    // are those of the shortcut of the window that will receive them.
    if (connection_.isLost()) return nullptr;
    return std::make_shared<XTestSource>(receiverShortcut_ ? receiverShortcut_() : PasteShortcutChoice{});
}

std::optional<Error> XTestKeyboardEvents::unavailability() {
    if (connection_.isLost()) return Error{"The X display has gone."};
    if (!connection_.hasXTest()) return Error{"The X display has no XTEST extension to type with."};
    return std::nullopt;
}

std::shared_ptr<KeyboardEvent> XTestKeyboardEvents::createKeyboardEvent(EventSource& source,
                                                                        VirtualKeyCode keyCode,
                                                                        bool keyDown) {
    auto* xSource = dynamic_cast<XTestSource*>(&source);
    if (xSource == nullptr) return nullptr;
    const auto keysyms = keysymsFor(keyCode, xSource->choice.shortcut);
    if (keysyms.empty()) return nullptr;
    std::vector<xcb_keycode_t> xKeycodes;
    for (const std::uint32_t keysym : keysyms) {
        const xcb_keycode_t xKeycode = keyboard_.keyFor(keysym);
        if (xKeycode == 0) return nullptr;
        xKeycodes.push_back(xKeycode);
    }
    auto event = std::make_shared<XTestKeyEvent>(std::move(xKeycodes), keyDown);
    if (keyCode == virtualKeyCommand && keyDown) event->choiceToLog = xSource->choice;
    return event;
}

void XTestKeyboardEvents::setFlags(KeyboardEvent& event, EventFlags flags) {
    if (auto* keyEvent = dynamic_cast<XTestKeyEvent*>(&event)) keyEvent->flags = flags;
}

void XTestKeyboardEvents::post(EventTapLocation, KeyboardEvent& event) {
    auto* keyEvent = dynamic_cast<XTestKeyEvent*>(&event);
    if (keyEvent == nullptr || connection_.isLost() || !connection_.hasXTest()) return;
    const auto send = [&](xcb_keycode_t xKeycode) {
        xcb_test_fake_input(connection_.raw(), keyEvent->keyDown ? XCB_KEY_PRESS : XCB_KEY_RELEASE, xKeycode,
                            XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    };
    if (keyEvent->keyDown) {
        std::for_each(keyEvent->xKeycodes.begin(), keyEvent->xKeycodes.end(), send);
    } else {
        std::for_each(keyEvent->xKeycodes.rbegin(), keyEvent->xKeycodes.rend(), send);
    }
    // The caller pauses between events; each must reach the server before the pause.
    xcb_flush(connection_.raw());
    connection_.noticeError();
    if (keyEvent->choiceToLog) logPasteShortcut(*std::exchange(keyEvent->choiceToLog, std::nullopt));
}

}  // namespace platform::linux_desktop
