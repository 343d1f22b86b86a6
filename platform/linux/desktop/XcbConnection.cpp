#include "XcbConnection.h"

#include <glib.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>

#include "XcbXkb.h"
#include "platform/Log.h"

namespace platform::linux_desktop {

namespace {

const Logger log{"me.ombrel.quillory.autopastehelper", "desktop"};

struct EventSource {
    GSource base;
    XcbConnection* connection;
};

gboolean prepareSource(GSource* source, gint* timeout) {
    *timeout = -1;
    return reinterpret_cast<EventSource*>(source)->connection->hasQueuedEvents();
}

gboolean checkSource(GSource* source) {
    auto* connection = reinterpret_cast<EventSource*>(source)->connection;
    return connection->isReadable() || connection->hasQueuedEvents();
}

gboolean dispatchSource(GSource* source, GSourceFunc, gpointer) {
    auto* connection = reinterpret_cast<EventSource*>(source)->connection;
    connection->dispatchEvents();
    return connection->isLost() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

GSourceFuncs eventSourceFuncs = {prepareSource, checkSource, dispatchSource, nullptr, nullptr, nullptr};

const char* atomName(XcbConnection::Atom atom) {
    switch (atom) {
        case XcbConnection::Atom::netActiveWindow:
            return "_NET_ACTIVE_WINDOW";
        case XcbConnection::Atom::netWmPid:
            return "_NET_WM_PID";
        case XcbConnection::Atom::netSupportingWmCheck:
            return "_NET_SUPPORTING_WM_CHECK";
        case XcbConnection::Atom::netClientListStacking:
            return "_NET_CLIENT_LIST_STACKING";
        case XcbConnection::Atom::gtkApplicationId:
            return "_GTK_APPLICATION_ID";
        case XcbConnection::Atom::utf8String:
            return "UTF8_STRING";
        case XcbConnection::Atom::timestampProbe:
            return "_QUILLORY_HELPER_TIMESTAMP";
    }
    return "";
}

constexpr XcbConnection::Atom allAtoms[] = {
    XcbConnection::Atom::netActiveWindow,      XcbConnection::Atom::netWmPid,
    XcbConnection::Atom::netSupportingWmCheck, XcbConnection::Atom::netClientListStacking,
    XcbConnection::Atom::gtkApplicationId,     XcbConnection::Atom::utf8String,
    XcbConnection::Atom::timestampProbe,
};

}  // namespace

std::unique_ptr<XcbConnection> XcbConnection::open() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return nullptr;
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    std::unique_ptr<XcbConnection> result(new XcbConnection(connection, screens.data->root));
    xcb_prefetch_extension_data(connection, &xcb_test_id);
    xcb_prefetch_extension_data(connection, &xcb_xkb_id);
    result->internAtoms();
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(connection, &xcb_test_id);
    result->hasXTest_ = xtest != nullptr && xtest->present;
    result->followKeyboardLayouts();

    // Root property changes tell which window the window manager activates.
    const std::uint32_t rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, result->root_, XCB_CW_EVENT_MASK, &rootEvents);
    result->timestampWindow_ = xcb_generate_id(connection);
    const std::uint32_t ownEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, result->timestampWindow_, result->root_, -1, -1, 1, 1,
                      0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &ownEvents);
    if (!result->isAlive()) return nullptr;
    result->attachToMainContext();
    return result;
}

XcbConnection::XcbConnection(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {}

XcbConnection::~XcbConnection() {
    if (source_ != nullptr) {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    for (auto* event : queued_) std::free(event);
    xcb_disconnect(connection_);
}

void XcbConnection::internAtoms() {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (Atom atom : allAtoms) {
        const char* name = atomName(atom);
        cookies.push_back(
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    }
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookies[i], nullptr);
        atoms_[allAtoms[i]] = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
    }
}

void XcbConnection::followKeyboardLayouts() {
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection_, &xcb_xkb_id);
    if (xkb == nullptr || !xkb->present) return;
    // The server takes XKB requests only from a client that said which
    // version it speaks; requests are taken in order, so nothing waits for
    // the answer.
    xcb_discard_reply(
        connection_,
        xcb_xkb_use_extension(connection_, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION).sequence);
    // The group, but not every modifier press: the agent sleeps while the user types.
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = XCB_XKB_STATE_PART_GROUP_STATE;
    details.stateDetails = XCB_XKB_STATE_PART_GROUP_STATE;
    const std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                 XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    const std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_SYMS;
    xcb_xkb_select_events_aux(connection_, XCB_XKB_ID_USE_CORE_KBD, events, 0, 0, mapParts, mapParts,
                              &details);
    xkbEventBase_ = xkb->first_event;
}

