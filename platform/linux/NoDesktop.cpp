// Stand-in for the X11 desktop until it is built: no display, English text.

#include "LinuxDesktop.h"

namespace platform::linux_desktop {

namespace {

class EnglishOnly : public Localization {
public:
    std::string localizedString(const std::string& key) override { return key; }
};

}  // namespace

std::unique_ptr<Desktop> openX11Desktop() { return nullptr; }

std::unique_ptr<Localization> makeGettextLocalization(const std::string&) {
    return std::make_unique<EnglishOnly>();
}

}  // namespace platform::linux_desktop
