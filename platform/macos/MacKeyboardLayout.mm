#include "MacKeyboardLayout.h"

#include <memory>

#include "MacStrings.h"

namespace platform::macos {

namespace {

using OwnedInputSource = std::unique_ptr<__TISInputSource, void (*)(CFTypeRef)>;

std::u16string translate(CFDataRef layoutData, std::uint32_t keyboardType, VirtualKeyCode keyCode,
                         KeyModifiers modifiers) {
    const auto* layout = reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(layoutData));
    // UCKeyTranslate takes the modifiers of an EventRecord shifted down by 8.
    const UInt32 modifierState = modifiers == KeyModifiers::command ? (cmdKey >> 8) & 0xFF : 0;
    // One press of the key: a dead key types nothing rather than waiting.
    UInt32 deadKeyState = 0;
    UniChar characters[4];
    UniCharCount length = 0;
    const OSStatus status = UCKeyTranslate(layout, keyCode, kUCKeyActionDown, modifierState, keyboardType,
                                           kUCKeyTranslateNoDeadKeysMask, &deadKeyState,
                                           std::size(characters), &length, characters);
    if (status != noErr) return {};
    std::u16string text;
    for (UniCharCount index = 0; index < length; ++index)
        text.push_back(static_cast<char16_t>(characters[index]));
    return text;
}

std::string sourceIdentifier(TISInputSourceRef source) {
    if (source == nullptr) return {};
    return toString((__bridge NSString*)TISGetInputSourceProperty(source, kTISPropertyInputSourceID));
}

}  // namespace

KeyTranslation unicodeKeyTranslation(TISInputSourceRef source, std::uint32_t keyboardType) {
    if (source == nullptr) return {};
    // Owned by the source (the Get rule): kept for as long as the translation is.
    auto layoutData =
        static_cast<CFDataRef>(TISGetInputSourceProperty(source, kTISPropertyUnicodeKeyLayoutData));
    if (layoutData == nullptr) return {};
    std::shared_ptr<const __CFData> kept(static_cast<CFDataRef>(CFRetain(layoutData)), CFRelease);
    return [kept, keyboardType](VirtualKeyCode keyCode, KeyModifiers modifiers) {
        return translate(kept.get(), keyboardType, keyCode, modifiers);
    };
}

VirtualKeyCode CommandVKey::keyCode() {
    // Copied, so released with the scope: the analyzer does not follow
    // Text Input Sources' ownership as it follows Core Foundation's.
    const OwnedInputSource current(TISCopyCurrentKeyboardLayoutInputSource(), CFRelease);
    const std::uint32_t keyboardType = LMGetKbdType();
    std::string source = sourceIdentifier(current.get());
    // The ASCII-capable layout is the one last selected of its kind, so it
    // changes only along with the current one: the current one is the key.
    if (!found_ || found_->source != source || found_->keyboardType != keyboardType) {
        const OwnedInputSource asciiCapable(TISCopyCurrentASCIICapableKeyboardLayoutInputSource(), CFRelease);
        const FoundKey key = findKeyTyping(u"v", KeyModifiers::command,
                                           {unicodeKeyTranslation(current.get(), keyboardType),
                                            unicodeKeyTranslation(asciiCapable.get(), keyboardType)},
                                           virtualKeyV);
        found_ = Found{std::move(source), keyboardType, key.keyCode};
    }
    return found_->keyCode;
}

}  // namespace platform::macos
