// The main app's side of the helper's contract on macOS, for scripts/demo: an
// NSXPCConnection to the agent's Mach service.
//   quillory-helper-client ping|paste ... [--timeout SECONDS]
//       Sends the requests in order on one connection, waiting for each reply
//       (at most SECONDS, 25 unless told) and printing it. Stops at the first
//       that is not answered true. Exit status: 0 when every reply is true,
//       1 when one is false, 2 when one got no reply (an error or the time
//       ran out).
// The agent serves only clients that meet its requirement: the main app, and
// in a development build the client that QUILLORY_DEV_CLIENT_REQUIREMENT names.
#import <Foundation/Foundation.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "AutoPasteHelperProtocol.h"
#include "mac-agent-connection.h"

namespace {

constexpr double defaultTimeoutSeconds = 25;

enum class Outcome { replyTrue, replyFalse, noReply };

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s ping|paste ... [--timeout SECONDS]\n", program);
    return 2;
}

// One request's answer. The reply block and the error handler run on the
// connection's private queue, and NSXPC calls exactly one of them; an answer
// after the wait has given up is ignored.
struct Answer {
    std::mutex mutex;
    std::optional<bool> value;
    NSError* error = nil;
    bool abandoned = false;
    dispatch_semaphore_t arrived = dispatch_semaphore_create(0);

    void settle(std::optional<bool> reply, NSError* failure) {
        {
            std::lock_guard lock(mutex);
            if (abandoned || value || error != nil) return;
            value = reply;
            error = failure;
        }
        dispatch_semaphore_signal(arrived);
    }
};

Outcome send(NSXPCConnection* connection, const std::string& command, double timeoutSeconds,
             bool answeredBefore) {
    const bool isPing = command == "ping";
    const char* selector = isPing ? "pingWithReply:" : "pasteWithReply:";
    auto answer = std::make_shared<Answer>();
    id<AutoPasteHelperXPC> proxy = [connection remoteObjectProxyWithErrorHandler:^(NSError* error) {
      answer->settle(std::nullopt, error);
    }];
    void (^reply)(BOOL) = ^(BOOL value) {
      answer->settle(value != NO, nil);
    };
    if (isPing) {
        [proxy pingWithReply:reply];
    } else {
        [proxy pasteWithReply:reply];
    }

    const dispatch_time_t deadline =
        dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(timeoutSeconds * NSEC_PER_SEC));
    const bool arrived = dispatch_semaphore_wait(answer->arrived, deadline) == 0;
    std::lock_guard lock(answer->mutex);
    if (!arrived) {
        answer->abandoned = true;
        std::fprintf(stderr, "%s: no reply within %g s\n", selector, timeoutSeconds);
        return Outcome::noReply;
    }
    if (answer->error != nil) {
        std::fprintf(stderr, "%s failed: %s (%s %ld)\n", selector,
                     answer->error.localizedDescription.UTF8String, answer->error.domain.UTF8String,
                     static_cast<long>(answer->error.code));
        explainConnectionError(answer->error, answeredBefore);
        return Outcome::noReply;
    }
    std::printf("%s -> %s\n", selector, *answer->value ? "true" : "false");
    std::fflush(stdout);
    return *answer->value ? Outcome::replyTrue : Outcome::replyFalse;
}

}  // namespace

int main(int argc, char** argv) {
    @autoreleasepool {
        std::vector<std::string> commands;
        double timeoutSeconds = defaultTimeoutSeconds;
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
                timeoutSeconds = std::atof(argv[++i]);
            } else if (std::strcmp(argv[i], "ping") == 0 || std::strcmp(argv[i], "paste") == 0) {
                commands.emplace_back(argv[i]);
            } else {
                return usage(argv[0]);
            }
        }
        if (commands.empty() || timeoutSeconds <= 0) return usage(argv[0]);

        NSXPCConnection* connection = connectToAgent();
        Outcome outcome = Outcome::replyTrue;
        bool answeredBefore = false;
        for (const auto& command : commands) {
            outcome = send(connection, command, timeoutSeconds, answeredBefore);
            if (outcome != Outcome::replyTrue) break;
            answeredBefore = true;
        }
        [connection invalidate];
        switch (outcome) {
            case Outcome::replyTrue:
                return 0;
            case Outcome::replyFalse:
                return 1;
            case Outcome::noReply:
                return 2;
        }
        return 2;
    }
}
