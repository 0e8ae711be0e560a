#pragma once

// printf-style text for messages, logs and names: the whole text, however
// long, as a string. A pattern that cannot be formatted gives an empty string.

#include <cstdarg>
#include <string>

namespace tessell {

[[gnu::format(printf, 1, 2)]] std::string formatText(const char* pattern, ...);

// The same from a va_list, which it uses up as vsnprintf does.
[[gnu::format(printf, 1, 0)]] std::string formatTextV(const char* pattern, std::va_list arguments);

} // namespace tessell
