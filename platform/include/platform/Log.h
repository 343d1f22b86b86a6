#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace platform {

// Levels of the unified log the units use; `notice` is the default level.
enum class LogLevel { info, notice, error };

// One argument of an os_log-style format: %{public}s, %s (redacted unless
// public), %{bool}d, %d, %ld, %f.
using LogArgument = std::variant<std::string, bool, std::int64_t, double>;

struct LogMessage {
    LogLevel level;
    std::string subsystem;
    std::string category;
    std::string format;
    std::vector<LogArgument> arguments;
};

// Renders a format with its arguments; string arguments not marked public
// are shown as "<private>" when `redactPrivate` is set, as the unified log does.
std::string renderLogMessage(std::string_view format, std::span<const LogArgument> arguments,
                             bool redactPrivate);

// Where log messages go. Called from any thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogMessage& message) = 0;

    static LogSink& shared();
};

// A logger of one subsystem and category; cheap to copy, usable on any thread.
class Logger {
public:
    Logger(std::string subsystem, std::string category)
        : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

    template <typename... Arguments>
    void info(std::string_view format, const Arguments&... arguments) const {
        log(LogLevel::info, format, {toArgument(arguments)...});
    }
    template <typename... Arguments>
    void notice(std::string_view format, const Arguments&... arguments) const {
        log(LogLevel::notice, format, {toArgument(arguments)...});
    }
    template <typename... Arguments>
    void error(std::string_view format, const Arguments&... arguments) const {
        log(LogLevel::error, format, {toArgument(arguments)...});
    }

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

private:
    void log(LogLevel level, std::string_view format, std::vector<LogArgument> arguments) const;

    template <typename T>
    static LogArgument toArgument(const T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            return value;
        } else if constexpr (std::is_integral_v<T>) {
            return static_cast<std::int64_t>(value);
        } else if constexpr (std::is_floating_point_v<T>) {
            return static_cast<double>(value);
        } else {
            return std::string(value);
        }
    }

    std::string subsystem_;
    std::string category_;
};

}  // namespace platform
