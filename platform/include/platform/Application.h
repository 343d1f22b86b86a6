#pragma once

namespace platform {

// Receives the application's life-cycle events on the main thread.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    virtual void applicationWillTerminate() = 0;
    virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) = 0;
};

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

// The one application object of the process.
class Application {
public:
    virtual ~Application() = default;

    // The application does not own its delegate.
    virtual void setDelegate(ApplicationDelegate* delegate) = 0;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    // The main event loop; returns only when the process ends.
    virtual int run() = 0;
    // Brings this application to the front.
    virtual void activate() = 0;
    // Runs applicationWillTerminate, then ends the process.
    virtual void terminate() = 0;

    static Application& shared();
};

}  // namespace platform
