#include "common/utf16_text.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using namespace std::string_literals;

TEST(Utf16Text, RoundTripsAndCountsUnits) {
    for (const std::string& text : {""s, "plain"s, "Grüße €"s, "a😀b"s, "nul\0inside"s}) {
        EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(text)), text);
        EXPECT_EQ(utf16Length(text), utf8ToUtf16(text).size());
    }
    EXPECT_EQ(utf8ToUtf16("a😀"), u"a\xD83D\xDE00");
    EXPECT_EQ(utf16Length("😀"), 2u);
}

TEST(Utf16Text, MalformedInputIsKeptReadable) {
    // Bytes that are not UTF-8 are Latin-1 characters.
    EXPECT_EQ(utf8ToUtf16("caf\xE9"), u"café");
    EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\u00C0\u00AF");                     // overlong
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\u00ED\u00A0\u0080");           // encoded surrogate
    EXPECT_EQ(utf8ToUtf16("\xE2\x82"), u"\u00E2\u0082");                     // truncated
    EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\u00F4\u0090\u0080\u0080"); // beyond U+10FFFF
    // Unpaired surrogates become U+FFFD.
    EXPECT_EQ(utf16ToUtf8(u"a\xD800"), "a\xEF\xBF\xBD");
    EXPECT_EQ(utf16ToUtf8(u"\xDC00z"), "\xEF\xBF\xBDz");
}

} // namespace
} // namespace tessell
