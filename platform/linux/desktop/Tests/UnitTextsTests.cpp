#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "InstallLocation.h"
#include "LinuxDesktop.h"
#include "PermissionPrompt.h"
#include "SetUpAlert.h"
#include "fake/FakePlatform.h"
#include "platform/Platform.h"

// glibc keeps looked-up translations; a change of LANGUAGE within a process
// takes effect once this counter moves.
extern "C" int _nl_msg_cat_cntr;

namespace {

// The catalogues, and a note of every text the helper looks up.
class RecordingLocalization : public platform::Localization {
public:
    explicit RecordingLocalization(platform::Localization& catalogues) : catalogues_(catalogues) {}
    std::string localizedString(const std::string& key) override {
        keys.insert(key);
        return catalogues_.localizedString(key);
    }
    std::set<std::string> keys;

private:
    platform::Localization& catalogues_;
};

}  // namespace

// Every alert the helper can show, shown by the helper's own code: each of
// their texts is in each catalogue.
TEST(UnitTexts, EveryTextOfEveryAlertIsTranslated) {
    for (const char* language : {"de", "fr"}) {
        setenv("LANGUAGE", language, 1);
        ++_nl_msg_cat_cntr;
        fake::FakePlatform desktop;
        auto catalogues = platform::linux_desktop::makeGettextLocalization(QUILLORY_TEST_RESOURCES);
        RecordingLocalization recording(*catalogues);
        platform::Services services = platform::installed();
        services.localization = &recording;
        platform::install(services);

        quillory::SetUpAlert::alreadyOn();
        quillory::SetUpAlert::turnedOff();
        quillory::SetUpAlert::failed();
        quillory::InstallLocation::explainAndQuit();
        quillory::PermissionPrompt().showIfDue();
        desktop.process.osVersion = {27, 0, 0};
        quillory::PermissionPrompt().showIfDue();
        desktop.runUntilIdle();

        ASSERT_EQ(desktop.alerts.shown.size(), 6u) << language;
        EXPECT_GE(recording.keys.size(), 17u) << language;
        for (const std::string& key : recording.keys) {
            if (key == "OK") continue;  // the same word in both languages
            EXPECT_NE(catalogues->localizedString(key), key) << language << " lacks: " << key;
        }
    }
    unsetenv("LANGUAGE");
    ++_nl_msg_cat_cntr;
}
