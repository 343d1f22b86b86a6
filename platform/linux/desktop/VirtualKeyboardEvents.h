#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "PasteShortcut.h"
#include "WaylandConnection.h"
#include "WaylandKeymap.h"
#include "platform/KeyboardEvents.h"

struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace platform::linux_desktop {

// Keyboard events typed with one virtual keyboard of the compositor, made
// once for the agent's life with a complete keymap. Like XTest's, they carry
// the macOS virtual key codes of the units, played as the paste shortcut of
// the window that receives them: Command (55) is its modifiers (Control,
// Control and Shift, or Shift), V (9) the key that types "v" in the keymap's
// layouts, or Insert. The compositor takes the modifiers of a virtual
// keyboard from its `modifiers` requests, not from its keys: the modifiers'
// press and release each send the state they leave, so nothing stays held or
// latched after the paste. Main thread only.
class VirtualKeyboardEvents : public KeyboardEvents {
public:
    // `refusal` says why nothing can be typed now; none when it can.
    // `prepare` runs before each paste's keys are made (it makes the
    // keyboard if it is not yet). `receiverShortcut` chooses the paste
    // shortcut of the window that will receive the keys, once per paste.
    // `connection` may be null (no compositor): nothing is typed then.
    VirtualKeyboardEvents(WaylandConnection* connection, std::function<std::optional<std::string>()> refusal,
                          std::function<void()> prepare,
                          std::function<PasteShortcutChoice()> receiverShortcut)
        : connection_(connection),
          refusal_(std::move(refusal)),
          prepare_(std::move(prepare)),
          receiverShortcut_(std::move(receiverShortcut)) {}
    ~VirtualKeyboardEvents() override;

    // Makes the keyboard and gives it its keymap; one round trip, so that a
    // compositor's refusal shows. An empty text when it worked, else why not.
    std::string create(zwp_virtual_keyboard_manager_v1* manager, wl_seat* seat);
    bool exists() const { return keyboard_ != nullptr; }

    std::shared_ptr<EventSource> createSource(EventSourceStateID state) override;
    std::shared_ptr<KeyboardEvent> createKeyboardEvent(EventSource& source, VirtualKeyCode keyCode,
                                                       bool keyDown) override;
    void setFlags(KeyboardEvent& event, EventFlags flags) override;
    void post(EventTapLocation tap, KeyboardEvent& event) override;
    std::optional<Error> unavailability() override;

private:
    WaylandConnection* connection_;
    std::function<std::optional<std::string>()> refusal_;
    std::function<void()> prepare_;
    std::function<PasteShortcutChoice()> receiverShortcut_;
    std::unique_ptr<WaylandKeymap> keymap_;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
};

}  // namespace platform::linux_desktop
