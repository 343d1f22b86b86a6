#include "MacEvents.h"

#import <ApplicationServices/ApplicationServices.h>
#import <CoreGraphics/CoreGraphics.h>

namespace platform::macos {

namespace {

// Owns one Core Foundation object, released with the handle.
template <typename Handle, typename Reference>
class Owned : public Handle {
public:
    explicit Owned(Reference reference) : reference_(reference) {}
    ~Owned() override { CFRelease(reference_); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Reference get() const { return reference_; }

private:
    Reference reference_;
};

using MacEventSource = Owned<EventSource, CGEventSourceRef>;
using MacKeyboardEvent = Owned<KeyboardEvent, CGEventRef>;

}  // namespace

bool MacAccessibility::isProcessTrusted() { return AXIsProcessTrusted(); }

bool MacAccessibility::requestPostEventAccess() { return CGRequestPostEventAccess(); }

std::shared_ptr<EventSource> MacKeyboardEvents::createSource(EventSourceStateID state) {
    CGEventSourceRef source = CGEventSourceCreate(static_cast<CGEventSourceStateID>(state));
    if (source == nullptr) return nullptr;
    return std::make_shared<MacEventSource>(source);
}

// The sources and events handed in were made by this class.
std::shared_ptr<KeyboardEvent> MacKeyboardEvents::createKeyboardEvent(EventSource& source,
                                                                      VirtualKeyCode keyCode, bool keyDown) {
    if (keyCode == virtualKeyV) keyCode = commandV_.keyCode();
    CGEventRef event = CGEventCreateKeyboardEvent(static_cast<MacEventSource&>(source).get(),
                                                  static_cast<CGKeyCode>(keyCode), keyDown);
    if (event == nullptr) return nullptr;
    return std::make_shared<MacKeyboardEvent>(event);
}

void MacKeyboardEvents::setFlags(KeyboardEvent& event, EventFlags flags) {
    CGEventSetFlags(static_cast<MacKeyboardEvent&>(event).get(), static_cast<CGEventFlags>(flags));
}

void MacKeyboardEvents::post(EventTapLocation tap, KeyboardEvent& event) {
    CGEventPost(static_cast<CGEventTapLocation>(tap), static_cast<MacKeyboardEvent&>(event).get());
}

}  // namespace platform::macos
