#include "BusXPC.h"

#include <unistd.h>

#include <atomic>
#include <map>
#include <optional>

#include "DBusNames.h"
#include "GLibSupport.h"
#include "Queues.h"

namespace platform::linux_platform {

namespace {

constexpr const char* accessDeniedError = "org.freedesktop.DBus.Error.AccessDenied";

// One request's answer. Whoever holds the last copy of the reply block and
// has not called it makes it answer with an error, so that no caller waits
// for ever.
class PendingReply {
public:
    explicit PendingReply(GDBusMethodInvocation* invocation) : invocation_(invocation) {}
    ~PendingReply() {
        if (!sent_.exchange(true)) {
            g_dbus_method_invocation_return_dbus_error(invocation_, "org.freedesktop.DBus.Error.Failed",
                                                       "The request was dropped without an answer.");
        }
    }
    PendingReply(const PendingReply&) = delete;
    PendingReply& operator=(const PendingReply&) = delete;

    // Sends the first answer only.
    void send(bool value) {
        if (!sent_.exchange(true))
            g_dbus_method_invocation_return_value(invocation_, g_variant_new("(b)", value));
    }

private:
    GDBusMethodInvocation* invocation_;  // answering it gives it up
    std::atomic<bool> sent_{false};
};

XPCReply replyTo(GDBusMethodInvocation* invocation) {
    auto pending = std::make_shared<PendingReply>(invocation);
    return [pending](bool value) { pending->send(value); };
}

struct Credentials {
    ProcessIdentifier pid = 0;
    uid_t uid = 0;
};

// From the bus itself, not from anything the caller says.
std::optional<Credentials> credentialsOf(GDBusConnection* bus, const char* sender) {
    ErrorSlot error;
    GVariantPtr reply(g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetConnectionCredentials",
                                                  g_variant_new("(s)", sender), G_VARIANT_TYPE("(a{sv})"),
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, error.out()));
    if (!reply) return std::nullopt;
    GVariantPtr properties(g_variant_get_child_value(reply.get(), 0));
    guint32 uid = 0;
    if (!g_variant_lookup(properties.get(), "UnixUserID", "u", &uid)) return std::nullopt;
    guint32 pid = 0;
    g_variant_lookup(properties.get(), "ProcessID", "u", &pid);
    return Credentials{static_cast<ProcessIdentifier>(pid), static_cast<uid_t>(uid)};
}

// Its requests run on the listener's thread, one at a time, as they come.
// A thread of its own for each connection would cost every request one more
// switch between threads: a tenth of the ping's round trip, and more under
// load. The exported objects only answer or hand work on; none blocks.
class BusConnection : public XPCConnection {
public:
    explicit BusConnection(ProcessIdentifier pid) : pid_(pid) {}

    void setCodeSigningRequirement(const std::string& requirement) override { requirement_ = requirement; }
    void setExportedInterface(const XPCInterface& interface) override { interface_ = interface; }
    void setExportedObject(std::shared_ptr<XPCExportedObject> object) override {
        exported_ = std::move(object);
    }
    ProcessIdentifier processIdentifier() const override { return pid_; }
    void setInvalidationHandler(std::function<void()> handler) override {
        invalidationHandler_ = std::move(handler);
    }
    void resume() override { isResumed_ = true; }

    bool isResumed() const { return isResumed_; }
    bool hasRequirement() const { return requirement_.has_value(); }
    const std::optional<XPCInterface>& exportedInterface() const { return interface_; }

    // Once accepted: the selector of each method, by member name.
    void exportSelectors() {
        if (!interface_) return;
        for (const auto& selector : interface_->selectors)
            selectors_.emplace(memberForSelector(selector), selector);
    }

    const std::string* selectorFor(const std::string& member) const {
        const auto found = selectors_.find(member);
        return found != selectors_.end() ? &found->second : nullptr;
    }

    void deliver(const std::string& selector, XPCReply reply) {
        if (isInvalidated_ || !exported_) return;
        exported_->invoke(selector, std::move(reply));
    }