void XcbConnection::attachToMainContext() {
    source_ = g_source_new(&eventSourceFuncs, sizeof(EventSource));
    reinterpret_cast<EventSource*>(source_)->connection = this;
    g_source_set_name(source_, "X11 desktop");
    fdTag_ = g_source_add_unix_fd(source_, xcb_get_file_descriptor(connection_),
                                  static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_attach(source_, nullptr);
}

void XcbConnection::setEventHandler(std::function<void(const xcb_generic_event_t&)> handler) {
    eventHandler_ = std::move(handler);
}

void XcbConnection::addLostHandler(std::function<void()> handler) {
    lostHandlers_.push_back(std::move(handler));
}

bool XcbConnection::isAlive() {
    if (isLost_) return false;
    ++answersAwaited_;
    xcb_generic_error_t* error = nullptr;
    xcb_get_input_focus_reply_t* reply =
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), &error);
    std::free(reply);
    std::free(error);
    noticeError();
    return !isLost_;
}

void XcbConnection::noticeError() {
    if (!isLost_ && xcb_connection_has_error(connection_)) markLost();
}

void XcbConnection::markLost() {
    isLost_ = true;
    log.error("Lost the connection to the X display; pasting is unavailable until the agent restarts.");
    if (source_ != nullptr) g_source_destroy(source_);
    // A handler may add handlers; run the ones registered so far, once.
    auto handlers = std::move(lostHandlers_);
    lostHandlers_.clear();
    for (auto& handler : handlers) handler();
}

bool XcbConnection::isReadable() const {
    if (source_ == nullptr || fdTag_ == nullptr) return false;
    return g_source_query_unix_fd(source_, fdTag_) != 0;
}

bool XcbConnection::hasQueuedEvents() {
    if (isLost_) return false;
    if (queued_.empty()) {
        if (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) queued_.push_back(event);
    }
    return !queued_.empty() || xcb_connection_has_error(connection_);
}

void XcbConnection::dispatchEvents() {
    // An event handler that asks for the events already read would otherwise
    // handle later events before it has finished with its own.
    if (dispatching_) return;
    dispatching_ = true;
    while (!isLost_) {
        xcb_generic_event_t* event = nullptr;
        if (!queued_.empty()) {
            event = queued_.front();
            queued_.pop_front();
        } else {
            event = xcb_poll_for_event(connection_);
        }
        if (event == nullptr) break;
        if (eventHandler_) eventHandler_(*event);
        std::free(event);
    }
    dispatching_ = false;
    noticeError();
}

xcb_timestamp_t XcbConnection::serverTime() {
    if (isLost_) return XCB_CURRENT_TIME;
    const xcb_atom_t probe = atom(Atom::timestampProbe);
    // Appending nothing changes nothing but still makes the server report the
    // time of the change.
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, timestampWindow_, probe, XCB_ATOM_STRING, 8, 0,
                        nullptr);
    xcb_flush(connection_);
    ++answersAwaited_;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection_)) {
        if ((event->response_type & ~0x80) == XCB_PROPERTY_NOTIFY) {
            auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (notify->window == timestampWindow_ && notify->atom == probe) {
                const xcb_timestamp_t time = notify->time;
                std::free(event);
                return time;
            }
        }
        // Everything else is dispatched later, in order, by the main-context source.
        queued_.push_back(event);
    }
    noticeError();
    return XCB_CURRENT_TIME;
}

XcbConnection::Asked& XcbConnection::Asked::operator=(Asked&& other) noexcept {
    if (this != &other) {
        discard();
        connection_ = std::exchange(other.connection_, nullptr);
        sequence_ = other.sequence_;
    }
    return *this;
}

