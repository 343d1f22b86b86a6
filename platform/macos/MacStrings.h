#pragma once

// Conversions between the seam's UTF-8 strings and Foundation's strings.

#import <Foundation/Foundation.h>

#include <optional>
#include <string>

namespace platform::macos {

inline NSString* toNSString(const std::string& text) {
    return [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding]
               ?: @"";
}

inline std::string toString(NSString* text) {
    const char* utf8 = text.UTF8String;
    return utf8 != nullptr ? std::string(utf8) : std::string();
}

inline std::optional<std::string> toOptionalString(NSString* text) {
    if (text == nil) return std::nullopt;
    return toString(text);
}

}  // namespace platform::macos