    // After the requests that came before; nothing is delivered after it.
    void invalidate() {
        if (isInvalidated_) return;
        isInvalidated_ = true;
        auto handler = std::move(invalidationHandler_);
        invalidationHandler_ = nullptr;
        if (handler) handler();
        exported_.reset();
    }

private:
    const ProcessIdentifier pid_;
    // Touched on the listener's thread only.
    std::optional<std::string> requirement_;
    std::optional<XPCInterface> interface_;
    std::map<std::string, std::string> selectors_;
    std::shared_ptr<XPCExportedObject> exported_;
    std::function<void()> invalidationHandler_;
    bool isResumed_ = false;
    bool isInvalidated_ = false;
};

struct Peer {
    std::shared_ptr<BusConnection> connection;
    // Why its messages are refused, if they are.
    std::optional<std::string> refusal;
    // What it sees at the object path; owned by the listener.
    GDBusInterfaceInfo* interfaceInfo = nullptr;
};

// Everything below is touched only on the listener's thread once resumed.
struct ListenerState {
    GDBusConnection* bus = nullptr;
    ServiceAddress address;
    XPCListener* listener = nullptr;
    XPCListenerDelegate* delegate = nullptr;
    uid_t uid = ::geteuid();
    std::unique_ptr<SerialQueue> queue;
    guint subtree = 0;
    guint subscription = 0;
    std::map<std::string, Peer> peers;
    std::optional<XPCInterface> lastInterface;
    std::map<std::string, GDBusNodeInfo*> nodes;

    ~ListenerState() {
        for (auto& [xml, node] : nodes) g_dbus_node_info_unref(node);
    }

    GDBusInterfaceInfo* interfaceInfo(const XPCInterface& interface) {
        std::string xml = "<node><interface name='" + address.interfaceFor(interface.protocolName) + "'>";
        for (const auto& selector : interface.selectors) {
            xml += "<method name='" + memberForSelector(selector) +
                   "'><arg type='b' name='reply' direction='out'/></method>";
        }
        xml += "</interface></node>";
        auto found = nodes.find(xml);
        if (found == nodes.end()) {
            ErrorSlot error;
            GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml.c_str(), error.out());
            if (node == nullptr) return nullptr;
            found = nodes.emplace(xml, node).first;
        }
        return found->second->interfaces[0];
    }

    // The peer's connection, made and offered to the delegate at its first message.
    Peer* peer(const char* sender) {
        if (sender == nullptr) return nullptr;
        if (auto found = peers.find(sender); found != peers.end()) return &found->second;
        const auto credentials = credentialsOf(bus, sender);
        if (!credentials) return nullptr;  // already gone
        Peer made{std::make_shared<BusConnection>(credentials->pid), std::nullopt};
        const bool accepted =
            delegate != nullptr && delegate->shouldAcceptNewConnection(*listener, *made.connection);
        if (made.connection->exportedInterface()) lastInterface = made.connection->exportedInterface();
        if (!accepted || !made.connection->isResumed()) {
            made.refusal = "The connection was not accepted.";
        } else if (made.connection->hasRequirement() && credentials->uid != uid) {
            made.refusal = "Only processes of the user who runs this service may call it.";
        }
        if (made.refusal) {
            made.connection->invalidate();
        } else {
            made.connection->exportSelectors();
        }
        // Refused peers see the interface too, so that their calls get
        // AccessDenied rather than "no such method".
        auto interface = made.connection->exportedInterface();
        if (!interface && made.refusal) interface = lastInterface;
        if (interface) made.interfaceInfo = interfaceInfo(*interface);
        return &(peers[sender] = std::move(made));
    }

    void peerLeft(const std::string& name) {
        auto found = peers.find(name);
        if (found == peers.end()) return;
        found->second.connection->invalidate();
        peers.erase(found);
    }
};

void handleCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* member,
                GVariant*, GDBusMethodInvocation* invocation, gpointer data) {
    auto* state = static_cast<ListenerState*>(data);
    auto found = sender != nullptr ? state->peers.find(sender) : state->peers.end();
    if (found == state->peers.end()) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Disconnected",
                                                   "The connection has ended.");
        return;
    }
    Peer& peer = found->second;
    if (peer.refusal) {
        g_dbus_method_invocation_return_dbus_error(invocation, accessDeniedError, peer.refusal->c_str());
        return;
    }
    const std::string* selector = peer.connection->selectorFor(member);
    if (selector == nullptr) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                                   "No such method.");
        return;
    }
    peer.connection->deliver(*selector, replyTo(invocation));
}

const GDBusInterfaceVTable callVTable = {handleCall, nullptr, nullptr, {}};

gchar** enumerateNodes(GDBusConnection*, const gchar*, const gchar*, gpointer) { return g_new0(gchar*, 1); }

// What the peer sees at the path: the interface its connection exports.
// GDBus asks before every call, so the answer is made once per peer.
GDBusInterfaceInfo** introspectNode(GDBusConnection*, const gchar* sender, const gchar*, const gchar* node,
                                    gpointer data) {
    auto* state = static_cast<ListenerState*>(data);
    if (node != nullptr) return nullptr;
    Peer* peer = state->peer(sender);
    if (peer == nullptr || peer->interfaceInfo == nullptr) return nullptr;
    auto** infos = g_new0(GDBusInterfaceInfo*, 2);
    infos[0] = g_dbus_interface_info_ref(peer->interfaceInfo);
    return infos;
}

