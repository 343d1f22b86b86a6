#include "MacLog.h"

#import <Foundation/Foundation.h>

namespace platform::macos {

namespace {

os_log_type_t typeOf(LogLevel level) {
    switch (level) {
        case LogLevel::info:
            return OS_LOG_TYPE_INFO;
        case LogLevel::notice:
            return OS_LOG_TYPE_DEFAULT;
        case LogLevel::error:
            return OS_LOG_TYPE_ERROR;
    }
    return OS_LOG_TYPE_DEFAULT;
}

}  // namespace

std::string MacLog::text(const LogMessage& message) {
    return renderLogMessage(message.format, message.arguments, true);
}

void MacLog::write(const LogMessage& message) {
    // The system keeps one log object per subsystem and category and hands
    // the same one back on every call, so nothing is cached here.
    os_log_t log = os_log_create(message.subsystem.c_str(), message.category.c_str());
    const std::string rendered = text(message);
    os_log_with_type(log, typeOf(message.level), "%{public}s", rendered.c_str());
}

os_log_t platformLog(const char* category) {
    NSString* subsystem = NSBundle.mainBundle.bundleIdentifier;
    return subsystem != nil ? os_log_create(subsystem.UTF8String, category) : OS_LOG_DEFAULT;
}

}  // namespace platform::macos
