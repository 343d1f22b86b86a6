#pragma once

#include "platform/Accessibility.h"
#include "platform/KeyboardEvents.h"

#include "MacKeyboardLayout.h"

namespace platform::macos {

// The accessibility trust of the process, which covers posting events.
class MacAccessibility : public Accessibility {
public:
    bool isProcessTrusted() override;
    bool requestPostEventAccess() override;
};

// Quartz keyboard events; every Core Foundation object is released with its
// handle. The V key is the key that types "v" with Command in the user's
// layout (on Dvorak, not the key at V's place on a U.S. keyboard, which
// would send Command-K); events are made on the main thread.
class MacKeyboardEvents : public KeyboardEvents {
public:
    std::shared_ptr<EventSource> createSource(EventSourceStateID state) override;
    std::shared_ptr<KeyboardEvent> createKeyboardEvent(EventSource& source, VirtualKeyCode keyCode,
                                                       bool keyDown) override;
    void setFlags(KeyboardEvent& event, EventFlags flags) override;
    void post(EventTapLocation tap, KeyboardEvent& event) override;

private:
    CommandVKey commandV_;
};

}  // namespace platform::macos
