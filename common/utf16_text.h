#pragma once

// Inside the tool text is UTF-8. Windows counts text in UTF-16 code units
// (buffer sizes of the profile functions, the 259-character path limit), so
// code that must keep those counts converts with these two functions.

#include <string>
#include <string_view>

namespace tessell {

// UTF-8 to UTF-16. A byte that does not start a well-formed UTF-8 sequence
// (stray continuation byte, truncated or overlong sequence, encoded surrogate,
// beyond U+10FFFF) becomes the code point of the same value (Latin-1), so text
// from an old single-byte station is read rather than lost. Never fails.
std::u16string utf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD. Never fails.
std::string utf16ToUtf8(std::u16string_view utf16);

// Number of UTF-16 code units utf8ToUtf16 would produce.
std::size_t utf16Length(std::string_view utf8);

} // namespace tessell
