#include "VirtualKeyboardEvents.h"

#include <glib.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "virtual-keyboard-unstable-v1-client.h"

namespace platform::linux_desktop {

namespace {

constexpr VirtualKeyCode commandKey = 55;

class VirtualSource : public EventSource {};

class VirtualKeyEvent : public KeyboardEvent {
public:
    VirtualKeyEvent(WaylandKeymap::Key key, bool isControl, bool keyDown, std::uint32_t controlMask)
        : key(key), isControl(isControl), keyDown(keyDown), controlMask(controlMask) {}

    const WaylandKeymap::Key key;
    const bool isControl;
    const bool keyDown;
    const std::uint32_t controlMask;
    // The modifiers come from Control's own events, as on X11.
    EventFlags flags = 0;
};

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
    return std::make_shared<VirtualSource>();
}

std::shared_ptr<KeyboardEvent> VirtualKeyboardEvents::createKeyboardEvent(EventSource& source,
                                                                          VirtualKeyCode keyCode,
                                                                          bool keyDown) {
    if (dynamic_cast<VirtualSource*>(&source) == nullptr || !keymap_) return nullptr;
    // Control is sent in the layout of "v", so that its state is the one
    // that V is pressed in.
    const auto v = keymap_->keyFor(XKB_KEY_v);
    if (!v) return nullptr;
    if (keyCode == commandKey) {
        const auto control = keymap_->keyFor(XKB_KEY_Control_L);
        if (!control || keymap_->controlMask() == 0) return nullptr;
        return std::make_shared<VirtualKeyEvent>(WaylandKeymap::Key{control->evdevCode, v->layout}, true,
                                                 keyDown, keymap_->controlMask());
    }
    if (keyCode != virtualKeyV) return nullptr;
    return std::make_shared<VirtualKeyEvent>(*v, false, keyDown, keymap_->controlMask());
}

void VirtualKeyboardEvents::setFlags(KeyboardEvent& event, EventFlags flags) {
    if (auto* keyEvent = dynamic_cast<VirtualKeyEvent*>(&event)) keyEvent->flags = flags;
}

void VirtualKeyboardEvents::post(EventTapLocation, KeyboardEvent& event) {
    auto* keyEvent = dynamic_cast<VirtualKeyEvent*>(&event);
    if (keyEvent == nullptr || keyboard_ == nullptr || connection_ == nullptr || connection_->isLost())
        return;
    zwp_virtual_keyboard_v1_key(
        keyboard_, now(), keyEvent->key.evdevCode,
        keyEvent->keyDown ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    if (keyEvent->isControl) {
        // Down: Control held, in the layout of "v". Up: nothing held,
        // latched or locked, in the first layout.
        zwp_virtual_keyboard_v1_modifiers(keyboard_, keyEvent->keyDown ? keyEvent->controlMask : 0, 0, 0,
                                          keyEvent->keyDown ? keyEvent->key.layout : 0);
    }
    // The caller pauses between events; each must reach the compositor before the pause.
    connection_->flush();
}

std::optional<Error> VirtualKeyboardEvents::unavailability() {
    if (auto why = refusal_()) return Error{*why};
    return std::nullopt;
}

}  // namespace platform::linux_desktop
