#include "PasteService.h"

#include <string>

#include "DevelopmentClient.h"
#include "LogSubsystem.h"
#include "platform/Dispatch.h"

namespace quillory {

PasteService::PasteService(std::shared_ptr<Paster> paster, std::function<bool()> isInstalled,
                           std::function<void()> onUninstalled)
    : log(logSubsystem, "xpc"),
      servedRequirement(HelperXPC::servedClientRequirement(DevelopmentClient::requirement())),
      listener(platform::XPC::shared().makeListener(std::string(HelperXPC::machServiceName))),
      paster(std::move(paster)),
      isInstalled(std::move(isInstalled)),
      onUninstalled(std::move(onUninstalled)) {}

void PasteService::start() {
    listener->setDelegate(this);
    listener->resume();
    log.info("Listening on %{public}s", HelperXPC::machServiceName);
    // At the default level: whoever reads the log must see that this agent
    // admits more than the main app.
    if (!DevelopmentClient::requirement().empty()) {
        log.notice("Development build: serving clients that meet %{public}s", servedRequirement);
    }
}

bool PasteService::shouldAcceptNewConnection(platform::XPCListener&, platform::XPCConnection& connection) {
    // Every connection is accepted; the platform enforces the requirement on
    // it, so a client that fails it never reaches ping or paste.
    connection.setCodeSigningRequirement(servedRequirement);
    connection.setExportedInterface(AutoPasteHelperXPC::interface());
    connection.setExportedObject(shared_from_this());
    const platform::ProcessIdentifier pid = connection.processIdentifier();
    // Holds neither the service nor the connection: the connection keeps its
    // handler, and the pid may no longer be readable once it has ended.
    connection.setInvalidationHandler([log = log, pid] { log.info("Connection from pid %d ended", pid); });
    connection.resume();
    log.info("Connection from pid %d", pid);
    return true;
}

void PasteService::ping(Reply reply) {
    if (isInstalled()) {
        reply(true);
        return;
    }
    reply(false);
    platform::DispatchQueue::main().async(onUninstalled);
}

void PasteService::paste(Reply reply) {
    if (!isInstalled()) {
        reply(false);
        platform::DispatchQueue::main().async(onUninstalled);
        return;
    }
    // The work item holds what the paste needs, not the service.
    platform::DispatchQueue::main().async(
        [paster = paster, reply = std::move(reply)] { paster->paste(reply); });
}

}  // namespace quillory
