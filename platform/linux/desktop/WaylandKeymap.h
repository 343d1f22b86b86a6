#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xkb_context;
struct xkb_keymap;

namespace platform::linux_desktop {

// A complete XKB keymap for the virtual keyboard, compiled by xkbcommon from
// the default rules, model, layouts, variant and options (XKB_DEFAULT_* in
// the environment override them, as they do for the compositor), and the
// keys in it that type what the paste needs.
class WaylandKeymap {
public:
    struct Key {
        std::uint32_t evdevCode;  // what the virtual keyboard sends: the XKB keycode less 8
        std::uint32_t layout;     // the layout (XKB group) in which it types the symbol
    };

    // None when xkbcommon cannot compile it.
    static std::unique_ptr<WaylandKeymap> fromDefaults();
    ~WaylandKeymap();
    WaylandKeymap(const WaylandKeymap&) = delete;
    WaylandKeymap& operator=(const WaylandKeymap&) = delete;

    // The keymap in the text format of the protocol.
    const std::string& text() const { return text_; }
    // The key that types `keysym` alone (no modifier): in the first layout
    // when it has one, else in the first other layout that does, through
    // which toolkits still match a shortcut. None when no layout has it.
    std::optional<Key> keyFor(std::uint32_t keysym) const;
    // The mask of a modifier (XKB_MOD_NAME_CTRL, XKB_MOD_NAME_SHIFT); 0 when
    // the keymap has none by that name.
    std::uint32_t modifierMask(const char* name) const;

private:
    WaylandKeymap(xkb_context* context, xkb_keymap* keymap);

    xkb_context* context_;
    xkb_keymap* keymap_;
    std::string text_;
};

}  // namespace platform::linux_desktop
