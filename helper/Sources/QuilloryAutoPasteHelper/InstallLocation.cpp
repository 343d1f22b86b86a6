#include "InstallLocation.h"

#include <string>
#include <string_view>

#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/FileManager.h"

namespace quillory::InstallLocation {

namespace {

// The slash after the name keeps "/Applications Old" and the like outside.
constexpr std::string_view applicationsFolderPrefix = "/Applications/";

}  // namespace

bool isInApplicationsFolder() {
    auto& files = platform::FileManager::shared();
    const std::string bundle = files.resolvingSymlinksInPath(platform::Bundle::main().bundlePath());
    if (bundle.starts_with(applicationsFolderPrefix)) return true;
    // The home folder is resolved like the bundle: a bundle in ~/Applications
    // must not look foreign just because the home path runs through a link.
    const std::string home = files.resolvingSymlinksInPath(files.homeDirectoryForCurrentUser());
    return bundle.starts_with(home + std::string(applicationsFolderPrefix));
}

void explainAndQuit() {
    auto& application = platform::Application::shared();
    application.activate();
    platform::Alert alert;
    alert.setMessageText(platform::localized("Move Quillory Helper to Applications"));
    alert.setInformativeText(
        platform::localized("Drag Quillory Helper into the Applications folder, then open it from there."));
    alert.addButton(platform::localized("Quit"));
    alert.runModal();
    application.terminate();
}

}  // namespace quillory::InstallLocation
