#include "fake/FakeServiceManagement.h"

#include <algorithm>

namespace fake {

class FakeAppService : public platform::AppService {
public:
    FakeAppService(FakeServiceManagement& owner, FakeLoginItemState& state, std::string item)
        : owner_(owner), state_(state), item_(std::move(item)) {}

    std::int64_t status() override {
        record("status");
        return state_.status;
    }

    bool registerService(platform::Error* error) override {
        record("register");
        if (state_.registerError) {
            if (error) *error = *state_.registerError;
            return false;
        }
        state_.status = platform::appServiceEnabled;
        return true;
    }

    bool unregister(platform::Error* error) override {
        record("unregister");
        if (state_.unregisterError) {
            if (error) *error = *state_.unregisterError;
            return false;
        }
        state_.status = platform::appServiceNotRegistered;
        return true;
    }

    void unregister(UnregisterCompletion completion) override {
        record("unregisterAsync");
        const UnregisterReply reply = state_.unregisterReply;
        if (reply.when == UnregisterReply::When::never) return;
        if (!reply.error) state_.status = platform::appServiceNotRegistered;
        owner_.scheduler_.systemQueue().asyncAfter(reply.afterSeconds,
                                                   [completion, error = reply.error] { completion(error); });
    }

private:
    void record(const char* operation) {
        owner_.calls.push_back(
            LoginItemCall{item_, operation, owner_.scheduler_.now(), owner_.scheduler_.currentQueueLabel()});
        if (owner_.onCall) owner_.onCall(owner_.calls.back());
    }

    FakeServiceManagement& owner_;
    FakeLoginItemState& state_;
    std::string item_;
};

std::shared_ptr<platform::AppService> FakeServiceManagement::agent(const std::string& plistName) {
    agentPlistNames.push_back(plistName);
    return std::make_shared<FakeAppService>(*this, agentState, "agent");
}

std::shared_ptr<platform::AppService> FakeServiceManagement::mainApp() {
    return std::make_shared<FakeAppService>(*this, mainAppState, "mainApp");
}

std::size_t FakeServiceManagement::count(const std::string& item, const std::string& operation) const {
    return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [&](const LoginItemCall& call) {
        return call.item == item && call.operation == operation;
    }));
}

}  // namespace fake
