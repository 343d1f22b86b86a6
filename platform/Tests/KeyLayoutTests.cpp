#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/KeyLayout.h"

namespace {

using platform::findKeyTyping;
using platform::FoundKey;
using platform::KeyModifiers;
using platform::KeyTranslation;
using platform::VirtualKeyCode;

// The letter keys by position, as macOS numbers them, row by row as a U.S.
// keyboard has them.
constexpr VirtualKeyCode positions[] = {12, 13, 14, 15, 17, 16, 32, 34, 31, 35, 33,
                                        30,  // q w e r t y u i o p [ ]
                                        0,  1,  2,  3,  5,  4,  38, 40, 37, 41, 39,  // a s d f g h j k l ; '
                                        6,  7,  8,  9,  11, 45, 46, 43, 47, 44};     // z x c v b n m , . /
constexpr char16_t qwerty[] = u"qwertyuiop[]asdfghjkl;'zxcvbnm,./";
constexpr char16_t dvorak[] = u"',.pyfgcrl/=aoeuidhtns-;qjkxbmwvz";
constexpr char16_t russian[] = u"йцукенгшщзхъфывапролджэячсмитьбю.";

std::map<VirtualKeyCode, char16_t> keys(const char16_t* letters) {
    std::map<VirtualKeyCode, char16_t> layout;
    for (std::size_t index = 0; index < std::size(positions); ++index)
        layout[positions[index]] = letters[index];
    return layout;
}

// A layout that types `plain`, and `withCommand` while Command is held.
KeyTranslation layout(const char16_t* plain, const char16_t* withCommand) {
    return
        [plain = keys(plain), command = keys(withCommand)](VirtualKeyCode keyCode, KeyModifiers modifiers) {
            const auto& table = modifiers == KeyModifiers::command ? command : plain;
            const auto found = table.find(keyCode);
            return found == table.end() ? std::u16string() : std::u16string(1, found->second);
        };
}

FoundKey findV(const std::vector<KeyTranslation>& layouts) {
    return findKeyTyping(u"v", KeyModifiers::command, layouts, platform::virtualKeyV);
}

TEST(KeyLayout, CommandVIsTheKeyThatTypesVWithCommandInTheLayoutOrItsLatinFallback) {
    const KeyTranslation us = layout(qwerty, qwerty);
    const KeyTranslation plainDvorak = layout(dvorak, dvorak);
    // Command switches this one to QWERTY: "v" with Command is at 9, though
    // without it the layout types "v" at 47.
    const KeyTranslation dvorakQwertyCommand = layout(dvorak, qwerty);
    const KeyTranslation cyrillicOnly = layout(russian, russian);

    const auto us_ = findV({us});
    EXPECT_EQ(us_.keyCode, 9);
    EXPECT_EQ(us_.layout, 0u);

    EXPECT_EQ(findV({plainDvorak}).keyCode, 47);
    EXPECT_EQ(findV({dvorakQwertyCommand}).keyCode, 9);

    // No "v" in the layout itself: the fallback's key, wherever it is.
    const auto fromFallback = findV({cyrillicOnly, plainDvorak});
    EXPECT_EQ(fromFallback.keyCode, 47);
    EXPECT_EQ(fromFallback.layout, 1u);
    // A layout that cannot be read is passed over.
    EXPECT_EQ(findV({KeyTranslation(), us}).layout, 1u);

    // No key types "v" anywhere: the conventional key, from no layout.
    const auto nowhere = findV({cyrillicOnly, KeyTranslation()});
    EXPECT_EQ(nowhere.keyCode, 9);
    EXPECT_FALSE(nowhere.layout.has_value());
}

}  // namespace
