#include "WaylandDesktop.h"

#include <cstdlib>

#include "platform/Log.h"

namespace platform::linux_desktop {

namespace {

const Logger log{"me.ombrel.quillory.autopastehelper", "desktop"};

constexpr const char* toplevelManager = "zwlr_foreign_toplevel_manager_v1";
constexpr const char* virtualKeyboardManager = "zwp_virtual_keyboard_manager_v1";
constexpr const char* seat = "wl_seat";

std::string displayName() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name != nullptr && name[0] != '\0' ? name : "wayland-0";
}

}  // namespace

WaylandDesktop::WaylandDesktop(std::unique_ptr<WaylandConnection> connection, std::string unreachable)
    : connection_(std::move(connection)),
      unreachable_(std::move(unreachable)),
      keyboard_(*this),
      alerts_([](std::uint32_t) {}) {
    if (!connection_) return;
    for (const char* needed : {toplevelManager, virtualKeyboardManager, seat})
        if (!connection_->global(needed)) missing_.emplace_back(needed);
    connection_->addLostHandler([this] {
        log.error(
            "Lost the connection to the Wayland display; pasting is unavailable until the agent "
            "restarts. %{public}s",
            connection_->lossReason());
        alerts_.displayLost();
    });
    connection_->attachToMainContext();
}

WaylandDesktop::~WaylandDesktop() = default;

std::optional<FrontWindow> WaylandDesktop::frontWindow() { return std::nullopt; }

void WaylandDesktop::watchActivations(std::function<void()> changed) { changed_ = std::move(changed); }

// Wayland names no process behind a window.
bool WaylandDesktop::activateProcess(ProcessIdentifier) { return false; }

bool WaylandDesktop::windowExists(std::uint32_t) { return false; }

void WaylandDesktop::activateSelf() {}

bool WaylandDesktop::canPostEvents() { return !refusal(); }

std::optional<std::string> WaylandDesktop::refusal() const {
    if (!connection_) return unreachable_;
    if (connection_->isLost()) return connection_->lossReason();
    if (!missing_.empty()) {
        std::string names;
        for (std::size_t i = 0; i < missing_.size(); ++i)
            names += (i == 0 ? "" : i + 1 == missing_.size() ? " and " : ", ") + missing_[i];
        return "The Wayland compositor lacks " + names +
               ", which pasting needs: nothing is pasted on this "
               "desktop.";
    }
    return "Typing on Wayland is not built yet.";
}

std::string WaylandDesktop::summary() {
    std::string text = "Wayland on " + displayName();
    if (!connection_) return text + ", which cannot be reached";
    std::string found;
    for (const char* interface : {toplevelManager, virtualKeyboardManager, seat,
                                  "zwlr_data_control_manager_v1", "xdg_activation_v1"}) {
        if (const auto global = connection_->global(interface))
            found += (found.empty() ? "" : ", ") + global->interface + " " + std::to_string(global->version);
    }
    text += ", with " + (found.empty() ? std::string("none of the protocols pasting uses") : found);
    if (!missing_.empty()) {
        std::string names;
        for (const std::string& name : missing_) names += (names.empty() ? "" : ", ") + name;
        text += "; lacks " + names;
    }
    return text;
}

std::optional<Error> WaylandDesktop::Keyboard::unavailability() {
    if (auto why = desktop_.refusal()) return Error{*why};
    return std::nullopt;
}

std::unique_ptr<Desktop> openWaylandDesktop() {
    std::string error;
    auto connection = WaylandConnection::open(error);
    return std::make_unique<WaylandDesktop>(std::move(connection), std::move(error));
}

}  // namespace platform::linux_desktop
