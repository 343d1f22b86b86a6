#pragma once

#include "platform/ServiceManagement.h"

namespace platform::macos {

// SMAppService: the agent of a property list in Contents/Library/LaunchAgents,
// and the application's own login item.
class MacServiceManagement : public ServiceManagement {
public:
    std::shared_ptr<AppService> agent(const std::string& plistName) override;
    std::shared_ptr<AppService> mainApp() override;
    void openSystemSettingsLoginItems() override;
};

}  // namespace platform::macos
