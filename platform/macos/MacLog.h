#pragma once

#include <os/log.h>

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

// The log of what only this layer sees (an XPC interface that does not match,
// what an activation request returned): the main bundle's subsystem, or the
// default log in a program without one.
os_log_t platformLog(const char* category);

}  // namespace platform::macos
