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

const std::string failedText =
    "Move it to the Trash, download it again from ombrel.me, and open it from the Applications folder.";

}  // namespace

TEST_F(LocalizationTest, TheBundleCataloguesSpeakGermanAndFrench) {
    speak("de");
    EXPECT_EQ(text("Quillory Helper is on"), "Quillory Helper ist eingeschaltet");
    EXPECT_EQ(text("Open Login Items"), "Anmeldeobjekte öffnen");
    EXPECT_EQ(
        text(failedText),
        "Lege es in den Papierkorb, lade es erneut von ombrel.me und öffne es aus dem Ordner „Programme“.");
    EXPECT_EQ(text("Quillory Helper needs permission to press ⌘V"),
              "Quillory Helper benötigt die Erlaubnis, ⌘V zu drücken");

    speak("fr");
    EXPECT_EQ(text("Cancel"), "Annuler");
    EXPECT_EQ(text("Quillory Helper is turned off"), "Quillory Helper est désactivé");

    // A preference list falls through to the first language that has a catalogue.
    speak("ja:fr:de");
    EXPECT_EQ(text("Quit"), "Quitter");
}

TEST_F(LocalizationTest, EnglishIsTheFallback) {
    speak("ja");
    EXPECT_EQ(text("Quillory Helper is on"), "Quillory Helper is on");
    speak("de");
    EXPECT_EQ(text("A text no catalogue has"), "A text no catalogue has");
    // The empty message id names a catalogue's header, which is no text.
    EXPECT_EQ(text(""), "");

    auto elsewhere = platform::linux_desktop::makeGettextLocalization("/nonexistent");
    EXPECT_EQ(elsewhere->localizedString("Quit"), "Quit");
}
