#pragma once

#include <optional>
#include <string>

namespace platform {

// The application bundle this process was started from.
class Bundle {
public:
    virtual ~Bundle() = default;
    virtual std::string bundlePath() const = 0;
    virtual std::optional<std::string> executablePath() const = 0;
    virtual std::optional<std::string> bundleIdentifier() const = 0;

    static Bundle& main();
};

// User-visible text in the user's language, looked up by its English text in
// the main bundle's default table; the English text when there is none.
class Localization {
public:
    virtual ~Localization() = default;
    virtual std::string localizedString(const std::string& key) = 0;

    static Localization& shared();
};

// Shorthand for the units' user-visible texts.
inline std::string localized(const std::string& english) {
    return Localization::shared().localizedString(english);
}

}  // namespace platform
