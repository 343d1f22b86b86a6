#include "GtkAlertPresenter.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "platform/Bundle.h"
#include "platform/Log.h"

namespace platform::linux_desktop {

namespace {

const Logger log{"me.ombrel.quillory.autopastehelper", "desktop"};

// The module ships in the bundle's Contents/Frameworks, beside
// Contents/MacOS; a program outside the bundle (a test) uses the one built.
std::string modulePath() {
    char executable[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length > 0) {
        std::error_code error;
        auto beside =
            std::filesystem::path(std::string(executable, static_cast<std::size_t>(length))).parent_path() /
            ".." / "Frameworks" / QUILLORY_GTK_ALERTS_MODULE_NAME;
        if (std::filesystem::exists(beside, error)) return beside.string();
    }
    return QUILLORY_GTK_ALERTS_MODULE_BUILT;
}

enum class Loading { untried, loaded, failed };
Loading loading = Loading::untried;
GtkDialogs* loadedDialogs = nullptr;

}  // namespace

GtkAlertPresenter::GtkAlertPresenter(GtkDialogs::ActivateWindow activateWindow)
    : activateWindow_(std::move(activateWindow)) {}

GtkDialogs* GtkAlertPresenter::dialogs() {
    // Once per process: GTK cannot be set up twice.
    if (loading != Loading::untried) return loadedDialogs;
    loading = Loading::failed;
    const std::string path = modulePath();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        log.error("Could not load the alert module: %{public}s", std::string(dlerror()));
        return nullptr;
    }
    auto entry = reinterpret_cast<GtkDialogsEntry>(dlsym(module, gtkDialogsEntryName));
    loadedDialogs = entry != nullptr ? entry() : nullptr;
    if (loadedDialogs != nullptr) loading = Loading::loaded;
    return loadedDialogs;
}

ModalResponse GtkAlertPresenter::runModal(const Alert& alert) {
    GtkDialogs* shown = isDisplayLost_ ? nullptr : dialogs();
    if (shown == nullptr || shown->isDisplayLost()) {
        log.error("Could not show the alert \"%{public}s\": there is no display.", alert.messageText());
        return abortedResponse;
    }
    if (!alert.buttons().empty()) return shown->runModal(alert, activateWindow_);
    // An alert given no button has one, as on macOS.
    Alert withButton = alert;
    withButton.addButton(localized("OK"));
    return shown->runModal(withButton, activateWindow_);
}

void GtkAlertPresenter::bringToFront() {
    if (loadedDialogs != nullptr && !isDisplayLost_) loadedDialogs->bringToFront(activateWindow_);
}

void GtkAlertPresenter::displayLost() {
    isDisplayLost_ = true;
    if (loadedDialogs != nullptr) loadedDialogs->abortAll();
}

}  // namespace platform::linux_desktop
