#include "MacServiceManagement.h"

#import <ServiceManagement/ServiceManagement.h>

#include "MacStrings.h"

namespace platform::macos {

namespace {

Error toError(NSError* error) { return Error{toString(error.localizedDescription)}; }

class MacAppService : public AppService {
public:
    explicit MacAppService(SMAppService* service) : service_(service) {}

    std::int64_t status() override { return static_cast<std::int64_t>(service_.status); }

    bool registerService(Error* error) override {
        NSError* failure = nil;
        if ([service_ registerAndReturnError:&failure]) return true;
        if (error != nullptr) *error = toError(failure);
        return false;
    }

    bool unregister(Error* error) override {
        NSError* failure = nil;
        if ([service_ unregisterAndReturnError:&failure]) return true;
        if (error != nullptr) *error = toError(failure);
        return false;
    }

    void unregister(UnregisterCompletion completion) override {
        // Held by the handler until it has run: nothing promises that the
        // service still answers once its last owner lets go of it.
        SMAppService* service = service_;
        [service unregisterWithCompletionHandler:^(NSError* failure) {
          (void)service;
          completion(failure != nil ? std::optional<Error>(toError(failure)) : std::nullopt);
        }];
    }

private:
    SMAppService* service_;
};

}  // namespace

std::shared_ptr<AppService> MacServiceManagement::agent(const std::string& plistName) {
    return std::make_shared<MacAppService>([SMAppService agentServiceWithPlistName:toNSString(plistName)]);
}

std::shared_ptr<AppService> MacServiceManagement::mainApp() {
    return std::make_shared<MacAppService>(SMAppService.mainAppService);
}

void MacServiceManagement::openSystemSettingsLoginItems() { [SMAppService openSystemSettingsLoginItems]; }

}  // namespace platform::macos
