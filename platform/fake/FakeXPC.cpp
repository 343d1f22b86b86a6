#include "fake/FakeXPC.h"

#include <algorithm>

namespace fake {

FakeListener::~FakeListener() { std::erase(xpc_.listeners_, this); }

FakeConnection::FakeConnection(FakeScheduler& scheduler, platform::ProcessIdentifier pid,
                               bool meetsRequirement)
    : queue(scheduler.makeQueue("xpc.connection." + std::to_string(pid))),
      scheduler_(scheduler),
      pid_(pid),
      meetsRequirement_(meetsRequirement) {}

std::size_t FakeConnection::send(const std::string& selector) {
    const std::size_t request = requestsSent++;
    auto self = shared_from_this();
    queue.async([self, selector, request] {
        if (!self->resumed || self->invalidated) {
            self->refused.push_back(selector);
            return;
        }
        // The platform checks the client's signature on its messages and
        // drops a client that fails the requirement.
        if (self->requirement && !self->meetsRequirement_) {
            self->refused.push_back(selector);
            self->invalidate();
            return;
        }
        const auto& selectors =
            self->exportedInterface ? self->exportedInterface->selectors : std::vector<std::string>{};
        if (!self->exportedObject ||
            std::find(selectors.begin(), selectors.end(), selector) == selectors.end()) {
            self->refused.push_back(selector);
            return;
        }
        ++self->requestsDelivered;
        std::weak_ptr<FakeConnection> weak = self;
        self->exportedObject->invoke(selector, [weak, request](bool value) {
            if (auto connection = weak.lock()) {
                connection->replies.push_back(FakeReply{request, value,
                                                        connection->scheduler_.currentQueueLabel(),
                                                        connection->scheduler_.now()});
            }
        });
    });
    return request;
}

void FakeConnection::close() {
    auto self = shared_from_this();
    queue.async([self] { self->invalidate(); });
}

void FakeConnection::invalidate() {
    if (invalidated) return;
    invalidated = true;
    if (invalidationHandler) invalidationHandler();
    invalidationHandler = nullptr;
    exportedObject.reset();
}

std::unique_ptr<platform::XPCListener> FakeXPC::makeListener(const std::string& machServiceName) {
    listenersMade.push_back(machServiceName);
    auto listener = std::make_unique<FakeListener>(*this, machServiceName,
                                                   scheduler_.makeQueue("xpc.listener." + machServiceName));
    listeners_.push_back(listener.get());
    return listener;
}

void FakeXPC::dropConnections() {
    const auto connections = std::move(connections_);
    connections_.clear();
    for (const auto& connection : connections) {
        connection->invalidationHandler = nullptr;
        connection->exportedObject.reset();
    }
}

FakeListener* FakeXPC::listener(const std::string& machServiceName) const {
    for (auto* listener : listeners_) {
        if (listener->machServiceName == machServiceName) return listener;
    }
    return nullptr;
}

std::shared_ptr<FakeConnection> FakeXPC::connect(const std::string& machServiceName, ClientOptions options) {
    auto connection = std::make_shared<FakeConnection>(scheduler_, options.pid, options.meetsRequirement);
    connections_.push_back(connection);
    FakeListener* target = listener(machServiceName);
    if (target == nullptr) {
        connection->invalidated = true;
        return connection;
    }
    target->queue.async([this, machServiceName, connection] {
        FakeListener* current = listener(machServiceName);
        if (current == nullptr || !current->resumed || current->delegate == nullptr) {
            connection->invalidated = true;
            return;
        }
        connection->accepted = current->delegate->shouldAcceptNewConnection(*current, *connection);
        if (!connection->accepted) connection->invalidated = true;
    });
    return connection;
}

}  // namespace fake
