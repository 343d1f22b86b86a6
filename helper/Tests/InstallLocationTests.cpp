#include <gtest/gtest.h>

#include "HelperTestSupport.h"
#include "InstallLocation.h"

namespace quillory {
namespace {

class InstallLocationStory : public testing::HelperStory {
protected:
    bool insideWhenAt(const std::string& bundlePath) {
        desktop.bundle.path = bundlePath;
        return InstallLocation::isInApplicationsFolder();
    }
};

TEST_F(InstallLocationStory, OnlyApplicationsFoldersCountAfterLinksAreResolved) {
    EXPECT_TRUE(insideWhenAt("/Applications/Quillory Helper.app"));
    EXPECT_TRUE(insideWhenAt("/Applications/Utilities/Quillory Helper.app"));
    EXPECT_TRUE(insideWhenAt("/Users/ada/Applications/Quillory Helper.app"));
    desktop.files.addSymlink("/Users/ada/Desktop/Helper.app", "/Applications/Quillory Helper.app");
    EXPECT_TRUE(insideWhenAt("/Users/ada/Desktop/Helper.app"));

    EXPECT_FALSE(insideWhenAt("/Users/ada/Downloads/Quillory Helper.app"));
    EXPECT_FALSE(insideWhenAt("/Volumes/Quillory Helper/Quillory Helper.app"));
    EXPECT_FALSE(insideWhenAt("/Applications Old/Quillory Helper.app"));
    EXPECT_FALSE(insideWhenAt("/applications/Quillory Helper.app"));
    EXPECT_FALSE(insideWhenAt("/Users/ada/applications/Quillory Helper.app"));
    EXPECT_FALSE(insideWhenAt("/Users/bob/Applications/Quillory Helper.app"));
    // A link in /Applications that leads elsewhere is judged by where it leads.
    desktop.files.addSymlink("/Applications/Linked.app", "/Users/ada/Downloads/Quillory Helper.app");
    EXPECT_FALSE(insideWhenAt("/Applications/Linked.app"));

    // The home Applications folder counts when the home path runs through a link.
    desktop.files.home = "/home/ada/";
    desktop.files.addSymlink("/home", "/usr/home");
    EXPECT_TRUE(insideWhenAt("/home/ada/Applications/Quillory Helper.app"));
}

TEST(InstallLocation, ExplainsInOneLocalizedAlertAndTerminatesWhateverClosesIt) {
    fake::FakePlatform desktop;
    desktop.localization.translations = {
        {"Move Quillory Helper to Applications", "Quillory Helper in Programme bewegen"},
        {"Drag Quillory Helper into the Applications folder, then open it from there.",
         "Ziehen Sie Quillory Helper in den Ordner Programme und öffnen Sie es dort."},
        {"Quit", "Beenden"},
    };
    desktop.alerts.answerNext({-1001 /* aborted, not the button */, 4.5});
    InstallLocation::explainAndQuit();

    EXPECT_EQ(desktop.application.activations, std::vector<fake::Nanos>{fake::Nanos(0)});
    ASSERT_EQ(desktop.alerts.shown.size(), 1u);
    const auto& alert = desktop.alerts.shown[0];
    EXPECT_EQ(alert.messageText, "Quillory Helper in Programme bewegen");
    EXPECT_EQ(alert.informativeText,
              "Ziehen Sie Quillory Helper in den Ordner Programme und öffnen Sie es dort.");
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"Beenden"});
    EXPECT_EQ(desktop.application.terminatedAt(), fake::seconds(4.5));
}

}  // namespace
}  // namespace quillory
