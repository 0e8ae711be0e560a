#include "common/text_format.h"

#include <cstdio>

namespace tessell {

std::string formatText(const char* pattern, ...) {
    std::va_list arguments;
    va_start(arguments, pattern);
    std::string text = formatTextV(pattern, arguments);
    va_end(arguments);
    return text;
}

std::string formatTextV(const char* pattern, std::va_list arguments) {
    // Most texts are short: one pass through a stack buffer, a second pass
    // only for a longer one.
    char small[256];
    std::va_list again;
    va_copy(again, arguments);
    const int needed = std::vsnprintf(small, sizeof small, pattern, arguments);
    if (needed < 0) {
        va_end(again);
        return {};
    }
    const auto length = static_cast<std::size_t>(needed);
    if (length < sizeof small) {
        va_end(again);
        return std::string(small, length);
    }
    std::string large(length + 1, '\0');
    std::vsnprintf(large.data(), large.size(), pattern, again);
    va_end(again);
    large.resize(length);
    return large;
}

std::string hex4(unsigned value) {
    return formatText("%04x", value & 0xFFFFu);
}

} // namespace tessell
