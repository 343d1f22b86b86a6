#include "XkbKeyboard.h"

#include <algorithm>
#include <cstdlib>

#include "XcbXkb.h"

namespace platform::linux_desktop {

namespace {

constexpr std::uint8_t groupCountMask = 0x0f;
constexpr std::uint8_t clampIntoRange = 0x40;
constexpr std::uint8_t redirectIntoRange = 0x80;
constexpr std::uint8_t maximumGroups = 4;

}  // namespace

xcb_keycode_t XkbKeyboard::keyFor(std::uint32_t keysym) {
    if (keysym == 0 || connection_.isLost() || (!isLoaded_ && !load())) return 0;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (symbolIn(keys_[i], group_) == keysym) return static_cast<xcb_keycode_t>(firstKeycode_ + i);
    }
    for (std::uint8_t group = 0; group < maximumGroups; ++group) {
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            const Key& key = keys_[i];
            if (group < key.symbols.size() && key.symbols[group] == keysym)
                return static_cast<xcb_keycode_t>(firstKeycode_ + i);
        }
    }
    return 0;
}

// A key with fewer groups than the active one brings it into range as XKB
// does when the key is pressed: wrapped, clamped or redirected.
std::uint32_t XkbKeyboard::symbolIn(const Key& key, std::uint8_t group) const {
    const auto count = static_cast<std::uint8_t>(key.symbols.size());
    if (count == 0) return 0;
    if (group >= count) {
        if ((key.groupInfo & redirectIntoRange) != 0) {
            group = static_cast<std::uint8_t>((key.groupInfo >> 4) & 0x03);
            if (group >= count) group = 0;
        } else if ((key.groupInfo & clampIntoRange) != 0) {
            group = static_cast<std::uint8_t>(count - 1);
        } else {
            group = static_cast<std::uint8_t>(group % count);
        }
    }
    return key.symbols[group];
}

void XkbKeyboard::handleEvent(const xcb_generic_event_t& event) {
    const std::uint8_t type = event.response_type & ~0x80;
    // Sent to every client; no need to ask for it.
    if (type == XCB_MAPPING_NOTIFY) isLoaded_ = false;
    const auto base = connection_.xkbEventBase();
    if (!base || type != *base) return;
    // XKB's events share one type; the second byte tells them apart.
    switch (reinterpret_cast<const xcb_xkb_state_notify_event_t&>(event).xkbType) {
        case XCB_XKB_STATE_NOTIFY:
            group_ = reinterpret_cast<const xcb_xkb_state_notify_event_t&>(event).group;
            break;
        case XCB_XKB_NEW_KEYBOARD_NOTIFY:
        case XCB_XKB_MAP_NOTIFY:
            // A new keymap may also have moved the group; both are read again.
            isLoaded_ = false;
            break;
        default:
            break;
    }
}

bool XkbKeyboard::load() {
    isLoaded_ = (connection_.xkbEventBase() && loadXkb()) || loadCore();
    return isLoaded_;
}

bool XkbKeyboard::loadXkb() {
    xcb_connection_t* c = connection_.raw();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    // Both questions share the round trip.
    const auto askedState = xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD);
    const auto askedMap = xcb_xkb_get_map(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_SYMS, 0, 0, 0,
                                          setup->min_keycode, count, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    xcb_generic_error_t* error = nullptr;
    xcb_xkb_get_state_reply_t* state = xcb_xkb_get_state_reply(c, askedState, &error);
    std::free(error);
    error = nullptr;
    xcb_xkb_get_map_reply_t* map = xcb_xkb_get_map_reply(c, askedMap, &error);
    std::free(error);
    const bool answered = state != nullptr && map != nullptr;
    if (answered) {
        group_ = state->group;
        xcb_xkb_get_map_map_t parts;
        xcb_xkb_get_map_map_unpack(xcb_xkb_get_map_map(map), map->nTypes, map->nKeySyms, map->nKeyActions,
                                   map->totalActions, map->totalKeyBehaviors, map->virtualMods,
                                   map->totalKeyExplicit, map->totalModMapKeys, map->totalVModMapKeys,
                                   map->present, &parts);
        firstKeycode_ = map->firstKeySym;
        keys_.clear();
        for (auto each = xcb_xkb_get_map_map_syms_rtrn_iterator(map, &parts); each.rem > 0;
             xcb_xkb_key_sym_map_next(&each)) {
            const xcb_xkb_key_sym_map_t& entry = *each.data;
            const xcb_keysym_t* symbols = xcb_xkb_key_sym_map_syms(&entry);
            Key key;
            key.groupInfo = entry.groupInfo;
            const int groups = std::min<int>(entry.groupInfo & groupCountMask, maximumGroups);
            for (int group = 0; group < groups && entry.width > 0; ++group) {
                const int index = group * entry.width;
                key.symbols.push_back(index < xcb_xkb_key_sym_map_syms_length(&entry) ? symbols[index] : 0);
            }
            keys_.push_back(std::move(key));
        }
    }
    std::free(state);
    std::free(map);
    connection_.noticeError();
    return answered;
}

// A server without XKB: the core mapping, whose first column is what a key
// types alone.
bool XkbKeyboard::loadCore() {
    xcb_connection_t* c = connection_.raw();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_generic_error_t* error = nullptr;
    xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)), &error);
    std::free(error);
    if (mapping == nullptr) {
        connection_.noticeError();
        return false;
    }
    const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(mapping);
    const int perKeycode = mapping->keysyms_per_keycode;
    firstKeycode_ = setup->min_keycode;
    group_ = 0;
    keys_.assign(static_cast<std::size_t>(count), Key{});
    for (int i = 0; i < count && perKeycode > 0; ++i) keys_[i].symbols = {symbols[i * perKeycode]};
    std::free(mapping);
    return true;
}

}  // namespace platform::linux_desktop
