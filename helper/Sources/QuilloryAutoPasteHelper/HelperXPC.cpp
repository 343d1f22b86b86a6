#include "HelperXPC.h"

#include <string>

#include "platform/DistributedNotificationCenter.h"

namespace quillory {

std::string HelperXPC::servedClientRequirement(std::string_view developmentClientRequirement) {
    if (developmentClientRequirement.empty()) return std::string(clientRequirement);
    // Each side in parentheses: either may hold an "or" of its own.
    return "(" + std::string(clientRequirement) + ") or (" + std::string(developmentClientRequirement) + ")";
}

void HelperXPC::post(std::string_view name) {
    platform::DistributedNotificationCenter::shared().postNotificationName(std::string(name), true);
}

platform::XPCInterface AutoPasteHelperXPC::interface() {
    return platform::XPCInterface{std::string(protocolName),
                                  {std::string(pingSelector), std::string(pasteSelector)}};
}

void AutoPasteHelperXPC::invoke(std::string_view selector, Reply reply) {
    if (selector == pingSelector) {
        ping(std::move(reply));
    } else if (selector == pasteSelector) {
        paste(std::move(reply));
    } else {
        // The platform delivers only the interface's selectors; should another
        // slip through, it still gets its one answer.
        reply(false);
    }
}

}  // namespace quillory
