#include "mac-agent-connection.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "AutoPasteHelperProtocol.h"
#include "HelperXPC.h"

namespace {

// The launchd label of the agent: its property list's name without ".plist".
constexpr const char* agentLabel = "me.ombrel.quillory.autopastehelper.agent";

std::string serviceName() { return std::string(quillory::HelperXPC::machServiceName); }

void printAdmission() {
    std::fprintf(
        stderr,
        "  The agent serves the main app alone, unless it was built with\n"
        "  -DQUILLORY_DEV_CLIENT_REQUIREMENT='cdhash H\"<hash>\"' naming this program's code directory\n"
        "  hash (codesign --display --verbose=4 <program> prints it as CDHash); then it says at start\n"
        "  \"Development build: serving clients that meet ...\". scripts/demo builds it that way.\n");
}

}  // namespace

NSXPCConnection* connectToAgent() {
    // A launch agent of this user's login session: no privileged lookup.
    NSXPCConnection* connection =
        [[NSXPCConnection alloc] initWithMachServiceName:[NSString stringWithUTF8String:serviceName().c_str()]
                                                 options:0];
    connection.remoteObjectInterface = [NSXPCInterface interfaceWithProtocol:@protocol(AutoPasteHelperXPC)];
    [connection resume];
    return connection;
}

void explainConnectionError(NSError* error, bool answeredBefore) {
    if (![error.domain isEqualToString:NSCocoaErrorDomain]) return;
    const unsigned uid = getuid();
    if (error.code == NSXPCConnectionInterrupted && !answeredBefore) {
        // A client that fails the agent's requirement has been seen to get
        // this, not "invalid", before any reply.
        std::fprintf(stderr,
                     "  The agent refused this client, or the agent exited. Check:\n"
                     "  - whether it still runs, and how it last exited: launchctl print gui/%u/%s\n"
                     "  - its log, which says whom it serves:\n"
                     "    log show --last 5m --info --predicate 'subsystem == "
                     "\"me.ombrel.quillory.autopastehelper\"'\n",
                     uid, agentLabel);
        printAdmission();
    } else if (error.code == NSXPCConnectionInterrupted) {
        std::fprintf(stderr,
                     "  The agent exited before it answered; it had answered this client before. Check:\n"
                     "  launchctl print gui/%u/%s (its last exit status) and its log.\n",
                     uid, agentLabel);
    } else if (error.code == NSXPCConnectionInvalid) {
        std::fprintf(
            stderr,
            "  No agent serves %s here: it is not registered, or not reachable in this session. Check:\n"
            "  - launchctl print gui/%u/%s: launchd knows the agent once the set-up registered it\n"
            "  - System Settings > General > Login Items: Quillory Helper is allowed\n"
            "  - this program runs in the Mac's login session (a terminal on its desktop, not over SSH)\n",
            serviceName().c_str(), uid, agentLabel);
        printAdmission();
    }
}
