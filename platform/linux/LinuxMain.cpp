// The Linux composition root: the platform's services, then the program.

#include "LinuxPlatform.h"
#include "main.h"

int main() {
    // Never destroyed: the process ends from inside the event loop, while
    // other threads may still use the services.
    auto* installed = new platform::linux_platform::LinuxPlatform();
    platform::install(installed->services());
    return quillory::helperMain();
}
