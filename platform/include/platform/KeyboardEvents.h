#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/Error.h"

namespace platform {

using EventSourceStateID = std::int32_t;
inline constexpr EventSourceStateID eventSourceStateCombinedSessionState = 0;
inline constexpr EventSourceStateID eventSourceStateHIDSystemState = 1;

using EventTapLocation = std::uint32_t;
inline constexpr EventTapLocation sessionEventTap = 1;

using EventFlags = std::uint64_t;
inline constexpr EventFlags eventFlagMaskCommand = 0x100000;

using VirtualKeyCode = std::uint16_t;
// macOS virtual key codes name key positions, not letters: 9 is where a U.S.
// keyboard has V. Posted, it is read as "the V key": each platform presses
// the key that types "v" in the user's layout.
inline constexpr VirtualKeyCode virtualKeyV = 9;

// Opaque handles made by the platform.
class EventSource {
public:
    virtual ~EventSource() = default;
};

class KeyboardEvent {
public:
    virtual ~KeyboardEvent() = default;
};

class KeyboardEvents {
public:
    virtual ~KeyboardEvents() = default;
    // None when the source cannot be made.
    virtual std::shared_ptr<EventSource> createSource(EventSourceStateID state) = 0;
    // None when the event cannot be made. Key codes are macOS virtual key codes.
    virtual std::shared_ptr<KeyboardEvent> createKeyboardEvent(EventSource& source, VirtualKeyCode keyCode,
                                                               bool keyDown) = 0;
    virtual void setFlags(KeyboardEvent& event, EventFlags flags) = 0;
    virtual void post(EventTapLocation tap, KeyboardEvent& event) = 0;
    // Why no source or event can be made, when the platform knows (say, a
    // desktop that offers no way to type); none otherwise.
    virtual std::optional<Error> unavailability() { return std::nullopt; }

    static KeyboardEvents& shared();
};

}  // namespace platform
