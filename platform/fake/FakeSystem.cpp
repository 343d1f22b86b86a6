#include "fake/FakeSystem.h"

#include <algorithm>
#include <tuple>

namespace fake {

namespace {

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = path.find('/', start);
        const auto part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty() && part != ".") {
            if (part == "..") {
                if (!parts.empty()) parts.pop_back();
            } else {
                parts.push_back(part);
            }
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) path += "/" + parts[i];
    return path.empty() ? "/" : path;
}

}  // namespace

bool FakeProcessInfo::isOperatingSystemAtLeast(platform::OperatingSystemVersion version) {
    return std::tie(osVersion.majorVersion, osVersion.minorVersion, osVersion.patchVersion) >=
           std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}

void FakeFiles::addFile(const std::string& path, std::uint64_t fileNumber, platform::Date modified) {
    entries_[path] = Entry{false, std::nullopt, platform::FileAttributes{fileNumber, modified}};
}

void FakeFiles::addFolder(const std::string& path) {
    entries_[path] = Entry{true, std::nullopt, platform::FileAttributes{entries_.size() + 100, {}}};
}

void FakeFiles::addSymlink(const std::string& path, const std::string& target) {
    entries_[path] = Entry{false, target, platform::FileAttributes{entries_.size() + 100, {}}};
}

void FakeFiles::replaceFile(const std::string& path, std::uint64_t fileNumber, platform::Date modified) {
    addFile(path, fileNumber, modified);
}

// Resolves every link in the path; none when a component does not exist.
std::optional<std::string> FakeFiles::resolve(const std::string& path, int depth) const {
    if (depth > 16) return std::nullopt;
    const auto parts = components(path);
    std::string current = "/";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string next = current == "/" ? "/" + parts[i] : current + "/" + parts[i];
        const auto found = entries_.find(next);
        if (found != entries_.end() && found->second.linkTarget) {
            const std::string& target = *found->second.linkTarget;
            std::string rest = target.front() == '/' ? target : current + "/" + target;
            for (std::size_t j = i + 1; j < parts.size(); ++j) rest += "/" + parts[j];
            return resolve(rest, depth + 1);
        }
        current = next;
    }
    return join(parts, parts.size());
}

std::optional<platform::FileAttributes> FakeFiles::attributesOfItem(const std::string& path,
                                                                    platform::Error* error) {
    const auto found = entries_.find(path);
    if (found == entries_.end()) {
        if (error) *error = platform::Error{"The file couldn’t be opened because there is no such file."};
        return std::nullopt;
    }
    return found->second.attributes;
}

bool FakeFiles::fileExists(const std::string& path) {
    const auto resolved = resolve(path);
    if (!resolved) return false;
    if (entries_.contains(*resolved)) return true;
    const std::string prefix = *resolved + "/";
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const auto& entry) { return entry.first.starts_with(prefix); });
}

bool FakeFiles::removeItem(const std::string& path, platform::Error* error) {
    const auto failure = removalFailures.find(path);
    if (failure != removalFailures.end()) {
        if (error) *error = platform::Error{failure->second};
        return false;
    }
    const std::string prefix = path + "/";
    bool any = false;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->first == path || it->first.starts_with(prefix)) {
            it = entries_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    if (!any) {
        if (error) *error = platform::Error{"The file couldn’t be removed because there is no such file."};
        return false;
    }
    removed.push_back(path);
    return true;
}

std::string FakeFiles::resolvingSymlinksInPath(const std::string& path) {
    if (onResolve) onResolve(path);
    const auto resolved = resolve(path);
    if (resolved) return *resolved;
    const auto parts = components(path);
    return join(parts, parts.size());
}

namespace {

class FakeEventSource : public platform::EventSource {
public:
    explicit FakeEventSource(platform::EventSourceStateID state) : state(state) {}
    platform::EventSourceStateID state;
};

class FakeKeyEvent : public platform::KeyboardEvent {
public:
    FakeKeyEvent(platform::VirtualKeyCode keyCode, bool keyDown, platform::EventSourceStateID state)
        : keyCode(keyCode), keyDown(keyDown), state(state) {}
    platform::VirtualKeyCode keyCode;
    bool keyDown;
    platform::EventSourceStateID state;
    platform::EventFlags flags = 0;
};

}  // namespace

std::shared_ptr<platform::EventSource> FakeKeyboardEvents::createSource(platform::EventSourceStateID state) {
    sourceRequests.push_back(state);
    if (failingSourceStates.contains(state)) return nullptr;
    return std::make_shared<FakeEventSource>(state);
}

std::shared_ptr<platform::KeyboardEvent> FakeKeyboardEvents::createKeyboardEvent(
    platform::EventSource& source, platform::VirtualKeyCode keyCode, bool keyDown) {
    if (failingEvents.contains({keyCode, keyDown})) return nullptr;
    ++eventsCreated;
    return std::make_shared<FakeKeyEvent>(keyCode, keyDown, static_cast<FakeEventSource&>(source).state);
}

void FakeKeyboardEvents::setFlags(platform::KeyboardEvent& event, platform::EventFlags flags) {
    static_cast<FakeKeyEvent&>(event).flags = flags;
}

void FakeKeyboardEvents::post(platform::EventTapLocation tap, platform::KeyboardEvent& event) {
    const auto& key = static_cast<FakeKeyEvent&>(event);
    posted.push_back(PostedKeyEvent{key.keyCode, key.keyDown, key.flags, tap, key.state, scheduler_.now(),
                                    scheduler_.currentQueueLabel()});
}

std::size_t FakeDistributedNotifications::count(const std::string& name) const {
    return static_cast<std::size_t>(
        std::count_if(posted.begin(), posted.end(), [&](const auto& post) { return post.name == name; }));
}

void FakeLog::write(const platform::LogMessage& message) {
    lines.push_back(LoggedLine{message, platform::renderLogMessage(message.format, message.arguments, true),
                               scheduler_.now(), scheduler_.currentQueueLabel()});
}

std::vector<std::string> FakeLog::texts(const std::string& category) const {
    std::vector<std::string> found;
    for (const auto& line : lines) {
        if (line.message.category == category) found.push_back(line.text);
    }
    return found;
}

std::size_t FakeLog::count(const std::string& text) const {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const auto& line) { return line.text == text; }));
}

const LoggedLine* FakeLog::find(const std::string& text) const {
    for (const auto& line : lines) {
        if (line.text == text) return &line;
    }
    return nullptr;
}

}  // namespace fake
