#include "WaylandKeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>

namespace platform::linux_desktop {

namespace {

// XKB keycodes are the kernel's plus 8.
constexpr std::uint32_t evdevOffset = 8;

}  // namespace

std::unique_ptr<WaylandKeymap> WaylandKeymap::fromDefaults() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr) return nullptr;
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) {
        xkb_context_unref(context);
        return nullptr;
    }
    std::unique_ptr<WaylandKeymap> result(new WaylandKeymap(context, keymap));
    if (result->text_.empty()) return nullptr;
    return result;
}

WaylandKeymap::WaylandKeymap(xkb_context* context, xkb_keymap* keymap) : context_(context), keymap_(keymap) {
    if (char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1)) {
        text_ = text;
        std::free(text);
    }
}

WaylandKeymap::~WaylandKeymap() {
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

std::optional<WaylandKeymap::Key> WaylandKeymap::keyFor(std::uint32_t keysym) const {
    const xkb_keycode_t first = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap_), evdevOffset);
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap_);
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap_);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        for (xkb_keycode_t keycode = first; keycode <= last; ++keycode) {
            if (layout >= xkb_keymap_num_layouts_for_key(keymap_, keycode)) continue;
            const xkb_keysym_t* symbols = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(keymap_, keycode, layout, 0, &symbols);
            if (count == 1 && symbols[0] == keysym) return Key{keycode - evdevOffset, layout};
        }
    }
    return std::nullopt;
}

std::uint32_t WaylandKeymap::modifierMask(const char* name) const {
    const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap_, name);
    return index == XKB_MOD_INVALID ? 0 : 1u << index;
}

}  // namespace platform::linux_desktop
