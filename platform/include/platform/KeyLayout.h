#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeyboardEvents.h"

namespace platform {

// Modifier keys held while a key is translated.
enum class KeyModifiers : std::uint8_t { none = 0, command = 1 };

// What one keyboard layout types for a key with the modifiers held, as UTF-16
// text; empty when the key types nothing.
using KeyTranslation = std::function<std::u16string(VirtualKeyCode keyCode, KeyModifiers modifiers)>;

struct FoundKey {
    VirtualKeyCode keyCode;
    // The index of the layout that types it; none when no layout does and
    // the key is the conventional one.
    std::optional<std::size_t> layout;
};

// The key that types `text` with `modifiers` held: searched in each layout in
// turn, the first that has one wins; a layout in which `conventional` types
// it gives that key. `conventional` when no layout has one.
FoundKey findKeyTyping(std::u16string_view text, KeyModifiers modifiers,
                       const std::vector<KeyTranslation>& layouts, VirtualKeyCode conventional);

}  // namespace platform
