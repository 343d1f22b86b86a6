// The key posted for Command-V, over the layouts macOS ships, read without
// selecting any of them: the user's input source stays as it is.

#include <gtest/gtest.h>

#include "MacKeyboardLayout.h"
#include "MacStrings.h"

using namespace platform;

namespace {

// The translation of an installed layout, by its input source identifier;
// empty when it is not installed.
KeyTranslation installedLayout(NSString* identifier) {
    NSDictionary* filter = @{(__bridge NSString*)kTISPropertyInputSourceID : identifier};
    CFArrayRef sources = TISCreateInputSourceList((__bridge CFDictionaryRef)filter, true);
    if (sources == nullptr) return {};
    KeyTranslation translation;
    if (CFArrayGetCount(sources) > 0) {
        auto source = static_cast<TISInputSourceRef>(const_cast<void*>(CFArrayGetValueAtIndex(sources, 0)));
        translation = macos::unicodeKeyTranslation(source, LMGetKbdType());
    }
    CFRelease(sources);
    return translation;
}

FoundKey commandV(const std::vector<KeyTranslation>& layouts) {
    return findKeyTyping(u"v", KeyModifiers::command, layouts, virtualKeyV);
}

}  // namespace

TEST(MacKeyboardLayout, CommandVIsPressedWhereEachLayoutTypesV) {
    const KeyTranslation us = installedLayout(@"com.apple.keylayout.US");
    const KeyTranslation dvorak = installedLayout(@"com.apple.keylayout.Dvorak");
    const KeyTranslation dvorakQwertyCommand = installedLayout(@"com.apple.keylayout.DVORAK-QWERTYCMD");
    const KeyTranslation french = installedLayout(@"com.apple.keylayout.French");
    const KeyTranslation russian = installedLayout(@"com.apple.keylayout.Russian");
    for (const auto* layout : {&us, &dvorak, &dvorakQwertyCommand, &french, &russian}) ASSERT_TRUE(*layout);

    EXPECT_EQ(commandV({us}).keyCode, 9);
    // At V's place Dvorak has K: Command-K would clear Terminal's scroll-back.
    EXPECT_EQ(dvorak(9, KeyModifiers::command), u"k");
    EXPECT_EQ(commandV({dvorak}).keyCode, 47);
    // Command switches this one to QWERTY; without Command its "v" is at 47.
    EXPECT_EQ(commandV({dvorakQwertyCommand}).keyCode, 9);
    EXPECT_EQ(findKeyTyping(u"v", KeyModifiers::none, {dvorakQwertyCommand}, virtualKeyV).keyCode, 47);
    EXPECT_EQ(commandV({french}).keyCode, 9);

    // Russian types Cyrillic; with Command it may map to Latin itself, or
    // the ASCII-capable layout answers. Either way the key is 9.
    const FoundKey fromRussian = commandV({russian, us});
    EXPECT_EQ(fromRussian.keyCode, 9);
    RecordProperty("russian_command_v_from",
                   fromRussian.layout == 0u ? "the layout's own Command mapping" : "the Latin fallback");
}

// The current layout, whatever it is, gives a key, and the same one again.
TEST(MacKeyboardLayout, TheCurrentLayoutGivesAKeyAndKeepsIt) {
    macos::CommandVKey key;
    const VirtualKeyCode first = key.keyCode();
    EXPECT_LT(first, 128);
    EXPECT_EQ(key.keyCode(), first);
}
