#pragma once

// The contract's protocol as NSXPC sees it, shared by the agent's XPC layer
// and the demo's client (tools/mac-helper-client.mm). The units' interface
// names it and its selectors. Objective-C only.

#import <Foundation/Foundation.h>

@protocol AutoPasteHelperXPC
- (void)pingWithReply:(void (^)(BOOL))reply;
- (void)pasteWithReply:(void (^)(BOOL))reply;
@end
