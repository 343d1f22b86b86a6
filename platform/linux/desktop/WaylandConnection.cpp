#include "WaylandConnection.h"

#include <glib.h>
#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform::linux_desktop {

namespace {

struct EventSource {
    GSource base;
    WaylandConnection* connection;
    gpointer fdTag;
};

// libwayland's reading protocol spread over GLib's phases: a read is
// prepared before the poll and finished or cancelled after it, so that
// events that a round trip read meanwhile are dispatched too, and the loop
// sleeps while the compositor says nothing.
gboolean prepareSource(GSource* source, gint* timeout) {
    *timeout = -1;
    // False when events already wait: the source is ready without polling.
    return reinterpret_cast<EventSource*>(source)->connection->prepareRead() ? FALSE : TRUE;
}

gboolean checkSource(GSource* source) {
    auto* events = reinterpret_cast<EventSource*>(source);
    const GIOCondition ready = g_source_query_unix_fd(source, events->fdTag);
    return events->connection->finishRead((ready & (G_IO_IN | G_IO_HUP | G_IO_ERR)) != 0) ? TRUE : FALSE;
}

gboolean dispatchSource(GSource* source, GSourceFunc, gpointer) {
    auto* connection = reinterpret_cast<EventSource*>(source)->connection;
    connection->dispatchPending();
    return connection->isLost() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

GSourceFuncs eventSourceFuncs = {prepareSource, checkSource, dispatchSource, nullptr, nullptr, nullptr};

void announced(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
    static_cast<std::vector<WaylandConnection::Global>*>(data)->push_back({name, interface, version});
}

void removed(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener = {announced, removed};

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(std::string& error) {
    errno = 0;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        error = std::string("Cannot reach the Wayland display ") + (name != nullptr ? name : "wayland-0") +
                ": " + (errno != 0 ? std::strerror(errno) : "no compositor answers") + ".";
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    if (!connection->roundTrip()) {
        error = connection->lossReason();
        return nullptr;
    }
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, &globals_);
}

WaylandConnection::~WaylandConnection() {
    if (source_ != nullptr) {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    cancelRead();
    wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

std::optional<WaylandConnection::Global> WaylandConnection::global(const std::string& interface) const {
    for (const Global& global : globals_)
        if (global.interface == interface) return global;
    return std::nullopt;
}

bool WaylandConnection::roundTrip() {
    if (isLost_) return false;
    cancelRead();
    if (wl_display_roundtrip(display_) < 0) markLost();
    return !isLost_;
}

bool WaylandConnection::flush() {
    if (isLost_) return false;
    // A full socket (EAGAIN) is sent on by the main context's next flush.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) markLost();
    return !isLost_;
}

void WaylandConnection::drain() {
    if (isLost_) return;
    cancelRead();
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            markLost();
            return;
        }
    }
    pollfd readable{wl_display_get_fd(display_), POLLIN, 0};
    // A look at the socket, not a wait: the events already sent.
    if (::poll(&readable, 1, 0) > 0 && (readable.revents & POLLIN) != 0) {
        if (wl_display_read_events(display_) < 0) markLost();
    } else {
        wl_display_cancel_read(display_);
    }
    dispatchPending();
}

// A read prepared by the main context and not yet finished would hold up
// any other read on this thread for good: libwayland waits for every
// prepared reader. GLib may skip the check that finishes it when a source
// of higher priority is ready.
void WaylandConnection::cancelRead() {
    if (!isReading_) return;
    wl_display_cancel_read(display_);
    isReading_ = false;
}

void WaylandConnection::attachToMainContext() {
    if (source_ != nullptr || isLost_) return;
    source_ = g_source_new(&eventSourceFuncs, sizeof(EventSource));
    auto* events = reinterpret_cast<EventSource*>(source_);
    events->connection = this;
    events->fdTag = g_source_add_unix_fd(source_, wl_display_get_fd(display_),
                                         static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_set_name(source_, "Wayland display");
    g_source_attach(source_, g_main_context_default());
}

bool WaylandConnection::prepareRead() {
    if (isLost_) return true;
    if (isReading_) return true;
    if (wl_display_prepare_read(display_) != 0) return false;
    isReading_ = true;
    flush();
    return true;
}

bool WaylandConnection::finishRead(bool readable) {
    if (!isReading_) return isLost_;
    isReading_ = false;
    if (!readable) {
        wl_display_cancel_read(display_);
        return false;
    }
    if (wl_display_read_events(display_) < 0) markLost();
    return true;
}

void WaylandConnection::dispatchPending() {
    if (isLost_) return;
    if (wl_display_dispatch_pending(display_) < 0 || wl_display_get_error(display_) != 0) markLost();
    if (dispatched_) dispatched_();
}

std::string WaylandConnection::lossReason() const {
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    const std::uint32_t code = wl_display_get_protocol_error(display_, &interface, &id);
    if (interface != nullptr)
        return std::string("The Wayland compositor ended the connection over a protocol error of ") +
               interface->name + " (code " + std::to_string(code) + ").";
    const int error = wl_display_get_error(display_);
    return std::string("The Wayland display has gone") +
           (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) + ".";
}

void WaylandConnection::addLostHandler(std::function<void()> handler) {
    lostHandlers_.push_back(std::move(handler));
}

void WaylandConnection::noticeError() {
    if (!isLost_ && wl_display_get_error(display_) != 0) markLost();
}

void WaylandConnection::markLost() {
    if (isLost_) return;
    isLost_ = true;
    cancelRead();
    // No more waking for a dead socket.
    if (source_ != nullptr) g_source_destroy(source_);
    auto handlers = std::move(lostHandlers_);
    lostHandlers_.clear();
    for (auto& handler : handlers) handler();
}

}  // namespace platform::linux_desktop
