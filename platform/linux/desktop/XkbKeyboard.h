#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "XcbConnection.h"

namespace platform::linux_desktop {

// The keyboard as XKB describes it: what each key types alone in each layout
// group, and the group in use. Both are read at the first look-up, in one
// round trip, and then followed through the server's notifications, so that
// a paste asks the server nothing. Main thread only.
class XkbKeyboard {
public:
    explicit XkbKeyboard(XcbConnection& connection) : connection_(connection) {}

    // The key to press for `keysym`: the one that types it in the active
    // group, else one that types it in another group, through which GTK and
    // Qt still match a shortcut; 0 when no group has it.
    xcb_keycode_t keyFor(std::uint32_t keysym);

    // Follows group changes and new keymaps (XKB), and core mapping changes.
    void handleEvent(const xcb_generic_event_t& event);

private:
    struct Key {
        // The symbol of the first level in each of the key's groups.
        std::vector<std::uint32_t> symbols;
        // How a group beyond the key's own is brought into range (XKB's group info).
        std::uint8_t groupInfo = 0;
    };

    bool load();
    bool loadXkb();
    bool loadCore();
    std::uint32_t symbolIn(const Key& key, std::uint8_t group) const;

    XcbConnection& connection_;
    xcb_keycode_t firstKeycode_ = 0;
    std::vector<Key> keys_;
    bool isLoaded_ = false;
    std::uint8_t group_ = 0;
};

}  // namespace platform::linux_desktop
