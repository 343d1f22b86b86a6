#include "X11Desktop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::linux_desktop {

namespace {

// Enough to find the last window of every process the user switched between lately.
constexpr std::size_t historyLength = 64;
// Source indication of a pager: the request stands for a user's choice.
constexpr std::uint32_t sourcePager = 2;

using Atom = XcbConnection::Atom;

}  // namespace

X11Desktop::X11Desktop(std::unique_ptr<XcbConnection> connection)
    : connection_(std::move(connection)),
      keyboard_(*connection_, [this] { return frontPasteShortcut(); }),
      alerts_([this](std::uint32_t window) { activateX11Window(window); }) {
    connection_->setEventHandler([this](const xcb_generic_event_t& event) { handleEvent(event); });
    connection_->addLostHandler([this] { alerts_.displayLost(); });
    if (auto active = activeWindow(); active && *active != XCB_NONE) {
        learnFront(*active);
        remember(*active);
        lastAnnounced_ = history_.front();
    }
}

namespace {

xcb_window_t firstWindow(const std::optional<std::vector<std::uint32_t>>& values) {
    return values && !values->empty() ? (*values)[0] : XCB_NONE;
}

}  // namespace

std::optional<FrontWindow> X11Desktop::frontWindow() {
    // What the server has already sent, read without waiting for it: another
    // window announced, or the known one gone.
    connection_->dispatchEvents();
    if (connection_->isLost()) {
        knownFront_.reset();
        return std::nullopt;
    }
    if (knownFront_) return knownFront_;
    return askFront();
}

// The questions of each step go to the server together: a paste waits for
// the answer, one round trip per step rather than one per question.
std::optional<FrontWindow> X11Desktop::askFront() {
    if (connection_->isLost()) return std::nullopt;
    const xcb_atom_t check = connection_->atom(Atom::netSupportingWmCheck);
    auto askedCheck = connection_->askCardinals(connection_->root(), check, XCB_ATOM_WINDOW);
    auto askedActive = connection_->askCardinals(connection_->root(),
                                                 connection_->atom(Atom::netActiveWindow), XCB_ATOM_WINDOW);
    const xcb_window_t checkWindow = firstWindow(connection_->cardinals(askedCheck, XCB_ATOM_WINDOW));
    const xcb_window_t active = firstWindow(connection_->cardinals(askedActive, XCB_ATOM_WINDOW));

    // The window manager clears the property for a moment while it switches;
    // the window before still stands for the front.
    xcb_window_t window = active != XCB_NONE ? active : history_.empty() ? XCB_NONE : history_.front().window;
    // Watched before the questions go, so that once they are answered its
    // going cannot pass unheard.
    if (active != XCB_NONE) watch(active, checkWindow);
    // A window manager that has gone leaves the root's property behind, but
    // not its own window.
    auto askedCheckAgain = connection_->askCardinals(checkWindow, check, XCB_ATOM_WINDOW);
    Questions questions = ask(window);
    const bool managed = checkWindow != XCB_NONE &&
                         firstWindow(connection_->cardinals(askedCheckAgain, XCB_ATOM_WINDOW)) == checkWindow;
    if (!managed) {
        window = focusedTopLevel();
        questions = ask(window);
    }
    auto front = describe(window, questions);
    if (!front) return std::nullopt;
    // Without a window manager nothing announces a change of focus.
    if (managed && active != XCB_NONE) {
        remember(active, front->pid);
        knownFront_ = front;
    }
    return front;
}

void X11Desktop::learnFront(xcb_window_t window) {
    auto rootCheck = askRootCheck();
    const xcb_window_t checkWindow = firstWindow(connection_->cardinals(rootCheck, XCB_ATOM_WINDOW));
    if (checkWindow == XCB_NONE) return;
    watch(window, checkWindow);
    auto checkAgain = connection_->askCardinals(checkWindow, connection_->atom(Atom::netSupportingWmCheck),
                                                XCB_ATOM_WINDOW);
    Questions questions = ask(window);
    const bool managed = firstWindow(connection_->cardinals(checkAgain, XCB_ATOM_WINDOW)) == checkWindow;
    auto front = describe(window, questions);
    if (managed && front) knownFront_ = front;
}

