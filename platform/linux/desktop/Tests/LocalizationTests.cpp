#include <gtest/gtest.h>

#include <cstdlib>

#include "LinuxDesktop.h"

// glibc keeps looked-up translations; a change of LANGUAGE within a process
// takes effect once this counter moves.
extern "C" int _nl_msg_cat_cntr;

// German texts themselves are read from these catalogues in UnitTextsTests
// and the German desktop session; here, which catalogue answers.
TEST(Localization, TheFirstLanguageWithACatalogueAnswersElseEnglish) {
    auto localization = platform::linux_desktop::makeGettextLocalization(QUILLORY_TEST_RESOURCES);
    auto in = [&](const char* language, const std::string& english) {
        setenv("LANGUAGE", language, 1);
        ++_nl_msg_cat_cntr;
        return localization->localizedString(english);
    };
    EXPECT_EQ(in("ja:fr:de", "Quit"), "Quitter");
    EXPECT_EQ(in("ja", "Quillory Helper is on"), "Quillory Helper is on");
    EXPECT_EQ(in("de", "Open Login Items"), "Anmeldeobjekte öffnen");
    EXPECT_EQ(in("de", "A text no catalogue has"), "A text no catalogue has");
    // The empty message id names a catalogue's header, which is no text.
    EXPECT_EQ(in("de", ""), "");
    EXPECT_EQ(platform::linux_desktop::makeGettextLocalization("/nonexistent")->localizedString("Quit"),
              "Quit");
    unsetenv("LANGUAGE");
    ++_nl_msg_cat_cntr;
}
