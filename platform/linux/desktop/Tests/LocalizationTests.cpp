#include <gtest/gtest.h>

#include <cstdlib>

#include "LinuxDesktop.h"

// glibc keeps looked-up translations; a change of LANGUAGE within a process
// takes effect once this counter moves.
extern "C" int _nl_msg_cat_cntr;

namespace {

class LocalizationTest : public testing::Test {
protected:
    void SetUp() override {
        localization = platform::linux_desktop::makeGettextLocalization(QUILLORY_TEST_RESOURCES);
    }
    void TearDown() override { speak(nullptr); }

    static void speak(const char* language) {
        if (language != nullptr) {
            setenv("LANGUAGE", language, 1);
        } else {
            unsetenv("LANGUAGE");
        }
        ++_nl_msg_cat_cntr;
    }
    std::string text(const std::string& english) { return localization->localizedString(english); }

    std::unique_ptr<platform::Localization> localization;
};

}  // namespace

// German texts themselves are read from these catalogues in GtkAlertTests
// and the German desktop session; here, which catalogue answers.
TEST_F(LocalizationTest, TheFirstLanguageWithACatalogueAnswersElseEnglish) {
    speak("ja:fr:de");
    EXPECT_EQ(text("Quit"), "Quitter");
    speak("ja");
    EXPECT_EQ(text("Quillory Helper is on"), "Quillory Helper is on");
    speak("de");
    EXPECT_EQ(text("Open Login Items"), "Anmeldeobjekte öffnen");
    EXPECT_EQ(text("A text no catalogue has"), "A text no catalogue has");
    // The empty message id names a catalogue's header, which is no text.
    EXPECT_EQ(text(""), "");

    auto elsewhere = platform::linux_desktop::makeGettextLocalization("/nonexistent");
    EXPECT_EQ(elsewhere->localizedString("Quit"), "Quit");
}
