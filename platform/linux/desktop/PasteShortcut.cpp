#include "PasteShortcut.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Log.h"

namespace platform::linux_desktop {

namespace {

const Logger log{"me.ombrel.quillory.autopastehelper", "desktop"};

constexpr std::string_view terminalCategory = "TerminalEmulator";
constexpr std::string_view desktopSuffix = ".desktop";

std::string lowercase(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool listsTerminalEmulator(GDesktopAppInfo* info) {
    const char* categories = g_desktop_app_info_get_categories(info);
    std::string_view rest = categories != nullptr ? categories : "";
    while (!rest.empty()) {
        const auto end = rest.find(';');
        if (rest.substr(0, end) == terminalCategory) return true;
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return false;
}

// A line of a file, for messages: its number (from 1) and text.
struct Line {
    int number = 0;
    std::string text;
};

// The first line that `matches`, given the line and the group it stands in.
template <typename Predicate>
std::optional<Line> findLine(std::string_view contents, Predicate matches) {
    std::string_view group;
    int number = 0;
    while (!contents.empty()) {
        const auto end = contents.find('\n');
        const std::string_view line = contents.substr(0, end);
        ++number;
        const std::string_view text = trimmed(line);
        const bool isGroup = text.size() >= 2 && text.front() == '[' && text.back() == ']';
        if (matches(text, group, isGroup)) return Line{number, std::string(text)};
        if (isGroup) group = text.substr(1, text.size() - 2);
        if (end == std::string_view::npos) break;
        contents.remove_prefix(end + 1);
    }
    return std::nullopt;
}

// Which version of a file was read: another one means it changed.
struct FileVersion {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;

    static FileVersion of(const std::string& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) return {};
        auto ns = [](const timespec& time) {
            return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
        };
        return {true, info.st_dev, info.st_ino, info.st_size, ns(info.st_mtim), ns(info.st_ctim)};
    }
    bool operator==(const FileVersion&) const = default;
};

// The user's overrides, read again whenever the file changes: one stat per
// paste, and each problem of a version of the file logged once.
class Overrides {
public:
    explicit Overrides(std::string path) : path_(std::move(path)) {}

    // Names compare without regard to case: the application id first.
    std::optional<PasteShortcut> find(const std::optional<std::string>& applicationId,
                                      const std::optional<std::string>& windowClass) {
        refresh();
        for (const auto* name : {&applicationId, &windowClass}) {
            if (!*name) continue;
            const auto entry = entries_.find(lowercase(**name));
            if (entry != entries_.end()) return entry->second;
        }
        return std::nullopt;
    }

private:
    void refresh() {
        const FileVersion now = FileVersion::of(path_);
        if (version_ && *version_ == now) return;
        version_ = now;
        entries_.clear();
        if (now.exists) read();
    }

    void read() {
        gchar* data = nullptr;
        gsize length = 0;
        g_autoptr(GError) error = nullptr;
        if (!g_file_get_contents(path_.c_str(), &data, &length, &error)) {
            log.error("Could not read the paste shortcuts in %{public}s: %{public}s", path_, error->message);
            return;
        }
        g_autofree gchar* owned = data;
        const std::string_view contents(data, length);
        g_autoptr(GKeyFile) file = g_key_file_new();
        if (!g_key_file_load_from_data(file, data, length, G_KEY_FILE_NONE, &error)) {
            // GKeyFile does not say where: the first line that is neither
            // blank, a comment, a group nor an entry of a group.
            const auto line =
                findLine(contents, [](std::string_view text, std::string_view group, bool isGroup) {
                    if (text.empty() || text.front() == '#' || isGroup) return false;
                    return group.empty() || text.find('=') == std::string_view::npos;
                });
            if (line) {
                log.error("Ignoring the paste shortcuts in %{public}s: line %d “%{public}s”: %{public}s",
                          path_, line->number, line->text, error->message);
            } else {
                log.error("Ignoring the paste shortcuts in %{public}s: %{public}s", path_, error->message);
            }
            return;
        }
        gsize groupCount = 0;
        g_auto(GStrv) groups = g_key_file_get_groups(file, &groupCount);
        for (gsize i = 0; i < groupCount; ++i) {
            const std::string_view group = groups[i];
            if (group == PasteShortcuts::overrideGroup) {
                readEntries(file, contents);
                continue;
            }
            const auto line =
                findLine(contents, [group](std::string_view text, std::string_view, bool isGroup) {
                    return isGroup && text.substr(1, text.size() - 2) == group;
                });
            log.error(
                "Ignoring line %d of %{public}s, “%{public}s”: the paste shortcuts go in the group "
                "[%{public}s].",
                line ? line->number : 0, path_, line ? line->text : std::string(group),
                PasteShortcuts::overrideGroup);
        }
    }

    void readEntries(GKeyFile* file, std::string_view contents) {
        gsize keyCount = 0;
        g_auto(GStrv) keys = g_key_file_get_keys(file, PasteShortcuts::overrideGroup, &keyCount, nullptr);
        for (gsize i = 0; i < keyCount; ++i) {
            const std::string_view key = keys[i];
            g_autofree gchar* value =
                g_key_file_get_value(file, PasteShortcuts::overrideGroup, keys[i], nullptr);
            const auto shortcut = pasteShortcutNamed(value != nullptr ? value : "");
            if (shortcut) {
                // Of two spellings of one name (XTerm, xterm) the first counts.
                entries_.emplace(lowercase(key), *shortcut);
                continue;
            }
            const auto line = findLine(contents, [key](std::string_view text, std::string_view group, bool) {
                const auto equals = text.find('=');
                return group == PasteShortcuts::overrideGroup && equals != std::string_view::npos &&
                       trimmed(text.substr(0, equals)) == key;
            });
            log.error(
                "Ignoring line %d of %{public}s, “%{public}s”: the paste shortcut is ctrl+v, ctrl+shift+v "
                "or shift+insert.",
                line ? line->number : 0, path_,
                line ? line->text : std::string(key) + "=" + (value != nullptr ? value : ""));
        }
    }

    std::string path_;
    std::optional<FileVersion> version_;  // none until first read
    std::unordered_map<std::string, PasteShortcut> entries_;
};

// What the installed desktop entries say of applications that have no
// entry by their id: by StartupWMClass, and by the entry's name (its id
// without ".desktop", in lower case). The first entry of a name counts, as
// the first folder of the search path does.
struct EntryIndex {
    std::unordered_map<std::string, bool> byStartupWmClass;
    std::unordered_map<std::string, bool> byLowercaseName;

    static EntryIndex read() {
        EntryIndex index;
        GList* all = g_app_info_get_all();
        for (GList* item = all; item != nullptr; item = item->next) {
            if (!G_IS_DESKTOP_APP_INFO(item->data)) continue;
            auto* info = G_DESKTOP_APP_INFO(item->data);
            const bool isTerminal = listsTerminalEmulator(info);
            if (const char* wmClass = g_desktop_app_info_get_startup_wm_class(info))
                index.byStartupWmClass.emplace(wmClass, isTerminal);
            std::string_view id =
                g_app_info_get_id(G_APP_INFO(info)) ? g_app_info_get_id(G_APP_INFO(info)) : "";
            if (id.ends_with(desktopSuffix)) id.remove_suffix(desktopSuffix.size());
            if (!id.empty()) index.byLowercaseName.emplace(lowercase(id), isTerminal);
        }
        g_list_free_full(all, g_object_unref);
        return index;
    }
};

}  // namespace

std::string_view nameOf(PasteShortcut shortcut) {
    switch (shortcut) {
        case PasteShortcut::controlShiftV:
            return "ctrl+shift+v";
        case PasteShortcut::shiftInsert:
            return "shift+insert";
        case PasteShortcut::controlV:
            break;
    }
    return "ctrl+v";
}

std::optional<PasteShortcut> pasteShortcutNamed(std::string_view name) {
    const std::string key = lowercase(trimmed(name));
    for (const auto shortcut :
         {PasteShortcut::controlV, PasteShortcut::controlShiftV, PasteShortcut::shiftInsert}) {
        if (key == nameOf(shortcut)) return shortcut;
    }
    return std::nullopt;
}

void logPasteShortcut(const PasteShortcutChoice& choice) {
    switch (choice.reason) {
        case PasteShortcutChoice::Reason::userOverride:
            log.info("Pasting with %{public}s into %{public}s, as the user's paste shortcuts say.",
                     nameOf(choice.shortcut), choice.application);
            return;
        case PasteShortcutChoice::Reason::terminal:
            log.info("Pasting with %{public}s into %{public}s, a terminal.", nameOf(choice.shortcut),
                     choice.application);
            return;
        case PasteShortcutChoice::Reason::usual:
            break;
    }
    log.info("Pasting with %{public}s into %{public}s.", nameOf(choice.shortcut), choice.application);
}

struct PasteShortcuts::State {
    explicit State(std::string overrideFile) : overrides(std::move(overrideFile)) {
        // Told on this thread's main context, the agent's main loop.
        monitor = g_app_info_monitor_get();
        changedHandler = g_signal_connect(
            monitor, "changed",
            G_CALLBACK(+[](GAppInfoMonitor*, gpointer data) { static_cast<State*>(data)->forget(); }), this);
    }
    ~State() {
        g_signal_handler_disconnect(monitor, changedHandler);
        g_object_unref(monitor);
    }

