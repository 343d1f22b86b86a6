#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::linux_desktop {

// The keys that paste the clipboard into an application. On a Mac ⌘V is
// universal; on Linux terminal emulators take Control+V as a literal
// character and paste with Control+Shift+V.
enum class PasteShortcut { controlV, controlShiftV, shiftInsert };

// As written in the override file: "ctrl+v", "ctrl+shift+v", "shift+insert".
std::string_view nameOf(PasteShortcut shortcut);
// Case and surrounding blanks do not matter; none for anything else.
std::optional<PasteShortcut> pasteShortcutNamed(std::string_view name);

// A paste shortcut chosen for an application, and why.
struct PasteShortcutChoice {
    enum class Reason { usual, terminal, userOverride };

    PasteShortcut shortcut = PasteShortcut::controlV;
    std::string application;  // its id, else its window class, else "unknown"
    Reason reason = Reason::usual;
};

// Says which shortcut goes to which application: once the keys are on
// their way, so that the log does not hold them up.
void logPasteShortcut(const PasteShortcutChoice& choice);

// Chooses the paste shortcut of the window that receives the keys, from its
// application id (the GTK application id or the Wayland app_id) and window
// class. Any desktop can ask it. Main thread only: the answers are cached
// per application and dropped when the installed applications change,
// which GLib reports on the main context.
class PasteShortcuts {
public:
    // The user's overrides are read from `overrideFile`, by default
    // defaultOverrideFile(); the file may come, change or go at any time.
    explicit PasteShortcuts(std::string overrideFile = defaultOverrideFile());
    ~PasteShortcuts();
    PasteShortcuts(const PasteShortcuts&) = delete;
    PasteShortcuts& operator=(const PasteShortcuts&) = delete;

    // The user's override if there is one, else Control+Shift+V for a
    // terminal emulator, else Control+V.
    PasteShortcutChoice choose(const std::optional<std::string>& applicationId,
                               const std::optional<std::string>& windowClass);

    // $XDG_CONFIG_HOME/quillory-helper/paste-shortcuts.conf
    static std::string defaultOverrideFile();
    // The group of the override file that holds the entries.
    static constexpr const char* overrideGroup = "Paste Shortcuts";

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform::linux_desktop
