#pragma once

// What the demo's programs on a Mac share: the connection to the agent, as
// the main app makes it, and what a failed one means. Objective-C++ only.

#import <Foundation/Foundation.h>

// A resumed connection to the agent's Mach service in this login session,
// with the contract's protocol as its remote interface.
NSXPCConnection* connectToAgent();

// Prints to standard error what an error of a request on that connection
// means, what to check, and how a development build admits a client.
// `answeredBefore`: whether an earlier request on the same connection got a
// reply, which tells a refused client from an agent that went away.
void explainConnectionError(NSError* error, bool answeredBefore);
