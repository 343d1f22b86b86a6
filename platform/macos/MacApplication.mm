#include "MacApplication.h"

#import <AppKit/AppKit.h>

#include "MacStrings.h"

@interface QHApplicationDelegate : NSObject <NSApplicationDelegate>
- (instancetype)initWithDelegate:(platform::ApplicationDelegate*)delegate;
@end

@implementation QHApplicationDelegate {
    platform::ApplicationDelegate* _delegate;
}

- (instancetype)initWithDelegate:(platform::ApplicationDelegate*)delegate {
    if ((self = [super init])) _delegate = delegate;
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    _delegate->applicationDidFinishLaunching();
}

- (void)applicationWillTerminate:(NSNotification*)notification {
    _delegate->applicationWillTerminate();
}

- (BOOL)applicationShouldHandleReopen:(NSApplication*)sender hasVisibleWindows:(BOOL)flag {
    return _delegate->applicationShouldHandleReopen(flag) ? YES : NO;
}

// The helper restores no windows; saying so keeps AppKit from warning at
// every start on macOS 14.
- (BOOL)applicationSupportsSecureRestorableState:(NSApplication*)application {
    return YES;
}

@end

namespace platform::macos {

MacApplication::MacApplication() { [NSApplication sharedApplication]; }

void MacApplication::setDelegate(ApplicationDelegate* delegate) {
    bridge_ = delegate != nullptr ? [[QHApplicationDelegate alloc] initWithDelegate:delegate] : nil;
    NSApp.delegate = bridge_;
}

void MacApplication::setActivationPolicy(ActivationPolicy policy) {
    [NSApp setActivationPolicy:static_cast<NSApplicationActivationPolicy>(policy)];
}

int MacApplication::run() {
    [NSApp run];
    return 0;
}

void MacApplication::activate() { [NSApp activate]; }

void MacApplication::terminate() { [NSApp terminate:nil]; }

ModalResponse MacAlertPresenter::runModal(const Alert& alert) {
    NSAlert* panel = [[NSAlert alloc] init];
    panel.messageText = toNSString(alert.messageText());
    panel.informativeText = toNSString(alert.informativeText());
    for (const auto& title : alert.buttons()) [panel addButtonWithTitle:toNSString(title)];
    return [panel runModal];
}

}  // namespace platform::macos
