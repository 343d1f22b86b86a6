#pragma once

#include "platform/Bundle.h"

@class NSBundle;

namespace platform::macos {

// NSBundle.mainBundle.
class MacBundle : public Bundle {
public:
    std::string bundlePath() const override;
    std::optional<std::string> executablePath() const override;
    std::optional<std::string> bundleIdentifier() const override;
};

// Localizable.strings of a bundle's default table, for the user's languages;
// the English text where a language has no entry.
class MacLocalization : public Localization {
public:
    explicit MacLocalization(NSBundle* bundle) : bundle_(bundle) {}

    std::string localizedString(const std::string& key) override;

private:
    NSBundle* bundle_;
};

}  // namespace platform::macos
