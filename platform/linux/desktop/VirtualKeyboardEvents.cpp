#include "VirtualKeyboardEvents.h"

#include <glib.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <utility>
#include <vector>

#include "virtual-keyboard-unstable-v1-client.h"

namespace platform::linux_desktop {

namespace {

constexpr VirtualKeyCode commandKey = 55;

// A paste's source: its events play the shortcut chosen when it was made.
class VirtualSource : public EventSource {
public:
    explicit VirtualSource(PasteShortcutChoice choice) : choice(std::move(choice)) {}
    const PasteShortcutChoice choice;
};

class VirtualKeyEvent : public KeyboardEvent {
public:
    VirtualKeyEvent(std::vector<std::uint32_t> keys, std::uint32_t layout, bool keyDown,
                    std::optional<std::uint32_t> modifiers)
        : keys(std::move(keys)), layout(layout), keyDown(keyDown), modifiers(modifiers) {}

    // Evdev codes, pressed in this order and released in the reverse.
    const std::vector<std::uint32_t> keys;
    // The layout in which they are pressed: that of the key that types "v".
    const std::uint32_t layout;
    const bool keyDown;
    // For the shortcut's modifier keys: the mask they hold down.
    const std::optional<std::uint32_t> modifiers;
    // The modifiers come from their own events, as on X11.
    EventFlags flags = 0;
    // The first press of a paste says, once sent, what was pressed for whom.
    std::optional<PasteShortcutChoice> choiceToLog;
};

// The modifier keys of a shortcut.
std::vector<xkb_keysym_t> modifierKeysOf(PasteShortcut shortcut) {
    switch (shortcut) {
        case PasteShortcut::controlV:
            return {XKB_KEY_Control_L};
        case PasteShortcut::controlShiftV:
            return {XKB_KEY_Control_L, XKB_KEY_Shift_L};
        case PasteShortcut::shiftInsert:
            return {XKB_KEY_Shift_L};
    }
    return {};
}

// Milliseconds of an unspecified base, as the protocol has them.
std::uint32_t now() { return static_cast<std::uint32_t>(g_get_monotonic_time() / 1000); }

bool writeAll(int fd, const std::string& text) {
    const char* data = text.c_str();
    std::size_t left = text.size() + 1;  // with its terminating NUL, which the compositor expects
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written <= 0) return false;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

VirtualKeyboardEvents::~VirtualKeyboardEvents() {
    if (keyboard_ != nullptr) zwp_virtual_keyboard_v1_destroy(keyboard_);
}

std::string VirtualKeyboardEvents::create(zwp_virtual_keyboard_manager_v1* manager, wl_seat* seat) {
    if (connection_ == nullptr) return "There is no Wayland display.";
    keymap_ = WaylandKeymap::fromDefaults();
    if (!keymap_) return "xkbcommon cannot compile a keymap of the default layout for the virtual keyboard.";
    const int fd = ::memfd_create("quillory-keymap", MFD_CLOEXEC);
    if (fd < 0 || !writeAll(fd, keymap_->text())) {
        if (fd >= 0) ::close(fd);
        return "Cannot hand the virtual keyboard its keymap.";
    }
    zwp_virtual_keyboard_v1* keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, static_cast<std::uint32_t>(fd),
                                   static_cast<std::uint32_t>(keymap_->text().size() + 1));
    ::close(fd);
    // A compositor that does not trust this client ends the connection.
    if (!connection_->roundTrip()) {
        zwp_virtual_keyboard_v1_destroy(keyboard);
        return connection_->lossReason();
    }
    keyboard_ = keyboard;
    return {};
}

std::shared_ptr<EventSource> VirtualKeyboardEvents::createSource(EventSourceStateID) {
    if (prepare_) prepare_();
    if (refusal_()) return nullptr;
    return std::make_shared<VirtualSource>(receiverShortcut_ ? receiverShortcut_() : PasteShortcutChoice{});
}

std::shared_ptr<KeyboardEvent> VirtualKeyboardEvents::createKeyboardEvent(EventSource& source,
                                                                          VirtualKeyCode keyCode,
                                                                          bool keyDown) {
    auto* virtualSource = dynamic_cast<VirtualSource*>(&source);
    if (virtualSource == nullptr || !keymap_) return nullptr;
    const PasteShortcut shortcut = virtualSource->choice.shortcut;
    // Everything is pressed in the layout of "v", so that the state the
    // modifiers leave is the one that V is pressed in.
    const auto v = keymap_->keyFor(XKB_KEY_v);
    if (!v) return nullptr;
    if (keyCode == commandKey) {
        std::vector<std::uint32_t> keys;
        std::uint32_t mask = 0;
        for (const xkb_keysym_t keysym : modifierKeysOf(shortcut)) {
            const auto key = keymap_->keyFor(keysym);
            const std::uint32_t bit =
                keymap_->modifierMask(keysym == XKB_KEY_Shift_L ? XKB_MOD_NAME_SHIFT : XKB_MOD_NAME_CTRL);
            if (!key || bit == 0) return nullptr;
            keys.push_back(key->evdevCode);
            mask |= bit;
        }
        auto event = std::make_shared<VirtualKeyEvent>(std::move(keys), v->layout, keyDown, mask);
        if (keyDown) event->choiceToLog = virtualSource->choice;
        return event;
    }
    if (keyCode != virtualKeyV) return nullptr;
    if (shortcut == PasteShortcut::shiftInsert) {
        const auto insert = keymap_->keyFor(XKB_KEY_Insert);
        if (!insert) return nullptr;
        return std::make_shared<VirtualKeyEvent>(std::vector<std::uint32_t>{insert->evdevCode}, v->layout,
                                                 keyDown, std::nullopt);
    }
    return std::make_shared<VirtualKeyEvent>(std::vector<std::uint32_t>{v->evdevCode}, v->layout, keyDown,
                                             std::nullopt);
}

void VirtualKeyboardEvents::setFlags(KeyboardEvent& event, EventFlags flags) {
    if (auto* keyEvent = dynamic_cast<VirtualKeyEvent*>(&event)) keyEvent->flags = flags;
}

void VirtualKeyboardEvents::post(EventTapLocation, KeyboardEvent& event) {
    auto* keyEvent = dynamic_cast<VirtualKeyEvent*>(&event);
    if (keyEvent == nullptr || keyboard_ == nullptr || connection_ == nullptr || connection_->isLost())
        return;
    const std::uint32_t state =
        keyEvent->keyDown ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED;
    const std::uint32_t time = now();
    if (keyEvent->keyDown) {
        for (const std::uint32_t key : keyEvent->keys)
            zwp_virtual_keyboard_v1_key(keyboard_, time, key, state);
    } else {
        for (auto key = keyEvent->keys.rbegin(); key != keyEvent->keys.rend(); ++key)
            zwp_virtual_keyboard_v1_key(keyboard_, time, *key, state);
    }
    if (keyEvent->modifiers) {
        // Down: the shortcut's modifiers held, in the layout of "v". Up:
        // nothing held, latched or locked, in the first layout.
        zwp_virtual_keyboard_v1_modifiers(keyboard_, keyEvent->keyDown ? *keyEvent->modifiers : 0, 0, 0,
                                          keyEvent->keyDown ? keyEvent->layout : 0);
    }
    // The caller pauses between events; each must reach the compositor before the pause.
    connection_->flush();
    if (keyEvent->choiceToLog) logPasteShortcut(*std::exchange(keyEvent->choiceToLog, std::nullopt));
}

std::optional<Error> VirtualKeyboardEvents::unavailability() {
    if (auto why = refusal_()) return Error{*why};
    return std::nullopt;
}

}  // namespace platform::linux_desktop
