#pragma once

// printf-style text for messages, logs and names: the whole text, however
// long, as a string. A pattern that cannot be formatted gives an empty string.

#include <cstdarg>
#include <string>

// MinGW's "printf" checks against the Microsoft runtime's formats, which
// lack %zu; the tool's formatting is the C99 kind on every platform.
#if defined(__MINGW32__)
#define TESSELL_PRINTF(pattern, first) [[gnu::format(gnu_printf, pattern, first)]]
#else
#define TESSELL_PRINTF(pattern, first) [[gnu::format(printf, pattern, first)]]
#endif

namespace tessell {

TESSELL_PRINTF(1, 2) std::string formatText(const char* pattern, ...);

// The same from a va_list, which it uses up as vsnprintf does.
TESSELL_PRINTF(1, 0) std::string formatTextV(const char* pattern, std::va_list arguments);

// Four lower-case hex digits, as USB identities are written ("1209").
std::string hex4(unsigned value);

} // namespace tessell
