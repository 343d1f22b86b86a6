#include <cinttypes>
#include <cstdio>

#include "platform/Log.h"

namespace platform {

namespace {

std::string formatDouble(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%f", value);
    return buffer;
}

// Renders one argument for a conversion with the given modifier ("public",
// "bool", "private" or none) and conversion letter.
std::string renderArgument(const LogArgument& argument, std::string_view modifier, char conversion,
                           bool redactPrivate) {
    if (const auto* text = std::get_if<std::string>(&argument)) {
        if (redactPrivate && modifier != "public") return "<private>";
        return *text;
    }
    if (const auto* flag = std::get_if<bool>(&argument)) {
        if (modifier == "bool") return *flag ? "true" : "false";
        return *flag ? "1" : "0";
    }
    if (const auto* number = std::get_if<std::int64_t>(&argument)) {
        if (modifier == "bool") return *number != 0 ? "true" : "false";
        if (conversion == 'f') return formatDouble(static_cast<double>(*number));
        return std::to_string(*number);
    }
    const double value = std::get<double>(argument);
    if (conversion == 'f') return formatDouble(value);
    return std::to_string(static_cast<std::int64_t>(value));
}

}  // namespace

std::string renderLogMessage(std::string_view format, std::span<const LogArgument> arguments,
                             bool redactPrivate) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        std::string_view modifier;
        if (j < format.size() && format[j] == '{') {
            const std::size_t close = format.find('}', j);
            if (close == std::string_view::npos) break;
            modifier = format.substr(j + 1, close - j - 1);
            j = close + 1;
        }
        while (j < format.size() && (format[j] == 'l' || format[j] == 'h' || format[j] == 'z')) ++j;
        if (j >= format.size()) break;
        const char conversion = format[j];
        if (next < arguments.size()) {
            out += renderArgument(arguments[next++], modifier, conversion, redactPrivate);
        } else {
            out += "<missing>";
        }
        i = j;
    }
    return out;
}

}  // namespace platform
