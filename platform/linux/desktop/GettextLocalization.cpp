#include <libintl.h>

#include <clocale>

#include "LinuxDesktop.h"

namespace platform::linux_desktop {

namespace {

// The catalogues' name: <Resources>/<language>/LC_MESSAGES/Localizable.mo,
// the counterpart of the default table of a macOS bundle.
constexpr const char* domain = "Localizable";

class GettextLocalization : public Localization {
public:
    explicit GettextLocalization(const std::string& resourcesPath) {
        // gettext picks the language from the message locale (and LANGUAGE);
        // the other categories stay as the process has them.
        std::setlocale(LC_MESSAGES, "");
        bindtextdomain(domain, resourcesPath.c_str());
        bind_textdomain_codeset(domain, "UTF-8");
    }

    std::string localizedString(const std::string& key) override {
        // The empty message id names the catalogue's header, not a text.
        if (key.empty()) return key;
        return dgettext(domain, key.c_str());
    }
};

}  // namespace

std::unique_ptr<Localization> makeGettextLocalization(const std::string& resourcesPath) {
    return std::make_unique<GettextLocalization>(resourcesPath);
}

}  // namespace platform::linux_desktop
