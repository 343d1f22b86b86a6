#include "platform/KeyLayout.h"

namespace platform {

namespace {

// Virtual key codes are 7 bits; the ones above are not keys.
constexpr VirtualKeyCode keyCodeCount = 128;

}  // namespace

FoundKey findKeyTyping(std::u16string_view text, KeyModifiers modifiers,
                       const std::vector<KeyTranslation>& layouts, VirtualKeyCode conventional) {
    for (std::size_t index = 0; index < layouts.size(); ++index) {
        const KeyTranslation& translate = layouts[index];
        if (!translate) continue;
        if (translate(conventional, modifiers) == text) return {conventional, index};
        for (VirtualKeyCode keyCode = 0; keyCode < keyCodeCount; ++keyCode) {
            if (keyCode != conventional && translate(keyCode, modifiers) == text) return {keyCode, index};
        }
    }
    return {conventional, std::nullopt};
}

}  // namespace platform
