#pragma once

#include <gio/gio.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Bundles.h"
#include "platform/Dispatch.h"
#include "platform/ServiceManagement.h"

// The login-item service, the way the Linux desktop starts programs on
// demand and at login:
// - an agent's launch-agent property list (in the bundle's
//   Contents/Library/LaunchAgents) names its program, its environment and
//   its Mach services;
// - registering writes one D-Bus activation file per Mach service into
//   $XDG_DATA_HOME/dbus-1/services/ (the bus starts the agent at the first
//   request, as launchd does); with RunAtLoad true it also writes an
//   autostart entry <Label>.desktop into $XDG_CONFIG_HOME/autostart/ (it
//   starts at login) and starts it now, as launchd runs such a job when it
//   loads it; without RunAtLoad there is no entry and no start;
// - the user turns it off in the desktop's startup applications (Hidden=true
//   or X-GNOME-Autostart-enabled=false): "requires approval";
// - the application's own login item is its autostart entry
//   <bundle identifier>.desktop.
// Both kinds of start put the new-instance marker into the environment.
namespace platform::linux_platform {

struct AgentDefinition {
    std::string label;
    // The program and its arguments.
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;
    std::vector<std::string> machServices;
    // launchd's RunAtLoad: started at login and at registration. Absent
    // means false, as for launchd.
    bool runAtLoad = false;
};

// None when the property list is missing, unreadable, or names no label or
// program.
std::optional<AgentDefinition> readAgentDefinition(const std::string& bundlePath,
                                                   const std::string& plistName);

// Where the files go, read from the environment on each use.
std::string activationFilePath(const std::string& busName);
std::string autostartFilePath(const std::string& name);

// A command line for a desktop file or a D-Bus service file: env with the
// variables, then the arguments, each quoted.
std::string commandLine(const std::map<std::string, std::string>& environment,
                        const std::vector<std::string>& arguments);

class LinuxServiceManagement : public ServiceManagement {
public:
    // `bus` may be null. Asynchronous replies come on `systemQueue`.
    LinuxServiceManagement(GDBusConnection* bus, DispatchQueue& systemQueue, const BundleInfo& mainBundle);

    std::shared_ptr<AppService> agent(const std::string& plistName) override;
    std::shared_ptr<AppService> mainApp() override;
    // The desktop's startup-applications tool if one is installed, else the
    // autostart folder in the file manager. Failures are ignored.
    void openSystemSettingsLoginItems() override;

private:
    GDBusConnection* bus_;
    DispatchQueue& systemQueue_;
    BundleInfo mainBundle_;
    // Read at start: an agent whose bundle was deleted since can still be
    // unregistered, as launchd still knows a loaded job.
    std::map<std::string, AgentDefinition> agentsAtStart_;
};

}  // namespace platform::linux_platform
