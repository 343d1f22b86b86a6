// The main app's stand-in on a Mac, for scripts/demo and the macOS workflow.
// Its bundle identifier is the main app's, me.ombrel.quillory, since the
// helper tells the main app by it (the main app is never a paste target).
//   quillory-main-app-standin [--output FILE] [--without-contract] [--timeout SECONDS]
//       Comes to the front with a window, then asks the agent to paste the
//       way the main app must (AutoPasteHelperProtocol.h): it hides itself,
//       waits until the next application is active, and only then sends
//       pasteWithReply:. --without-contract sends it at once, from the front,
//       leaving the re-activation to the helper. The reply is printed and,
//       with --output, written to FILE ("pasteWithReply: -> true").
//       Exit status: 0 for true, 1 for false, 2 for no reply (an error, or
//       SECONDS passed, 25 unless told), 3 when it refuses to run.
//   quillory-main-app-standin --check
//       Only the check it makes before it runs: lists the other
//       applications with its bundle identifier, exit status 3 if any.
// It refuses to run beside the main app: while another process with its
// bundle identifier runs, or while Launch Services knows an application of
// that identifier that is not a copy of the stand-in (the real main app).
// Standard output says what happens, one line each: "pid <pid>", "window",
// "active", "hidden", "next active <bundle identifier> <pid>", the reply.
#import <AppKit/AppKit.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AutoPasteHelperProtocol.h"
#include "mac-agent-connection.h"

namespace {

constexpr double defaultTimeoutSeconds = 25;

void say(NSString* line) {
    std::printf("%s\n", line.UTF8String);
    std::fflush(stdout);
}

NSString* describe(NSRunningApplication* application) {
    return [NSString
        stringWithFormat:@"%@ %d", application.bundleIdentifier ?: @"unknown", application.processIdentifier];
}

// What stands in the way, one line each; none when the stand-in may run.
NSArray<NSString*>* otherMainApps() {
    NSMutableArray<NSString*>* found = [NSMutableArray array];
    NSBundle* own = NSBundle.mainBundle;
    NSString* identifier = own.bundleIdentifier;
    if (identifier == nil) {
        [found addObject:@"this program has no bundle identifier: run it from its .app bundle"];
        return found;
    }
    // Processes are compared with isEqual:, as NSRunningApplication.h asks.
    NSRunningApplication* current = NSRunningApplication.currentApplication;
    for (NSRunningApplication* application in
         [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier]) {
        if ([application isEqual:current] || application.terminated) continue;
        [found
            addObject:[NSString stringWithFormat:@"running: %@ (pid %d)", application.bundleURL.path ?: @"?",
                                                 application.processIdentifier]];
    }
    NSString* ownExecutable = own.executableURL.lastPathComponent;
    NSString* ownPath = own.bundleURL.URLByResolvingSymlinksInPath.path;
    for (NSURL* url in [NSWorkspace.sharedWorkspace URLsForApplicationsWithBundleIdentifier:identifier]) {
        if ([url.URLByResolvingSymlinksInPath.path isEqualToString:ownPath]) continue;
        // Another build folder's stand-in is no main app.
        NSBundle* other = [NSBundle bundleWithURL:url];
        if (other != nil && [other.executableURL.lastPathComponent isEqualToString:ownExecutable]) continue;
        [found addObject:[NSString stringWithFormat:@"registered with Launch Services: %@", url.path]];
    }
    return found;
}

int refuseBesideMainApp() {
    NSArray<NSString*>* others = otherMainApps();
    if (others.count == 0) return 0;
    std::fprintf(stderr, "quillory-main-app-standin: another application is %s:\n",
                 NSBundle.mainBundle.bundleIdentifier.UTF8String ?: "the main app");
    for (NSString* line in others) std::fprintf(stderr, "  %s\n", line.UTF8String);
    std::fprintf(
        stderr,
        "  The stand-in takes the main app's bundle identifier and would be mistaken for it: quit the\n"
        "  main app, or run the demo on a Mac (or user account) without it.\n");
    return 3;
}

}  // namespace

@interface QPSStandIn : NSObject <NSApplicationDelegate>
- (instancetype)initWithOutput:(NSString*)output contract:(BOOL)contract timeout:(double)timeout;
@end

@implementation QPSStandIn {
    NSString* _output;
    BOOL _contract;
    double _timeout;
    NSWindow* _window;
    BOOL _asked;
    id _activationObserver;
    NSXPCConnection* _connection;
}

- (instancetype)initWithOutput:(NSString*)output contract:(BOOL)contract timeout:(double)timeout {
    if ((self = [super init])) {
        _output = output;
        _contract = contract;
        _timeout = timeout;
    }
    return self;
}

