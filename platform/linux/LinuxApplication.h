#pragma once

#include <gio/gio.h>

#include <memory>

#include "ApplicationInstance.h"
#include "LinuxDesktop.h"
#include "platform/Application.h"
#include "platform/Dispatch.h"

namespace platform::linux_platform {

// The application object: GLib's default main loop is its event loop.
class LinuxApplication : public Application {
public:
    // `bus` may be null (no session bus): then every start runs on its own.
    LinuxApplication(GDBusConnection* bus, DispatchQueue& mainQueue,
                     const std::optional<std::string>& bundleIdentifier, bool launchedAsNewInstance,
                     linux_desktop::Desktop* desktop);

    void setDelegate(ApplicationDelegate* delegate) override { delegate_ = delegate; }
    // Linux has no Dock or menu bar to stay out of.
    void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
    // Forwards a reopen to the running instance and ends, or delivers
    // applicationDidFinishLaunching and runs the loop for good.
    int run() override;
    void activate() override;
    void terminate() override;

    ActivationPolicy activationPolicy() const { return policy_; }

    // Sends what is queued on the bus and ends the process. Static
    // destructors are skipped: the bus and connection threads still run.
    [[noreturn]] static void endProcess(GDBusConnection* bus, int status);

private:
    GDBusConnection* bus_;
    DispatchQueue& mainQueue_;
    bool launchedAsNewInstance_;
    linux_desktop::Desktop* desktop_;
    std::unique_ptr<ApplicationInstance> instance_;
    ApplicationDelegate* delegate_ = nullptr;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    bool isTerminating_ = false;
};

}  // namespace platform::linux_platform
