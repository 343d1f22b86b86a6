#include "WaylandDesktop.h"

#include <glib.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdlib>

#include "platform/Bundle.h"
#include "platform/Log.h"
#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace platform::linux_desktop {

namespace {

const Logger log{"me.ombrel.quillory.autopastehelper", "desktop"};

constexpr const char* toplevelManagerName = "zwlr_foreign_toplevel_manager_v1";
constexpr const char* keyboardManagerName = "zwp_virtual_keyboard_manager_v1";
constexpr const char* seatName = "wl_seat";
// The newest version whose events the handlers below know.
constexpr std::uint32_t toplevelManagerVersion = 3;

std::string displayName() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name != nullptr && name[0] != '\0' ? name : "wayland-0";
}

WaylandDesktop::Toplevel& toplevelOf(void* data) { return *static_cast<WaylandDesktop::Toplevel*>(data); }

void onTitle(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}

void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    toplevelOf(data).pendingAppId = appId != nullptr ? appId : "";
}

void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}

void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    bool activated = false;
    const auto* state = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i)
        activated = activated || state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    toplevelOf(data).isPendingActivated = activated;
}

void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto& toplevel = toplevelOf(data);
    toplevel.desktop->toplevelDone(toplevel);
}

void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto& toplevel = toplevelOf(data);
    toplevel.desktop->toplevelClosed(toplevel);
}

void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

const zwlr_foreign_toplevel_handle_v1_listener toplevelListener = {
    onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed, onParent,
};

void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
    static_cast<WaylandDesktop*>(data)->toplevelAnnounced(handle);
}

void onFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
    static_cast<WaylandDesktop*>(data)->managerFinished();
}

const zwlr_foreign_toplevel_manager_v1_listener managerListener = {onToplevel, onFinished};

}  // namespace

WaylandDesktop::WaylandDesktop(std::unique_ptr<WaylandConnection> connection, std::string unreachable)
    : connection_(std::move(connection)),
      unreachable_(std::move(unreachable)),
      keyboard_(
          connection_.get(), [this] { return refusal(); }, [this] { makeKeyboard(); },
          [this] { return frontPasteShortcut(); }),
      // The alert program draws a native Wayland window, which comes to the
      // front as it opens; its app_id, the helper's bundle identifier, marks
      // it as the helper's own window, which is no paste target.
      alerts_([](std::uint32_t) {},
              [] {
                  GtkAlertPresenter::Environment environment{{"QUILLORY_ALERT_BACKEND", "wayland"}};
                  if (const auto identifier = Bundle::main().bundleIdentifier())
                      environment.emplace_back("QUILLORY_ALERT_APP_ID", *identifier);
                  return environment;
              }) {
    if (!connection_) return;
    bind();
    connection_->addLostHandler([this] {
        log.error(
            "Lost the connection to the Wayland display; pasting is unavailable until the agent "
            "restarts. %{public}s",
            connection_->lossReason());
        front_ = 0;
        alerts_.displayLost();
    });
    connection_->setDispatchedHandler([this] { announce(); });
    connection_->attachToMainContext();
    announced_ = front_;
}

