#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake/FakeScheduler.h"
#include "platform/ServiceManagement.h"

namespace fake {

// How the login-item service answers an asynchronous unregister.
struct UnregisterReply {
    enum class When { immediately, after, never } when = When::immediately;
    double afterSeconds = 0;
    std::optional<platform::Error> error;

    static UnregisterReply at_once(std::optional<platform::Error> error = {}) {
        return {When::immediately, 0, std::move(error)};
    }
    static UnregisterReply late(double seconds, std::optional<platform::Error> error = {}) {
        return {When::after, seconds, std::move(error)};
    }
    static UnregisterReply none() { return {When::never, 0, {}}; }
};

struct LoginItemCall {
    std::string item;       // "agent" or "mainApp"
    std::string operation;  // "status", "register", "unregister", "unregisterAsync"
    Nanos at;
    std::string queue;  // the queue the caller ran on, or "none"
};

// One login item's scripted state, shared by every service object made for it.
struct FakeLoginItemState {
    std::int64_t status = platform::appServiceNotRegistered;
    std::optional<platform::Error> registerError;
    std::optional<platform::Error> unregisterError;
    UnregisterReply unregisterReply;
};

class FakeServiceManagement : public platform::ServiceManagement {
public:
    explicit FakeServiceManagement(FakeScheduler& scheduler) : scheduler_(scheduler) {}

    std::shared_ptr<platform::AppService> agent(const std::string& plistName) override;
    std::shared_ptr<platform::AppService> mainApp() override;
    void openSystemSettingsLoginItems() override {
        ++loginItemsSettingsOpened;
        loginItemsSettingsOpenedAt.push_back(scheduler_.now());
    }

    std::size_t count(const std::string& item, const std::string& operation) const;

    FakeLoginItemState agentState;
    FakeLoginItemState mainAppState;
    std::vector<std::string> agentPlistNames;
    std::vector<LoginItemCall> calls;
    // Lets a test look at the world at the moment of a call.
    std::function<void(const LoginItemCall&)> onCall;
    int loginItemsSettingsOpened = 0;
    std::vector<Nanos> loginItemsSettingsOpenedAt;

private:
    friend class FakeAppService;
    FakeScheduler& scheduler_;
};

}  // namespace fake
