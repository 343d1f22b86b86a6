#pragma once

#include <string>

#include "platform/Log.h"

namespace platform::macos {

// The unified log. os_log takes only a constant format, so each message is
// rendered here, private arguments already redacted, and logged as one
// public string: `log stream` shows the same lines the journal shows on
// Linux, and a private argument never reaches the log in clear.
class MacLog : public LogSink {
public:
    void write(const LogMessage& message) override;

    // The text that reaches the log.
    static std::string text(const LogMessage& message);
};

}  // namespace platform::macos