    void forget() {
        isTerminal.clear();
        index.reset();
    }

    bool looksUpTerminal(const std::optional<std::string>& applicationId,
                         const std::optional<std::string>& windowClass) {
        // GLib keeps an index of the entries by id: no file but this one is read.
        if (applicationId && !applicationId->empty()) {
            const std::string id = *applicationId + std::string(desktopSuffix);
            g_autoptr(GDesktopAppInfo) info = g_desktop_app_info_new(id.c_str());
            if (info != nullptr) return listsTerminalEmulator(info);
        }
        if (!windowClass || windowClass->empty()) return false;
        // Every entry is read, once until the applications change.
        if (!index) index = EntryIndex::read();
        if (const auto found = index->byStartupWmClass.find(*windowClass);
            found != index->byStartupWmClass.end())
            return found->second;
        if (const auto found = index->byLowercaseName.find(lowercase(*windowClass));
            found != index->byLowercaseName.end())
            return found->second;
        return false;
    }

    Overrides overrides;
    GAppInfoMonitor* monitor = nullptr;
    gulong changedHandler = 0;
    // By application id and window class.
    std::map<std::pair<std::optional<std::string>, std::optional<std::string>>, bool> isTerminal;
    std::optional<EntryIndex> index;
};

PasteShortcuts::PasteShortcuts(std::string overrideFile)
    : state_(std::make_unique<State>(std::move(overrideFile))) {}

PasteShortcuts::~PasteShortcuts() = default;

PasteShortcutChoice PasteShortcuts::choose(const std::optional<std::string>& applicationId,
                                           const std::optional<std::string>& windowClass) {
    PasteShortcutChoice choice;
    choice.application = applicationId.value_or(windowClass.value_or("unknown"));
    if (const auto chosen = state_->overrides.find(applicationId, windowClass)) {
        choice.shortcut = *chosen;
        choice.reason = PasteShortcutChoice::Reason::userOverride;
        return choice;
    }
    auto cached = state_->isTerminal.find({applicationId, windowClass});
    if (cached == state_->isTerminal.end())
        cached = state_->isTerminal
                     .emplace(std::pair{applicationId, windowClass},
                              state_->looksUpTerminal(applicationId, windowClass))
                     .first;
    if (cached->second) {
        choice.shortcut = PasteShortcut::controlShiftV;
        choice.reason = PasteShortcutChoice::Reason::terminal;
    }
    return choice;
}

std::string PasteShortcuts::defaultOverrideFile() {
    g_autofree gchar* path =
        g_build_filename(g_get_user_config_dir(), "quillory-helper", "paste-shortcuts.conf", nullptr);
    return path;
}

}  // namespace platform::linux_desktop
