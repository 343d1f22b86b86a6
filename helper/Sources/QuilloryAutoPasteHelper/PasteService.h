#pragma once

#include <functional>
#include <memory>
#include <string>

#include "HelperXPC.h"
#include "Paster.h"
#include "platform/Log.h"
#include "platform/XPC.h"

namespace quillory {

// The agent's only entry for requests: listens on the Mach service, accepts
// the main app's connections under the client requirement (in a development
// build, the demo client's as well), answers ping itself and hands every
// paste to the Paster on the main queue.
//
// Create it with std::make_shared: every connection exports the service
// itself. Its fields never change after construction, so the connections'
// queues may use it without locks.
class PasteService : public AutoPasteHelperXPC,
                     public platform::XPCListenerDelegate,
                     public std::enable_shared_from_this<PasteService> {
public:
    // `isInstalled` is called on the connections' queues; `onUninstalled`
    // runs on the main queue, once for each request that found the copy gone.
    PasteService(std::shared_ptr<Paster> paster, std::function<bool()> isInstalled,
                 std::function<void()> onUninstalled);

    // Connections are accepted from here on.
    void start();

    bool shouldAcceptNewConnection(platform::XPCListener& listener,
                                   platform::XPCConnection& connection) override;

    void ping(Reply reply) override;
    void paste(Reply reply) override;

private:
    const platform::Logger log;
    const std::string servedRequirement;
    const std::unique_ptr<platform::XPCListener> listener;
    const std::shared_ptr<Paster> paster;
    const std::function<bool()> isInstalled;
    const std::function<void()> onUninstalled;
};

}  // namespace quillory
