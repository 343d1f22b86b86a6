#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"

namespace platform {

// Status values of a login-item service.
enum : std::int64_t {
    appServiceNotRegistered = 0,
    appServiceEnabled = 1,
    appServiceRequiresApproval = 2,
    appServiceNotFound = 3,
};

// One login item: the agent of a property list, or the application itself.
class AppService {
public:
    using UnregisterCompletion = std::function<void(std::optional<Error> error)>;

    virtual ~AppService() = default;
    virtual std::int64_t status() = 0;
    virtual bool registerService(Error* error) = 0;
    virtual bool unregister(Error* error) = 0;
    // The completion runs on a queue of the system's choosing, late, or never.
    virtual void unregister(UnregisterCompletion completion) = 0;
};

class ServiceManagement {
public:
    virtual ~ServiceManagement() = default;
    virtual std::shared_ptr<AppService> agent(const std::string& plistName) = 0;
    virtual std::shared_ptr<AppService> mainApp() = 0;
    virtual void openSystemSettingsLoginItems() = 0;

    static ServiceManagement& shared();
};

}  // namespace platform