WaylandDesktop::~WaylandDesktop() {
    if (keyboardSoon_ != 0) g_source_remove(keyboardSoon_);
    if (!connection_) return;
    for (auto& [id, toplevel] : toplevels_) zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    if (toplevelManager_ != nullptr) zwlr_foreign_toplevel_manager_v1_destroy(toplevelManager_);
    if (keyboardManager_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(keyboardManager_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
}

void WaylandDesktop::bind() {
    const auto seat = connection_->global(seatName);
    const auto toplevels = connection_->global(toplevelManagerName);
    const auto keyboards = connection_->global(keyboardManagerName);
    for (const auto& [global, name] : {std::pair{toplevels, toplevelManagerName},
                                       std::pair{keyboards, keyboardManagerName}, std::pair{seat, seatName}})
        if (!global) missing_.emplace_back(name);
    if (!missing_.empty()) return;
    // The first seat: the one a single-user desktop has.
    seat_ =
        static_cast<wl_seat*>(wl_registry_bind(connection_->registry(), seat->name, &wl_seat_interface, 1));
    toplevelManager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        connection_->registry(), toplevels->name, &zwlr_foreign_toplevel_manager_v1_interface,
        std::min(toplevels->version, toplevelManagerVersion)));
    zwlr_foreign_toplevel_manager_v1_add_listener(toplevelManager_, &managerListener, this);
    keyboardManager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(wl_registry_bind(
        connection_->registry(), keyboards->name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    // The toplevels there now, each with its state.
    connection_->roundTrip();
    keyboardSoon_ = g_idle_add(
        [](gpointer desktop) -> gboolean {
            auto* self = static_cast<WaylandDesktop*>(desktop);
            self->keyboardSoon_ = 0;
            self->makeKeyboard();
            return G_SOURCE_REMOVE;
        },
        this);
}

void WaylandDesktop::makeKeyboard() {
    if (isKeyboardTried_ || !connection_ || keyboardManager_ == nullptr) return;
    isKeyboardTried_ = true;
    keyboardFailure_ = keyboard_.create(keyboardManager_, seat_);
    if (!keyboardFailure_.empty())
        log.error("Pasting is unavailable on this desktop. %{public}s", *refusal());
}

std::optional<FrontWindow> WaylandDesktop::frontWindow() {
    if (!connection_) return std::nullopt;
    // Whatever the compositor has already said, without asking it.
    connection_->drain();
    const Toplevel* front = find(front_);
    if (front == nullptr) return std::nullopt;
    FrontWindow window;
    window.window = front->id;
    if (!front->appId.empty()) window.applicationId = front->appId;
    return window;
}

void WaylandDesktop::watchActivations(std::function<void()> changed) { changed_ = std::move(changed); }

bool WaylandDesktop::activateProcess(ProcessIdentifier) { return false; }

bool WaylandDesktop::activateWindow(WindowHandle window) {
    if (!connection_ || seat_ == nullptr) return false;
    connection_->drain();
    const Toplevel* toplevel = find(window);
    if (toplevel == nullptr) return false;
    zwlr_foreign_toplevel_handle_v1_activate(toplevel->handle, seat_);
    return connection_->flush();
}

bool WaylandDesktop::windowExists(WindowHandle window) {
    if (!connection_) return false;
    connection_->drain();
    return find(window) != nullptr;
}

// The alert's window carries the helper's bundle identifier as its app_id.
void WaylandDesktop::activateSelf() {
    if (!connection_ || seat_ == nullptr) return;
    const auto own = Bundle::main().bundleIdentifier();
    if (!own) return;
    connection_->drain();
    for (const auto& [id, toplevel] : toplevels_) {
        if (toplevel->appId != *own) continue;
        zwlr_foreign_toplevel_handle_v1_activate(toplevel->handle, seat_);
        connection_->flush();
        return;
    }
}

std::optional<std::string> WaylandDesktop::refusal() const {
    if (!connection_) return unreachable_;
    if (connection_->isLost()) return connection_->lossReason();
    if (!missing_.empty()) {
        std::string names;
        for (std::size_t i = 0; i < missing_.size(); ++i)
            names += (i == 0 ? "" : i + 1 == missing_.size() ? " and " : ", ") + missing_[i];
        return "The Wayland compositor lacks " + names +
               ", which pasting needs: nothing is pasted on this desktop.";
    }
    if (!keyboardFailure_.empty()) return "No virtual keyboard: " + keyboardFailure_;
    return std::nullopt;
}

std::string WaylandDesktop::summary() {
    std::string text = "Wayland on " + displayName();
    if (!connection_) return text + ", which cannot be reached";
    std::string found;
    for (const char* interface : {toplevelManagerName, keyboardManagerName, seatName,
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

void WaylandDesktop::toplevelAnnounced(zwlr_foreign_toplevel_handle_v1* handle) {
    auto toplevel = std::make_unique<Toplevel>();
    toplevel->desktop = this;
    toplevel->handle = handle;
    toplevel->id = nextHandle_++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, toplevel.get());
    toplevels_.emplace(toplevel->id, std::move(toplevel));
}

void WaylandDesktop::toplevelDone(Toplevel& toplevel) {
    toplevel.appId = toplevel.pendingAppId;
    const bool wasActivated = toplevel.isActivated;
    toplevel.isActivated = toplevel.isPendingActivated;
    if (toplevel.isActivated && !wasActivated) front_ = toplevel.id;
    // Nothing activated (the desktop itself has the keyboard) until another is.
    if (!toplevel.isActivated && front_ == toplevel.id) front_ = 0;
}

// A closed toplevel's number is never given again: a remembered one stays gone.
void WaylandDesktop::toplevelClosed(Toplevel& toplevel) {
    if (front_ == toplevel.id) front_ = 0;
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
    toplevels_.erase(toplevel.id);
}

void WaylandDesktop::managerFinished() {
    zwlr_foreign_toplevel_manager_v1_destroy(toplevelManager_);
    toplevelManager_ = nullptr;
}

void WaylandDesktop::announce() {
    if (isAnnouncing_) return;
    isAnnouncing_ = true;
    // A watcher that reads the front window may dispatch newer events; they
    // are announced by this loop rather than from inside it.
    while (changed_ && front_ != 0 && front_ != announced_) {
        announced_ = front_;
        changed_();
    }
    if (front_ == 0) announced_ = 0;
    isAnnouncing_ = false;
}

// Named by its app_id, which for an Xwayland window is its window class:
// the chooser tries it as both.
PasteShortcutChoice WaylandDesktop::frontPasteShortcut() {
    const Toplevel* front = find(front_);
    const std::optional<std::string> appId =
        front != nullptr && !front->appId.empty() ? std::optional(front->appId) : std::nullopt;
    return pasteShortcuts_.choose(appId, appId);
}

WaylandDesktop::Toplevel* WaylandDesktop::find(WindowHandle window) {
    const auto found = toplevels_.find(window);
    return found != toplevels_.end() ? found->second.get() : nullptr;
}

std::unique_ptr<Desktop> openWaylandDesktop() {
    std::string error;
    auto connection = WaylandConnection::open(error);
    return std::make_unique<WaylandDesktop>(std::move(connection), std::move(error));
}

}  // namespace platform::linux_desktop
