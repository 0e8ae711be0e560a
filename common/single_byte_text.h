#pragma once

// The files the production line reads (logs, result files) and the short
// strings a camera carries are single-byte text: one byte per character, no
// byte-order mark. Inside the tool text is UTF-8. These two functions are the
// one rule for crossing between them, so that every subsystem writes and reads
// the same bytes.

#include <string>
#include <string_view>

namespace tessell {

// The character written in place of one that has no single byte.
inline constexpr char unmappableCharacter = '?';

// UTF-8 to single-byte text.
// - Code points 0 to 255 become the byte of the same value (ASCII and Latin-1).
// - Code points above 255 become '?': one character stays one byte, so column
//   widths and field counts in the files keep their meaning.
// - A byte that does not start a well-formed UTF-8 sequence (stray continuation
//   byte, truncated or overlong sequence, surrogate, beyond U+10FFFF) is kept as
//   it is. Such text almost always is single-byte text already (a Latin-1 serial
//   number, a file name from an old station), and keeping the byte writes it
//   back exactly as it came.
// The result has one byte per character of the input.
std::string toSingleByte(std::string_view utf8);

// Single-byte text to UTF-8: every byte is the code point of the same value.
// toSingleByte(fromSingleByte(bytes)) == bytes for any bytes.
std::string fromSingleByte(std::string_view bytes);

} // namespace tessell
