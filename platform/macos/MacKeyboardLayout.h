#pragma once

// The user's keyboard layout, through Text Input Sources (HIToolbox, which
// only Carbon re-exports). Main thread only: the Text Input Sources calls
// are not thread-safe, and UI applications must make them there.

#include <Carbon/Carbon.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/KeyLayout.h"

namespace platform::macos {

// How an input source's Unicode layout data ('uchr') translates keys on a
// keyboard of the given type; empty when the source has none (an input
// method, say).
KeyTranslation unicodeKeyTranslation(TISInputSourceRef source, std::uint32_t keyboardType);

// The key that types "v" while Command is held, in the current keyboard
// layout, else in the ASCII-capable one; the V key of a U.S. keyboard when
// neither has one.
class CommandVKey {
public:
    VirtualKeyCode keyCode();

private:
    struct Found {
        std::string source;
        std::uint32_t keyboardType;
        VirtualKeyCode keyCode;
    };
    // Searched again only when the selected layout or the keyboard changed.
    std::optional<Found> found_;
};

}  // namespace platform::macos
