#pragma once

#include "platform/Alert.h"
#include "platform/Application.h"

@class QHApplicationDelegate;

namespace platform::macos {

// NSApplication, with an Objective-C delegate that forwards the life-cycle
// events to the program's delegate.
class MacApplication : public Application {
public:
    MacApplication();

    void setDelegate(ApplicationDelegate* delegate) override;
    void setActivationPolicy(ActivationPolicy policy) override;
    int run() override;
    void activate() override;
    void terminate() override;

private:
    // NSApplication holds its delegate weakly; this keeps the bridge alive.
    QHApplicationDelegate* bridge_ = nullptr;
};

// NSAlert, run modally on the main thread.
class MacAlertPresenter : public AlertPresenter {
public:
    ModalResponse runModal(const Alert& alert) override;
};

}  // namespace platform::macos
