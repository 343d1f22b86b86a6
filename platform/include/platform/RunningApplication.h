#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

using ProcessIdentifier = std::int32_t;

// Options of activate(options:); the helper uses none.
enum class ApplicationActivationOptions : unsigned { none = 0 };

// A running (or since terminated) application, like NSRunningApplication.
class RunningApplication {
public:
    virtual ~RunningApplication() = default;
    virtual std::optional<std::string> bundleIdentifier() const = 0;
    virtual ProcessIdentifier processIdentifier() const = 0;
    virtual bool isTerminated() const = 0;
    virtual bool activate(ApplicationActivationOptions options) = 0;
};

using RunningApplicationRef = std::shared_ptr<RunningApplication>;

}  // namespace platform
