#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake/FakeScheduler.h"
#include "platform/XPC.h"

namespace fake {

class FakeXPC;

class FakeListener : public platform::XPCListener {
public:
    FakeListener(FakeXPC& xpc, std::string machServiceName, FakeQueue& queue)
        : machServiceName(std::move(machServiceName)), queue(queue), xpc_(xpc) {}
    ~FakeListener() override;

    void setDelegate(platform::XPCListenerDelegate* newDelegate) override { delegate = newDelegate; }
    void resume() override { resumed = true; }

    std::string machServiceName;
    FakeQueue& queue;
    platform::XPCListenerDelegate* delegate = nullptr;
    bool resumed = false;

private:
    FakeXPC& xpc_;
};

struct FakeReply {
    std::size_t request;
    bool value;
    std::string queue;
    Nanos at;
};

// One client's connection, seen from both sides.
class FakeConnection : public platform::XPCConnection, public std::enable_shared_from_this<FakeConnection> {
public:
    FakeConnection(FakeScheduler& scheduler, platform::ProcessIdentifier pid, bool meetsRequirement);

    void setCodeSigningRequirement(const std::string& text) override { requirement = text; }
    void setExportedInterface(const platform::XPCInterface& interface) override {
        exportedInterface = interface;
    }
    void setExportedObject(std::shared_ptr<platform::XPCExportedObject> object) override {
        exportedObject = std::move(object);
    }
    // An ended connection no longer names its peer, whose pid may be reused.
    platform::ProcessIdentifier processIdentifier() const override { return invalidated ? 0 : pid_; }
    void setInvalidationHandler(std::function<void()> handler) override {
        invalidationHandler = std::move(handler);
    }
    void resume() override { resumed = true; }

    // The client's side: sends a request; returns its number.
    std::size_t send(const std::string& selector);
    // The client closes the connection.
    void close();

    // Replies received by the client, in order of arrival.
    std::vector<FakeReply> replies;
    std::size_t requestsSent = 0;
    std::size_t requestsDelivered = 0;
    // Requests refused by the platform before reaching the exported object.
    std::vector<std::string> refused;

    std::optional<std::string> requirement;
    std::optional<platform::XPCInterface> exportedInterface;
    std::shared_ptr<platform::XPCExportedObject> exportedObject;
    std::function<void()> invalidationHandler;
    bool accepted = false;
    bool resumed = false;
    bool invalidated = false;
    FakeQueue& queue;

private:
    void invalidate();

    FakeScheduler& scheduler_;
    platform::ProcessIdentifier pid_;
    bool meetsRequirement_;
};

struct ClientOptions {
    platform::ProcessIdentifier pid = 700;
    bool meetsRequirement = true;
};

class FakeXPC : public platform::XPC {
public:
    explicit FakeXPC(FakeScheduler& scheduler) : scheduler_(scheduler) {}

    std::unique_ptr<platform::XPCListener> makeListener(const std::string& machServiceName) override;

    // A client connects to the named service; the listener's delegate hears
    // of it on the listener's queue.
    std::shared_ptr<FakeConnection> connect(const std::string& machServiceName, ClientOptions options = {});

    FakeListener* listener(const std::string& machServiceName) const;
    std::vector<std::string> listenersMade;

    // The process ends: every connection lets go of its exported object and
    // handler without calling them.
    void dropConnections();

private:
    friend class FakeListener;
    FakeScheduler& scheduler_;
    std::vector<FakeListener*> listeners_;
    // The platform keeps each connection alive while it is valid.
    std::vector<std::shared_ptr<FakeConnection>> connections_;
};

}  // namespace fake
