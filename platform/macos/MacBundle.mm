#include "MacBundle.h"

#import <Foundation/Foundation.h>

#include "MacStrings.h"

namespace platform::macos {

std::string MacBundle::bundlePath() const { return toString(NSBundle.mainBundle.bundlePath); }

std::optional<std::string> MacBundle::executablePath() const {
    return toOptionalString(NSBundle.mainBundle.executablePath);
}

std::optional<std::string> MacBundle::bundleIdentifier() const {
    return toOptionalString(NSBundle.mainBundle.bundleIdentifier);
}

std::string MacLocalization::localizedString(const std::string& key) {
    NSString* english = toNSString(key);
    return toString([bundle_ localizedStringForKey:english value:english table:nil]);
}

}  // namespace platform::macos
