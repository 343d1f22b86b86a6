// The choice of the paste shortcut, with desktop entries written into a
// temporary XDG_DATA_HOME (and an empty XDG_DATA_DIRS): set before GLib
// reads them, at the start of the program.

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "DesktopTestSupport.h"
#include "PasteShortcut.h"

using platform::linux_desktop::PasteShortcut;
using platform::linux_desktop::PasteShortcuts;

namespace {

std::string dataHome;
std::string configHome;

bool writeFile(const std::string& path, const std::string& text) {
    const bool written =
        g_file_set_contents(path.c_str(), text.c_str(), static_cast<gssize>(text.size()), nullptr);
    EXPECT_TRUE(written) << path;
    return written;
}

// A desktop entry of the user's applications; its categories as written.
bool install(const std::string& name, const std::string& categories, const std::string& extra = "") {
    return writeFile(dataHome + "/applications/" + name + ".desktop",
                     "[Desktop Entry]\nType=Application\nName=" + name +
                         "\nExec=true\nCategories=" + categories + "\n" + extra);
}

class PasteShortcutTest : public testing::Test {
protected:
    void TearDown() override { g_remove(overrideFile.c_str()); }

    // Chosen and logged, as a paste does.
    PasteShortcut shortcutFor(std::optional<std::string> applicationId,
                              std::optional<std::string> windowClass) {
        const auto choice = shortcuts.choose(applicationId, windowClass);
        platform::linux_desktop::logPasteShortcut(choice);
        return choice.shortcut;
    }
    int logged(const std::string& text) const {
        return static_cast<int>(
            std::count_if(platform.logLines.begin(), platform.logLines.end(),
                          [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }

    desktop_test::GLibPlatform platform;
    const std::string overrideFile = configHome + "/paste-shortcuts.conf";
    PasteShortcuts shortcuts{overrideFile};
};

}  // namespace

// The applications installed before the agent starts.
bool installApplications() {
    return install("org.example.Console", "System;TerminalEmulator;") &&
           install("org.example.Editor", "Utility;TextEditor;", "StartupWMClass=Retro\n") &&
           install("retro-term", "System;TerminalEmulator;", "StartupWMClass=RetroTerm\n") &&
           install("Fancy-Term", "GTK;TerminalEmulator") && install("fancy-notes", "GTK;Office;") &&
           // "TerminalEmulator" is a category of its own, not a part of one.
           install("org.example.Emulators", "Game;TerminalEmulators;Emulator;") &&
           install("org.example.Shell", "System;TerminalEmulator;") &&
           install("oldterm", "System;TerminalEmulator;") && install("newterm", "System;TerminalEmulator;");
}

TEST_F(PasteShortcutTest, ATerminalFoundByItsIdItsStartupWmClassOrItsFileNameGetsControlShiftV) {
    EXPECT_EQ(shortcutFor("org.example.Console", "Whatever"), PasteShortcut::controlShiftV);
    // The entry of the id decides, even where the class names a terminal.
    EXPECT_EQ(shortcutFor("org.example.Editor", "Fancy-Term"), PasteShortcut::controlV);
    EXPECT_EQ(shortcutFor(std::nullopt, "RetroTerm"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcutFor(std::nullopt, "Retro"), PasteShortcut::controlV) << "the editor's class";
    // An id without an entry leaves it to the class; the file name without regard to case.
    EXPECT_EQ(shortcutFor("org.example.Unknown", "FANCY-TERM"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcutFor(std::nullopt, "fancy-term"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcutFor(std::nullopt, "Fancy-Notes"), PasteShortcut::controlV);
    EXPECT_EQ(shortcutFor("org.example.Emulators", std::nullopt), PasteShortcut::controlV);
    EXPECT_EQ(shortcutFor(std::nullopt, "Unknown"), PasteShortcut::controlV);
    EXPECT_EQ(shortcutFor(std::nullopt, std::nullopt), PasteShortcut::controlV);

    // The log says which shortcut went to which application.
    EXPECT_EQ(logged("Pasting with ctrl+shift+v into org.example.Console, a terminal."), 1);
    EXPECT_EQ(logged("Pasting with ctrl+shift+v into RetroTerm, a terminal."), 1);
    EXPECT_EQ(logged("Pasting with ctrl+v into org.example.Editor."), 1);
    EXPECT_EQ(logged("Pasting with ctrl+v into unknown."), 1);
}

TEST_F(PasteShortcutTest, ApplicationsInstalledOrRemovedLaterAreSeenOnceTheApplicationsChange) {
    EXPECT_EQ(shortcutFor(std::nullopt, "LateTerm"), PasteShortcut::controlV);
    install("lateterm", "TerminalEmulator;");
    EXPECT_TRUE(desktop_test::runUntil(
        [&] { return shortcutFor(std::nullopt, "LateTerm") == PasteShortcut::controlShiftV; }));
    EXPECT_EQ(shortcutFor("org.example.LateConsole", std::nullopt), PasteShortcut::controlV);
    install("org.example.LateConsole", "TerminalEmulator;");
    EXPECT_TRUE(desktop_test::runUntil([&] {
        return shortcutFor("org.example.LateConsole", std::nullopt) == PasteShortcut::controlShiftV;
    }));
    g_remove((dataHome + "/applications/lateterm.desktop").c_str());
    EXPECT_TRUE(desktop_test::runUntil(
        [&] { return shortcutFor(std::nullopt, "LateTerm") == PasteShortcut::controlV; }));
}

TEST_F(PasteShortcutTest, TheUsersOverridesComeFirstAndFollowTheFile) {
    writeFile(overrideFile,
              "# Paste shortcuts of applications that differ\n"
              "[Paste Shortcuts]\n"
              "org.example.Shell=ctrl+v\n"
              "xterm=shift+insert\n"
              "  Some-Editor = CTRL+Shift+V \n");
    EXPECT_EQ(shortcutFor("org.example.Shell", "Shell"), PasteShortcut::controlV);
    EXPECT_EQ(shortcutFor(std::nullopt, "XTerm"), PasteShortcut::shiftInsert)
        << "a class, without regard to case";
    EXPECT_EQ(shortcutFor("org.example.Other", "Some-Editor"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcutFor(std::nullopt, "oldterm"), PasteShortcut::controlShiftV)
        << "no entry: the desktop entry";
    EXPECT_EQ(logged("Pasting with shift+insert into XTerm, as the user's paste shortcuts say."), 1);

    // Changed or removed while the agent runs: the next paste follows.
    writeFile(overrideFile, "[Paste Shortcuts]\noldterm=ctrl+v\n");
    EXPECT_EQ(shortcutFor(std::nullopt, "XTerm"), PasteShortcut::controlV);
    EXPECT_EQ(shortcutFor(std::nullopt, "oldterm"), PasteShortcut::controlV);
    g_remove(overrideFile.c_str());
    EXPECT_EQ(shortcutFor(std::nullopt, "oldterm"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcutFor("org.example.Shell", std::nullopt), PasteShortcut::controlShiftV);
    EXPECT_EQ(platform.logLines.end(),
              std::find_if(platform.logLines.begin(), platform.logLines.end(), [](const std::string& line) {
                  return line.find("Ignoring") != std::string::npos;
              }));
}

TEST_F(PasteShortcutTest, AMalformedFileOrEntryIsLoggedOnceWithItsLineAndIgnored) {
    // Not a key file: nothing of it counts.
    writeFile(overrideFile, "[Paste Shortcuts]\nnewterm=ctrl+v\nxterm shift+insert\n");
    for (int paste = 0; paste < 2; ++paste) {
        EXPECT_EQ(shortcutFor(std::nullopt, "newterm"), PasteShortcut::controlShiftV);
        EXPECT_EQ(shortcutFor(std::nullopt, "XTerm"), PasteShortcut::controlV);
    }
    EXPECT_EQ(logged("Ignoring the paste shortcuts in " + overrideFile + ": line 3 “xterm shift+insert”"), 1);

    // A key file with an unknown shortcut and a group of its own: the rest counts.
    writeFile(overrideFile,
              "[Paste Shortcuts]\n"
              "newterm=ctrl+v\n"
              "xterm=ctrl+alt+v\n"
              "[Paste shortcuts]\n"
              "foot=shift+insert\n");
    for (int paste = 0; paste < 2; ++paste) {
        EXPECT_EQ(shortcutFor(std::nullopt, "newterm"), PasteShortcut::controlV);
        EXPECT_EQ(shortcutFor(std::nullopt, "XTerm"), PasteShortcut::controlV);
        EXPECT_EQ(shortcutFor("foot", std::nullopt), PasteShortcut::controlV);
    }
    EXPECT_EQ(logged("Ignoring line 3 of " + overrideFile +
                     ", “xterm=ctrl+alt+v”: the paste shortcut is ctrl+v, ctrl+shift+v or shift+insert."),
              1);
    EXPECT_EQ(logged("Ignoring line 4 of " + overrideFile +
                     ", “[Paste shortcuts]”: the paste shortcuts go in the group [Paste Shortcuts]."),
              1);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_autofree gchar* folder = g_dir_make_tmp("quillory-paste-shortcuts-XXXXXX", nullptr);
    if (folder == nullptr) return 1;
    dataHome = std::string(folder) + "/data";
    configHome = std::string(folder) + "/config";
    const std::string systemData = std::string(folder) + "/system";
    // The applications folder is there from the start, as in a user's
    // session: GLib watches it once it has read it.
    for (const auto& path : {dataHome + "/applications", configHome, systemData})
        g_mkdir_with_parents(path.c_str(), 0700);
    g_setenv("XDG_DATA_HOME", dataHome.c_str(), TRUE);
    g_setenv("XDG_DATA_DIRS", systemData.c_str(), TRUE);
    g_setenv("XDG_CONFIG_HOME", configHome.c_str(), TRUE);
    if (!installApplications()) return 1;
    const int result = RUN_ALL_TESTS();
    desktop_test::run({"rm", "-rf", folder});
    return result;
}