unsigned XcbConnection::Asked::take() {
    connection_ = nullptr;
    return sequence_;
}

void XcbConnection::Asked::discard() {
    if (connection_ != nullptr) xcb_discard_reply(connection_, sequence_);
    connection_ = nullptr;
}

XcbConnection::Asked XcbConnection::askCardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    if (isLost_ || window == XCB_NONE) return {};
    return {connection_, xcb_get_property(connection_, 0, window, property, type, 0, 1024).sequence};
}

XcbConnection::Asked XcbConnection::askText(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    if (isLost_ || window == XCB_NONE) return {};
    return {connection_, xcb_get_property(connection_, 0, window, property, type, 0, 4096).sequence};
}

XcbConnection::Asked XcbConnection::askWindowAttributes(xcb_window_t window) {
    if (isLost_ || window == XCB_NONE) return {};
    return {connection_, xcb_get_window_attributes(connection_, window).sequence};
}

std::optional<std::vector<std::uint32_t>> XcbConnection::cardinals(xcb_window_t window, xcb_atom_t property,
                                                                   xcb_atom_t type) {
    Asked asked = askCardinals(window, property, type);
    return cardinals(asked, type);
}

std::optional<std::string> XcbConnection::text(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    Asked asked = askText(window, property, type);
    return text(asked, type);
}

bool XcbConnection::windowExists(xcb_window_t window, bool mustBeViewable) {
    Asked asked = askWindowAttributes(window);
    return windowExists(asked, mustBeViewable);
}

std::optional<std::vector<std::uint32_t>> XcbConnection::cardinals(Asked& asked, xcb_atom_t type) {
    if (isLost_ || !asked.wasAsked()) return std::nullopt;
    // A window that has gone answers with an error, taken here so that it
    // does not reach the event handler.
    ++answersAwaited_;
    xcb_generic_error_t* error = nullptr;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, {asked.take()}, &error);
    std::free(error);
    if (reply == nullptr) {
        noticeError();
        return std::nullopt;
    }
    std::optional<std::vector<std::uint32_t>> values;
    if (reply->type == type && reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        values.emplace(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

std::optional<std::string> XcbConnection::text(Asked& asked, xcb_atom_t type) {
    if (isLost_ || !asked.wasAsked()) return std::nullopt;
    ++answersAwaited_;
    xcb_generic_error_t* error = nullptr;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, {asked.take()}, &error);
    std::free(error);
    if (reply == nullptr) {
        noticeError();
        return std::nullopt;
    }
    std::optional<std::string> value;
    if (reply->type == type && reply->format == 8) {
        value.emplace(static_cast<const char*>(xcb_get_property_value(reply)),
                      static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    }
    std::free(reply);
    return value;
}

bool XcbConnection::windowExists(Asked& asked, bool mustBeViewable) {
    if (isLost_ || !asked.wasAsked()) return false;
    ++answersAwaited_;
    xcb_generic_error_t* error = nullptr;
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(connection_, {asked.take()}, &error);
    std::free(error);
    const bool exists = reply != nullptr && (!mustBeViewable || reply->map_state == XCB_MAP_STATE_VIEWABLE);
    std::free(reply);
    noticeError();
    return exists;
}

std::vector<xcb_window_t> XcbConnection::children(xcb_window_t window, xcb_window_t* parent) {
    if (parent != nullptr) *parent = XCB_NONE;
    if (isLost_ || window == XCB_NONE) return {};
    ++answersAwaited_;
    xcb_generic_error_t* error = nullptr;
    xcb_query_tree_reply_t* reply =
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), &error);
    std::free(error);
    if (reply == nullptr) {
        noticeError();
        return {};
    }
    if (parent != nullptr) *parent = reply->parent;
    const xcb_window_t* data = xcb_query_tree_children(reply);
    std::vector<xcb_window_t> result(data, data + xcb_query_tree_children_length(reply));
    std::free(reply);
    return result;
}

void XcbConnection::selectEvents(xcb_window_t window, std::uint32_t mask) {
    if (isLost_ || window == XCB_NONE) return;
    // A window gone meanwhile answers with an error event, which nobody handles.
    xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
}

}  // namespace platform::linux_desktop