- (void)finish:(int)status line:(NSString*)line {
    if (line != nil) {
        say(line);
        if (_output != nil) {
            NSError* error = nil;
            if (![[line stringByAppendingString:@"\n"] writeToFile:_output
                                                        atomically:YES
                                                          encoding:NSUTF8StringEncoding
                                                             error:&error]) {
                std::fprintf(stderr, "quillory-main-app-standin: cannot write %s: %s\n", _output.UTF8String,
                             error.localizedDescription.UTF8String);
            }
        }
    }
    [_connection invalidate];
    std::exit(status);
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    _window = [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, 420, 120)
                                          styleMask:NSWindowStyleMaskTitled
                                            backing:NSBackingStoreBuffered
                                              defer:NO];
    _window.title = @"Quillory (stand-in of the main app)";
    _window.releasedWhenClosed = NO;
    [_window center];
    [_window makeKeyAndOrderFront:nil];
    say(@"window");
    [NSApp activate];
    // One deadline for the whole run: coming to the front, the next
    // application, the reply.
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<int64_t>(_timeout * NSEC_PER_SEC)),
                   dispatch_get_main_queue(), ^{
                     const char* missing = self->_asked ? "no reply"
                                           : self->_activationObserver != nil
                                               ? "no other application active after hiding"
                                               : "not in front";
                     std::fprintf(stderr, "quillory-main-app-standin: %s within %g s\n", missing,
                                  self->_timeout);
                     [self finish:2 line:nil];
                   });
}

- (void)applicationDidBecomeActive:(NSNotification*)notification {
    if (_asked || _activationObserver != nil) return;
    say(@"active");
    if (!_contract) {
        [self askForPaste];
        return;
    }
    // Observed before hiding, so that the activation it causes is not missed.
    // Workspace notifications with the main queue arrive on the main thread.
    NSRunningApplication* current = NSRunningApplication.currentApplication;
    __weak QPSStandIn* weakSelf = self;
    _activationObserver = [NSWorkspace.sharedWorkspace.notificationCenter
        addObserverForName:NSWorkspaceDidActivateApplicationNotification
                    object:nil
                     queue:NSOperationQueue.mainQueue
                usingBlock:^(NSNotification* activation) {
                  NSRunningApplication* next = activation.userInfo[NSWorkspaceApplicationKey];
                  if (next == nil || [next isEqual:current]) return;
                  [weakSelf nextApplicationIsActive:next];
                }];
    // Hides every window and activates the next application in line: the
    // one the user worked in before.
    [NSApp hide:nil];
    say(@"hidden");
}

- (void)nextApplicationIsActive:(NSRunningApplication*)next {
    if (_activationObserver == nil) return;
    [NSWorkspace.sharedWorkspace.notificationCenter removeObserver:_activationObserver];
    _activationObserver = nil;
    say([@"next active " stringByAppendingString:describe(next)]);
    [self askForPaste];
}

- (void)askForPaste {
    if (_asked) return;
    _asked = YES;
    _connection = connectToAgent();
    __weak QPSStandIn* weakSelf = self;
    id<AutoPasteHelperXPC> agent = [_connection remoteObjectProxyWithErrorHandler:^(NSError* error) {
      dispatch_async(dispatch_get_main_queue(), ^{
        std::fprintf(stderr, "pasteWithReply: failed: %s (%s %ld)\n", error.localizedDescription.UTF8String,
                     error.domain.UTF8String, static_cast<long>(error.code));
        explainConnectionError(error, false);
        [weakSelf finish:2 line:nil];
      });
    }];
    // The reply arrives on the connection's queue; the rest runs on the main one.
    [agent pasteWithReply:^(BOOL pasted) {
      dispatch_async(dispatch_get_main_queue(), ^{
        [weakSelf finish:pasted ? 0 : 1
                    line:pasted ? @"pasteWithReply: -> true" : @"pasteWithReply: -> false"];
      });
    }];
}

@end

int main(int argc, char** argv) {
    @autoreleasepool {
        const char* output = nullptr;
        bool contract = true;
        bool checkOnly = false;
        double timeout = defaultTimeoutSeconds;
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], "--output") == 0 && i + 1 < argc) {
                output = argv[++i];
            } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
                timeout = std::atof(argv[++i]);
            } else if (std::strcmp(argv[i], "--without-contract") == 0) {
                contract = false;
            } else if (std::strcmp(argv[i], "--check") == 0) {
                checkOnly = true;
            } else {
                timeout = 0;
                break;
            }
        }
        if (timeout <= 0) {
            std::fprintf(stderr,
                         "usage: %s [--output FILE] [--without-contract] [--timeout SECONDS]\n"
                         "       %s --check\n",
                         argv[0], argv[0]);
            return 2;
        }
        if (const int refused = refuseBesideMainApp(); refused != 0 || checkOnly) return refused;
        say([NSString stringWithFormat:@"pid %d", getpid()]);

        NSApplication* application = NSApplication.sharedApplication;
        [application setActivationPolicy:NSApplicationActivationPolicyRegular];
        // The application holds its delegate weakly: this one lives on the
        // stack of main, which never returns while the application runs.
        QPSStandIn* standIn = [[QPSStandIn alloc] initWithOutput:output != nullptr ? @(output) : nil
                                                        contract:contract
                                                         timeout:timeout];
        application.delegate = standIn;
        [application run];
    }
    return 0;
}
