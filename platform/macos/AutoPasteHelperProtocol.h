#pragma once

// The contract's protocol as NSXPC sees it, shared by the agent's XPC layer
// and the demo's programs (tools/mac-*.mm). The units' interface names it and
// its selectors. Objective-C only.
//
// How the main app asks for a paste. Since macOS 14 activation is a request
// the system may ignore: while the main app is in front, the agent's
// re-activation of the application the user worked in before may not take,
// and ⌘V would go to the main app, with true as the reply. Only the active
// application can hand activation on, so the main app does it:
//   1. it hides itself, [NSApp hide:nil], which "hides all the receiver's
//      windows, and the next app in line is activated";
//   2. it waits for NSWorkspaceDidActivateApplicationNotification naming
//      that next application;
//   3. only then it sends pasteWithReply:, once.
// The agent's rules stay as they are: with a paste target in front it posts
// ⌘V at once.

#import <Foundation/Foundation.h>

@protocol AutoPasteHelperXPC
- (void)pingWithReply:(void (^)(BOOL))reply;
- (void)pasteWithReply:(void (^)(BOOL))reply;
@end
