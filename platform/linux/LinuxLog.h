#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/Log.h"

namespace platform::linux_platform {

// The systemd journal when it runs, else one line per message on a file
// descriptor (standard error): time, level, subsystem:category, text.
// String arguments not marked public are redacted either way.
class LinuxLog : public LogSink {
public:
    enum class Destination { journal, stream };

    static constexpr const char* journalSocket = "/run/systemd/journal/socket";

    explicit LinuxLog(Destination destination, int fd = 2, std::string identifier = "",
                      std::string journalSocketPath = journalSocket);
    ~LinuxLog() override;
    LinuxLog(const LinuxLog&) = delete;
    LinuxLog& operator=(const LinuxLog&) = delete;

    // The journal if its socket is there, else standard error.
    static Destination available();

    void write(const LogMessage& message) override;

    // The line written to the stream, without its newline.
    static std::string line(const LogMessage& message, std::chrono::system_clock::time_point at);
    // One entry in the journal's native protocol: "NAME=value\n" per field,
    // or "NAME\n", the value's length (64 bits, little-endian), the value
    // and "\n" for a value that holds a newline.
    static std::string journalEntry(const std::vector<std::pair<std::string, std::string>>& fields);

private:
    bool sendToJournal(const LogMessage& message);
    void writeLine(const LogMessage& message);

    Destination destination_;
    int fd_;
    std::string identifier_;
    std::string journalSocketPath_;
    int journal_ = -1;  // a datagram socket
};

}  // namespace platform::linux_platform
