#pragma once

#include <chrono>
#include <string>

#include "platform/Log.h"

namespace platform::linux_platform {

// The systemd journal when it runs, else one line per message on a file
// descriptor (standard error): time, level, subsystem:category, text.
// String arguments not marked public are redacted either way.
class LinuxLog : public LogSink {
public:
    enum class Destination { journal, stream };

    explicit LinuxLog(Destination destination, int fd = 2, std::string identifier = "");
    // The journal if its socket is there (sd_journal_send reports success
    // even when nothing listens), else standard error.
    static Destination available();

    void write(const LogMessage& message) override;

    // The line written to the stream, without its newline.
    static std::string line(const LogMessage& message, std::chrono::system_clock::time_point at);

private:
    Destination destination_;
    int fd_;
    std::string identifier_;
};

}  // namespace platform::linux_platform
