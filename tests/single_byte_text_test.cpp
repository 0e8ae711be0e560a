#include "common/single_byte_text.h"

#include <gtest/gtest.h>
#include <string>

namespace tessell {
namespace {

TEST(SingleByteText, OneByteForEveryCharacter) {
    struct Case {
        std::string utf8;
        std::string bytes;
    };
    const Case cases[] = {
        {"Download complete.", "Download complete."},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"caf\xC3\xA9", "caf\xE9"},         // U+00E9, Latin-1
        {"\xC3\xBF", "\xFF"},               // U+00FF, the last single byte
        {"\xC2\x80", "\x80"},               // U+0080
        {"\xC4\x80", "?"},                  // U+0100, the first without one
        {"5\xE2\x82\xAC", "5?"},            // euro sign
        {"\xF0\x9F\x98\x80|", "?|"},        // outside the basic plane
        {"\xE6\x97\xA5\xE6\x9C\xAC", "??"}, // two characters, two bytes
    };
    for (const auto& c : cases)
        EXPECT_EQ(toSingleByte(c.utf8), c.bytes) << c.utf8;
}

TEST(SingleByteText, MalformedUtf8KeepsItsBytes) {
    const std::string cases[] = {
        "caf\xE9",          // Latin-1 already: lead byte at the end
        "\xE9t\xE9",        // lead byte followed by a plain letter
        "\x80\xBF",         // stray continuation bytes
        "\xC1\x81",         // overlong 'A'
        "\xE0\x80\x80",     // overlong NUL
        "\xED\xA0\x80",     // surrogate
        "\xF4\x90\x80\x80", // beyond U+10FFFF
        "\xE2\x82",         // truncated euro sign
        "\xFE\xFF",         // bytes that never occur in UTF-8
    };
    for (const auto& bytes : cases)
        EXPECT_EQ(toSingleByte(bytes), bytes);
    // A malformed byte does not swallow the well-formed text after it.
    EXPECT_EQ(toSingleByte("\xE2\xC3\xA9"), "\xE2\xE9");
}

TEST(SingleByteText, EveryByteRoundTripsThroughUtf8) {
    std::string all;
    for (int value = 0; value < 256; ++value)
        all.push_back(static_cast<char>(value));
    const std::string utf8 = fromSingleByte(all);
    EXPECT_EQ(utf8.size(), 128u + 2u * 128u);
    EXPECT_EQ(fromSingleByte("\xE9"), "\xC3\xA9");
    EXPECT_EQ(toSingleByte(utf8), all);
}

} // namespace
} // namespace tessell