void X11Desktop::watch(xcb_window_t window, xcb_window_t check) {
    if (window != watchedWindow_) {
        // One window at a time: the others' changes would wake the agent for nothing.
        connection_->selectEvents(watchedWindow_, XCB_EVENT_MASK_NO_EVENT);
        connection_->selectEvents(window, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        watchedWindow_ = window;
    }
    if (check != watchedCheck_) {
        connection_->selectEvents(check, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        watchedCheck_ = check;
    }
}

void X11Desktop::forgetFrontOnDestruction(const xcb_generic_event_t& event) {
    const bool destroyed = (event.response_type & ~0x80) == XCB_DESTROY_NOTIFY;
    const xcb_window_t window = destroyed ? reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window
                                          : reinterpret_cast<const xcb_unmap_notify_event_t&>(event).window;
    if (window == watchedCheck_) {
        // The window manager has gone: without it the front is the focus.
        if (!destroyed) return;
        watchedCheck_ = XCB_NONE;
        knownFront_.reset();
        return;
    }
    if (window != watchedWindow_) return;
    // Its id may come back with another window, which must be watched anew.
    if (destroyed) watchedWindow_ = XCB_NONE;
    if (knownFront_ && knownFront_->window == window) knownFront_.reset();
}

std::optional<FrontWindow> X11Desktop::describe(xcb_window_t window, Questions& questions) {
    const bool exists = connection_->windowExists(questions.attributes);
    FrontWindow front;
    front.window = window;
    const auto pid = connection_->cardinals(questions.pid, XCB_ATOM_CARDINAL);
    front.pid = pid && !pid->empty() ? static_cast<ProcessIdentifier>((*pid)[0]) : 0;
    front.applicationId = connection_->text(questions.applicationId, connection_->atom(Atom::utf8String));
    const auto wmClass = connection_->text(questions.windowClass, XCB_ATOM_STRING);
    if (window == XCB_NONE || !exists || connection_->isLost()) return std::nullopt;
    if (wmClass) {
        // Instance name, NUL, class name, NUL.
        const std::size_t end = wmClass->find('\0');
        if (end != std::string::npos) {
            std::string className = wmClass->substr(end + 1);
            if (std::size_t nul = className.find('\0'); nul != std::string::npos) className.resize(nul);
            if (!className.empty()) front.windowClass = className;
        }
    }
    return front;
}

X11Desktop::Questions X11Desktop::ask(xcb_window_t window) {
    Questions questions;
    questions.attributes = connection_->askWindowAttributes(window);
    questions.pid = connection_->askCardinals(window, connection_->atom(Atom::netWmPid), XCB_ATOM_CARDINAL);
    questions.applicationId = connection_->askText(window, connection_->atom(Atom::gtkApplicationId),
                                                   connection_->atom(Atom::utf8String));
    questions.windowClass = connection_->askText(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    return questions;
}

PasteShortcutChoice X11Desktop::frontPasteShortcut() {
    // The target was chosen a moment ago from the front; unless the window
    // manager has announced another window since, the keys go to that one.
    const auto front = knownFront_ ? knownFront_ : askFront();
    return pasteShortcuts_.choose(front ? front->applicationId : std::nullopt,
                                  front ? front->windowClass : std::nullopt);
}

void X11Desktop::watchActivations(std::function<void()> changed) { changed_ = std::move(changed); }

bool X11Desktop::activateProcess(ProcessIdentifier pid) {
    if (connection_->isLost() || pid <= 0) return false;
    // Answered along with the next question: a re-activating paste waits.
    auto rootCheck = askRootCheck();
    for (const Activated& activated : history_) {
        if (activated.pid == pid && pidOf(activated.window) == pid)
            return activateX11Window(activated.window, std::move(rootCheck));
    }
    // A process none of whose windows was activated while the agent watched:
    // its topmost window.
    std::vector<xcb_window_t> stack;
    const bool managed = hasEwmhWindowManager();
    if (managed) {
        auto clients = connection_->cardinals(
            connection_->root(), connection_->atom(Atom::netClientListStacking), XCB_ATOM_WINDOW);
        if (clients) stack = *clients;
    } else {
        stack = connection_->children(connection_->root());
    }
    for (auto window = stack.rbegin(); window != stack.rend(); ++window) {
        if (pidOf(*window) != pid) continue;
        if (!managed && !connection_->windowExists(*window, true)) continue;
        return activateX11Window(*window);
    }
    return false;
}

void X11Desktop::activateSelf() { alerts_.bringToFront(); }

// Asked at every paste: answered without a round trip (see createSource).
bool X11Desktop::canPostEvents() { return connection_->hasXTest() && !connection_->isLost(); }

std::string X11Desktop::summary() {
    const char* display = std::getenv("DISPLAY");
    return std::string("X11 on display ") + (display != nullptr ? display : "") +
           (connection_->hasXTest() ? ", with XTest" : ", without XTest") +
           (connection_->xkbEventBase() ? ", with XKB" : ", without XKB");
}

bool X11Desktop::activateX11Window(xcb_window_t window) { return activateX11Window(window, askRootCheck()); }

bool X11Desktop::activateX11Window(xcb_window_t window, XcbConnection::Asked rootCheck) {
    if (connection_->isLost() || window == XCB_NONE) return false;
    xcb_connection_t* c = connection_->raw();
    // The root's answer comes back with the timestamp.
    const xcb_timestamp_t time = connection_->serverTime();
    if (hasEwmhWindowManager(rootCheck)) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = connection_->atom(Atom::netActiveWindow);
        message.data.data32[0] = sourcePager;
        message.data.data32[1] = time;
        message.data.data32[2] = history_.empty() ? XCB_NONE : history_.front().window;
        xcb_send_event(c, 0, connection_->root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(c);
        connection_->noticeError();
        return !connection_->isLost();
    }
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_set_input_focus_checked(c, XCB_INPUT_FOCUS_PARENT, window, time));
    const bool focused = error == nullptr;
    std::free(error);
    connection_->noticeError();
    return focused && !connection_->isLost();
}

void X11Desktop::handleEvent(const xcb_generic_event_t& event) {
    keyboard_.handleEvent(event);
    const auto type = event.response_type & ~0x80;
    if (type == XCB_DESTROY_NOTIFY || type == XCB_UNMAP_NOTIFY) forgetFrontOnDestruction(event);
    if (type != XCB_PROPERTY_NOTIFY) return;
    const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
    if (notify.window != connection_->root()) return;
    // Another window manager, or none.
    if (notify.atom == connection_->atom(Atom::netSupportingWmCheck)) knownFront_.reset();
    if (notify.atom != connection_->atom(Atom::netActiveWindow)) return;
    auto active = activeWindow();
    // The window manager may say the same window again; that one is still
    // known.
    if (!active || *active == XCB_NONE || (knownFront_ && knownFront_->window != *active))
        knownFront_.reset();
    if (!active) return;
    if (*active == XCB_NONE) {
        // The window manager in the middle of a switch, or no window in
        // front: nothing to announce, but the next window is news even if it
        // has the same id as the last (ids of closed windows are reused).
        lastAnnounced_ = {};
        return;
    }
    // Read now, while nobody waits, rather than at the paste.
    if (!knownFront_) learnFront(*active);
    if (knownFront_)
        remember(*active, knownFront_->pid);
    else
        remember(*active);
    const Activated now{*active, history_.front().pid};
    if (now.window == lastAnnounced_.window && now.pid == lastAnnounced_.pid) return;
    lastAnnounced_ = now;
    if (changed_) changed_();
}

XcbConnection::Asked X11Desktop::askRootCheck() {
    return connection_->askCardinals(connection_->root(), connection_->atom(Atom::netSupportingWmCheck),
                                     XCB_ATOM_WINDOW);
}

bool X11Desktop::hasEwmhWindowManager() {
    auto rootCheck = askRootCheck();
    return hasEwmhWindowManager(rootCheck);
}

bool X11Desktop::hasEwmhWindowManager(XcbConnection::Asked& rootCheck) {
    const xcb_atom_t check = connection_->atom(Atom::netSupportingWmCheck);
    auto fromRoot = connection_->cardinals(rootCheck, XCB_ATOM_WINDOW);
    if (!fromRoot || fromRoot->empty() || (*fromRoot)[0] == XCB_NONE) return false;
    // A window manager that has gone leaves the root's property behind, but
    // not its own window.
    auto fromWindow = connection_->cardinals((*fromRoot)[0], check, XCB_ATOM_WINDOW);
    return fromWindow && !fromWindow->empty() && (*fromWindow)[0] == (*fromRoot)[0];
}

std::optional<xcb_window_t> X11Desktop::activeWindow() {
    if (!hasEwmhWindowManager()) return std::nullopt;
    auto active = connection_->cardinals(connection_->root(), connection_->atom(Atom::netActiveWindow),
                                         XCB_ATOM_WINDOW);
    if (!active || active->empty()) return XCB_NONE;
    return (*active)[0];
}

xcb_window_t X11Desktop::focusedTopLevel() {
    xcb_connection_t* c = connection_->raw();
    xcb_generic_error_t* error = nullptr;
    xcb_get_input_focus_reply_t* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), &error);
    std::free(error);
    if (focus == nullptr) {
        connection_->noticeError();
        return XCB_NONE;
    }
    xcb_window_t window = focus->focus;
    std::free(focus);
    if (window == XCB_INPUT_FOCUS_POINTER_ROOT) {
        // Keystrokes go to the window under the pointer.
        xcb_query_pointer_reply_t* pointer =
            xcb_query_pointer_reply(c, xcb_query_pointer(c, connection_->root()), nullptr);
        window = pointer != nullptr ? pointer->child : XCB_NONE;
        std::free(pointer);
    }
    // Toolkits focus a child of their top-level window; walk up to the window
    // that carries the client's properties.
    for (int depth = 0; depth < 32 && window != XCB_NONE && window != connection_->root(); ++depth) {
        if (pidOf(window) || connection_->text(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING)) return window;
        xcb_window_t parent = XCB_NONE;
        connection_->children(window, &parent);
        if (parent == connection_->root() || parent == XCB_NONE) return window;
        window = parent;
    }
    return XCB_NONE;
}

std::optional<ProcessIdentifier> X11Desktop::pidOf(xcb_window_t window) {
    auto pid = connection_->cardinals(window, connection_->atom(Atom::netWmPid), XCB_ATOM_CARDINAL);
    if (!pid || pid->empty() || (*pid)[0] == 0) return std::nullopt;
    return static_cast<ProcessIdentifier>((*pid)[0]);
}

void X11Desktop::remember(xcb_window_t window) {
    // Read anew each time: the id may belong to a newer window by now.
    remember(window, pidOf(window).value_or(0));
}

void X11Desktop::remember(xcb_window_t window, ProcessIdentifier pid) {
    std::erase_if(history_, [window](const Activated& activated) { return activated.window == window; });
    history_.push_front({window, pid});
    if (history_.size() > historyLength) history_.pop_back();
}

std::unique_ptr<Desktop> openX11Desktop() {
    auto connection = XcbConnection::open();
    if (!connection) return nullptr;
    return std::make_unique<X11Desktop>(std::move(connection));
}

}  // namespace platform::linux_desktop
