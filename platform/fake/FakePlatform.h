#pragma once

#include "fake/FakeDesktop.h"
#include "fake/FakeScheduler.h"
#include "fake/FakeServiceManagement.h"
#include "fake/FakeSystem.h"
#include "fake/FakeXPC.h"

namespace fake {

// A whole desktop in one object, in virtual time. Constructing it installs
// it as the platform; destroying it removes it.
class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    void runUntilIdle() { scheduler.runUntilIdle(); }
    void advance(double seconds) { scheduler.advance(seconds); }
    double now() const { return scheduler.nowSeconds(); }

    FakeScheduler scheduler;
    FakeApplication application{scheduler};
    FakeAlerts alerts{scheduler};
    FakeWorkspace workspace{scheduler};
    FakeBundle bundle;
    FakeLocalization localization;
    FakeProcessInfo process;
    FakeFiles files;
    FakeDistributedNotifications notifications{scheduler};
    FakeXPC xpc{scheduler};
    FakeServiceManagement loginItems{scheduler};
    FakeAccessibility accessibility;
    FakeKeyboardEvents keyboard{scheduler};
    FakeLog log{scheduler};
    FakeClock clock{scheduler};
    FakePosix posix{scheduler, workspace};
};

}  // namespace fake