const GDBusInterfaceVTable* dispatchNode(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                         const gchar*, gpointer* callData, gpointer data) {
    *callData = data;
    return &callVTable;
}

const GDBusSubtreeVTable subtreeVTable = {enumerateNodes, introspectNode, dispatchNode, {}};

struct Leaving {
    ListenerState* state;
    std::string name;
};

// The bus tells of a peer's leaving after everything the peer sent, but
// GDBus hands a call to a subtree over in two steps (an idle source of high
// priority looks up the node, one of default priority delivers the call),
// so the news can overtake the peer's last calls. The connection ends at
// idle priority, once every call already on its way has been delivered.
void nameOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                      GVariant* parameters, gpointer data) {
    const gchar* name = nullptr;
    const gchar* oldOwner = nullptr;
    const gchar* newOwner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", &name, &oldOwner, &newOwner);
    // A unique name that loses its owner has left the bus for good.
    if (name[0] != ':' || newOwner[0] != '\0') return;
    GSource* idle = g_idle_source_new();
    g_source_set_priority(idle, G_PRIORITY_DEFAULT_IDLE);
    g_source_set_callback(
        idle,
        [](gpointer leaving) -> gboolean {
            static_cast<Leaving*>(leaving)->state->peerLeft(static_cast<Leaving*>(leaving)->name);
            return G_SOURCE_REMOVE;
        },
        new Leaving{static_cast<ListenerState*>(data), name},
        [](gpointer leaving) { delete static_cast<Leaving*>(leaving); });
    // This callback runs on the listener's thread, in its context.
    g_source_attach(idle, g_main_context_get_thread_default());
    g_source_unref(idle);
}

class BusListener : public XPCListener {
public:
    BusListener(GDBusConnection* bus, const std::string& machServiceName)
        : state_(std::make_unique<ListenerState>()) {
        state_->bus = bus;
        state_->address = serviceAddressFor(machServiceName);
        state_->listener = this;
    }

    ~BusListener() override {
        if (!state_->queue) return;
        g_dbus_connection_unregister_subtree(state_->bus, state_->subtree);
        g_dbus_connection_signal_unsubscribe(state_->bus, state_->subscription);
        ErrorSlot ignored;
        GVariantPtr(g_dbus_connection_call_sync(state_->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "ReleaseName",
                                                g_variant_new("(s)", state_->address.busName.c_str()),
                                                nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, ignored.out()));
        // The connections end on the listener's thread, after the requests
        // already there; then nothing more runs there (invalidation handlers
        // may use the delegate).
        state_->queue->async([state = state_.get()] {
            for (auto& [name, peer] : state->peers) peer.connection->invalidate();
        });
        state_->queue->closeAndWait();
    }

    void setDelegate(XPCListenerDelegate* delegate) override { state_->delegate = delegate; }

    void resume() override {
        if (state_->queue || state_->bus == nullptr) return;
        // Callbacks registered while the listener's context is the
        // thread's default run on the listener's thread.
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        ErrorSlot error;
        state_->subtree = g_dbus_connection_register_subtree(state_->bus, state_->address.objectPath.c_str(),
                                                             &subtreeVTable, G_DBUS_SUBTREE_FLAGS_NONE,
                                                             state_.get(), nullptr, error.out());
        state_->subscription = g_dbus_connection_signal_subscribe(
            state_->bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
            "/org/freedesktop/DBus", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, nameOwnerChanged, state_.get(),
            nullptr);
        g_main_context_pop_thread_default(context);
        state_->queue = std::make_unique<SerialQueue>("xpc.listener", context);
        g_main_context_unref(context);
        if (state_->subtree == 0) {
            g_warning("Cannot serve %s: %s", state_->address.objectPath.c_str(), error.message().c_str());
            return;
        }
        // Only now take the name: a caller that finds it finds the object.
        // Behind another owner, this one takes over when that one leaves.
        ErrorSlot nameError;
        GVariantPtr reply(g_dbus_connection_call_sync(
            state_->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", state_->address.busName.c_str(), 0u), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nameError.out()));
        if (!reply)
            g_warning("Cannot own %s: %s", state_->address.busName.c_str(), nameError.message().c_str());
    }

private:
    std::unique_ptr<ListenerState> state_;
};

}  // namespace

std::unique_ptr<XPCListener> BusXPC::makeListener(const std::string& machServiceName) {
    return std::make_unique<BusListener>(bus_, machServiceName);
}

}  // namespace platform::linux_platform
