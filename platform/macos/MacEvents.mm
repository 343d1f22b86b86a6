#include "MacEvents.h"

#import <ApplicationServices/ApplicationServices.h>
#import <CoreGraphics/CoreGraphics.h>

namespace platform::macos {

namespace {

class MacEventSource : public EventSource {
public:
    explicit MacEventSource(CGEventSourceRef source) : source_(source) {}
    ~MacEventSource() override { CFRelease(source_); }
    MacEventSource(const MacEventSource&) = delete;
    MacEventSource& operator=(const MacEventSource&) = delete;

    CGEventSourceRef get() const { return source_; }

private:
    CGEventSourceRef source_;
};

class MacKeyboardEvent : public KeyboardEvent {
public:
    explicit MacKeyboardEvent(CGEventRef event) : event_(event) {}
    ~MacKeyboardEvent() override { CFRelease(event_); }
    MacKeyboardEvent(const MacKeyboardEvent&) = delete;
    MacKeyboardEvent& operator=(const MacKeyboardEvent&) = delete;

    CGEventRef get() const { return event_; }

private:
    CGEventRef event_;
};

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
