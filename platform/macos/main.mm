// The macOS composition root: the platform's services, then the program.

#import <Foundation/Foundation.h>

#include "MacPlatform.h"
#include "main.h"

int main() {
    @autoreleasepool {
        // Never destroyed: the process ends inside the event loop, from
        // terminate, while the system's queues may still use the services.
        auto* installed = new platform::macos::MacPlatform();
        platform::install(installed->services());
        return quillory::helperMain();
    }
}
