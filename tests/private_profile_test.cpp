#include "station/private_profile.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace tessell {
namespace {

using namespace std::string_literals;
using testing::TempDir;

PrivateProfile profileOf(std::string_view bytes) {
    return PrivateProfile::fromBytes(bytes);
}

std::string read(const PrivateProfile& profile, std::string_view section, std::string_view key,
                 std::string_view defaultValue = "<default>", std::size_t bufferChars = 260) {
    return profile.getString(section, key, defaultValue, bufferChars);
}

TEST(PrivateProfileNames, IgnoreLetterCaseAndSurroundingBlanks) {
    const auto profile = profileOf("[SeTTing]\r\n"
                                   " \t Key One \t= value\r\n"
                                   "[  Größe\t]\r\n"
                                   "Maß=1\r\n");
    EXPECT_EQ(read(profile, "setting", "key one"), "value");
    EXPECT_EQ(read(profile, "SETTING", "KEY ONE"), "value");
    EXPECT_EQ(read(profile, "  setting ", "  Key One  "), "value");
    // Only spaces are taken off a requested name; a TAB is part of it.
    EXPECT_EQ(read(profile, "\tsetting", "Key One"), "<default>");
    EXPECT_EQ(read(profile, "setting", "Key One\t"), "<default>");
    // Letters beyond ASCII fold too.
    EXPECT_EQ(read(profile, "GRÖßE", "MAß"), "1");
    EXPECT_EQ(read(profile, "Grosse", "Mass"), "<default>");
}

TEST(PrivateProfileValues, LoseBlanksAndOneMatchingPairOfQuotes) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {" \t spaced out \t ", "spaced out"},
        {"\"double\"", "double"},
        {"'single'", "single"},
        {"  \"  inner blanks stay  \"  ", "  inner blanks stay  "},
        {"\"'only the outer pair'\"", "'only the outer pair'"},
        {"'\"outer single\"'", "\"outer single\""},
        {"\"mismatched'", "\"mismatched'"},
        {"'\"wrong order'\"", "'\"wrong order'\""},
        {"\"", "\""},
        {"\"\"", ""},
        {"''", ""},
        {"\"open only", "\"open only"},
        {"a \"middle\" b", "a \"middle\" b"},
        {"x ; not a comment", "x ; not a comment"},
        {"# kept", "# kept"},
    };
    for (const auto& [written, expected] : cases) {
        const auto profile = profileOf("[s]\nkey=" + written + "\n");
        EXPECT_EQ(read(profile, "s", "key"), expected) << written;
    }
}

TEST(PrivateProfileLines, CommentsNonKeysAndSectionHeaders) {
    const auto profile = profileOf("orphan=before any section\r\n"
                                   "[s]\r\n"
                                   ";commented=1\r\n"
                                   "   \t;indented=2\r\n"
                                   "a;b=3\r\n"
                                   "#hash=4\r\n"
                                   "noequals\r\n"
                                   "noequals=5\r\n"
                                   "=emptyname\r\n"
                                   "[t]ignored=6\r\n"
                                   "[unclosed  \r\n"
                                   "u=7\r\n"
                                   "[]\r\n"
                                   "e=8\r\n"
                                   "[[open]\r\n"
                                   "o=9\r\n");
    EXPECT_EQ(read(profile, "s", ";commented"), "<default>");
    EXPECT_EQ(read(profile, "s", "commented"), "<default>");
    EXPECT_EQ(read(profile, "s", ";indented"), "<default>");
    EXPECT_EQ(read(profile, "s", "a;b"), "3");
    EXPECT_EQ(read(profile, "s", "#hash"), "4");
    // A line without '=' is not a key and does not hide a later real one.
    EXPECT_EQ(read(profile, "s", "noequals"), "5");
    EXPECT_EQ(read(profile, "s", ""), "emptyname");
    // Text after ']' is ignored; a header without ']' runs to the line end.
    EXPECT_EQ(read(profile, "t", "ignored"), "<default>");
    EXPECT_EQ(read(profile, "unclosed", "u"), "7");
    EXPECT_EQ(read(profile, "", "e"), "8");
    EXPECT_EQ(read(profile, "[open", "o"), "9");
    // Keys before the first header belong to no section, not even "".
    EXPECT_EQ(read(profile, "", "orphan"), "<default>");
}

TEST(PrivateProfileDuplicates, FirstSectionAndFirstKeyWin) {
    const auto profile = profileOf("[s]\nkey=first\nkey=second\n"
                                   "[other]\nx=1\n"
                                   "[S]\nkey=third\nonlylater=4\n");
    EXPECT_EQ(read(profile, "s", "key"), "first");
    // Keys of a later section of the same name are not seen.
    EXPECT_EQ(read(profile, "s", "onlylater"), "<default>");
    EXPECT_EQ(profile.getInt("s", "onlylater", -7), -7);
}

TEST(PrivateProfileDefaults, MissingFileSectionOrKeyButNotEmptyValue) {
    TempDir dir;
    const auto missing = PrivateProfile::load(dir / "nothing.ini");
    EXPECT_EQ(missing.status(), PrivateProfile::Status::Missing);
    EXPECT_EQ(read(missing, "s", "k", "fallback"), "fallback");
    EXPECT_EQ(missing.getInt("s", "k", 42), 42);
    EXPECT_EQ(missing.sectionNames(100), "");

    // The folder itself, as when no settings file exists.
    const auto folder = PrivateProfile::load(dir.path());
    EXPECT_EQ(folder.status(), PrivateProfile::Status::Missing);
    EXPECT_EQ(read(folder, "s", "k", "fallback"), "fallback");

    const auto profile = PrivateProfile::load(dir.write("a.ini", "[s]\nempty=\nblank=   \n"));
    EXPECT_EQ(profile.status(), PrivateProfile::Status::Loaded);
    EXPECT_EQ(read(profile, "s", "empty", "fallback"), "");
    EXPECT_EQ(read(profile, "s", "blank", "fallback"), "");
    EXPECT_EQ(read(profile, "s", "absent", "fallback"), "fallback");
    EXPECT_EQ(read(profile, "absent", "empty", "fallback"), "fallback");
    // The default loses trailing spaces, and only spaces.
    EXPECT_EQ(read(profile, "s", "absent", "  lead and trail  "), "  lead and trail");
    EXPECT_EQ(read(profile, "s", "absent", "tab\t"), "tab\t");
}

TEST(PrivateProfileBuffer, TextIsCutToOneLessThanTheBuffer) {
    const std::string longValue(300, 'v');
    const auto profile = profileOf("[s]\nlong=" + longValue +
                                   "\nshort=val1x\nquoted=\"abcdef\"\nwide=äöü\nemoji=a😀b\n");
    EXPECT_EQ(read(profile, "s", "long", "", 260), std::string(259, 'v'));
    EXPECT_EQ(read(profile, "s", "long", "", 301), longValue);
    EXPECT_EQ(read(profile, "s", "short", "", 5), "val1");
    EXPECT_EQ(read(profile, "s", "short", "", 6), "val1x");
    EXPECT_EQ(read(profile, "s", "short", "", 1), "");
    EXPECT_EQ(read(profile, "s", "short", "", 0), "");
    // Quotes go first, then the cut.
    EXPECT_EQ(read(profile, "s", "quoted", "", 4), "abc");
    EXPECT_EQ(read(profile, "s", "absent", "default", 4), "def");
    // Characters are counted as Windows counts them (UTF-16 units).
    EXPECT_EQ(read(profile, "s", "wide", "", 3), "äö");
    EXPECT_EQ(read(profile, "s", "emoji", "", 4), "a😀");
}

TEST(PrivateProfileInt, LeadingDecimalNumberWithWindowsEdgeCases) {
    const std::pair<std::string, int> cases[] = {
        {"12", 12},
        {"+1", 1},
        {"-1", -1},
        {"007", 7},
        {"12abc", 12},
        {"42A94967297", 42},
        {"3.9", 3},
        {"'45'", 45},
        {"\" 46\"", 46},
        {"abc", 77}, // present but not a number: the default
        {"B4294967297", 77},
        {"0x10", 0},
        {"-", 77},
        {"- 5", 77},
        // Beyond the range of int the value is held at its end, never wrapped.
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"4294967297", 2147483647},
        {"99999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-4294967297", -2147483647 - 1},
    };
    for (const auto& [written, expected] : cases) {
        const auto profile = profileOf("[s]\nkey=" + written + "\n");
        EXPECT_EQ(profile.getInt("S", "KEY", 77), expected) << written;
    }
    const auto profile = profileOf("[s]\nempty=\nquotes=\"\"\nnokey\n");
    EXPECT_EQ(profile.getInt("s", "empty", 77), 77);
    EXPECT_EQ(profile.getInt("s", "quotes", 77), 77);
    EXPECT_EQ(profile.getInt("s", "nokey", 77), 77);
    EXPECT_EQ(profile.getInt("s", "absent", -3), -3);
    EXPECT_EQ(profile.getInt("absent", "empty", 30), 30);
}

TEST(PrivateProfileSectionNames, FillTheBufferAsWindowsDoes) {
    const auto profile = profileOf("[ section1 ]\r\n[section2]\r\n[section3]\r\n");
    EXPECT_EQ(profile.sectionNames(100), "section1\0section2\0section3\0"s);
    EXPECT_EQ(profile.sectionNames(29), "section1\0section2\0section3\0"s);
    // A buffer of exactly the names plus the final NUL already counts as too
    // small: bufferChars - 2, the last name's NUL not counted.
    EXPECT_EQ(profile.sectionNames(28), "section1\0section2\0section3"s);
    EXPECT_EQ(profile.sectionNames(27), "section1\0section2\0section"s);
    EXPECT_EQ(profile.sectionNames(16), "section1\0secti"s);
    EXPECT_EQ(profile.sectionNames(11), "section1\0"s);
    EXPECT_EQ(profile.sectionNames(10), "section1"s);
    EXPECT_EQ(profile.sectionNames(3), "s"s);
    EXPECT_EQ(profile.sectionNames(2), "");
    EXPECT_EQ(profile.sectionNames(1), "");
    EXPECT_EQ(profile.sectionNames(0), "");
    for (std::size_t size = 2; size < 29; ++size)
        EXPECT_EQ(profile.sectionNames(size).size(), size - 2) << size;

    // Duplicates are listed each time; an empty name is left out.
    const auto repeated = profileOf("[a]\n[]\n[b]\n[A]\n");
    EXPECT_EQ(repeated.sectionNames(100), "a\0b\0A\0"s);
    EXPECT_EQ(profileOf("no sections=1\n").sectionNames(100), "");

    // Counted in UTF-16 units: "PIDä" is four characters, five UTF-8 bytes.
    const auto wide = profileOf("[PIDä]\n[x]\n");
    EXPECT_EQ(wide.sectionNamesUtf16(100), u"PIDä\0x\0"s);
    EXPECT_EQ(wide.sectionNamesUtf16(8), u"PIDä\0x"s);
    EXPECT_EQ(wide.sectionNames(100), "PIDä\0x\0"s);
}

TEST(PrivateProfileEncoding, ByteOrderMarksLineEndsAndSingleByteText) {
    // UTF-8 mark: skipped, the first header on its line still counts.
    EXPECT_EQ(read(profileOf("\xEF\xBB\xBF[s]\nk=v\n"), "s", "k"), "v");

    // UTF-16LE with its mark, CR LF line ends, a character beyond Latin-1.
    const std::u16string wide = u"[s]\r\nk=Grüße €\r\n";
    std::string littleEndian = "\xFF\xFE";
    std::string bigEndian = "\xFE\xFF";
    for (char16_t unit : wide) {
        littleEndian += static_cast<char>(unit & 0xFF);
        littleEndian += static_cast<char>(unit >> 8);
        bigEndian += static_cast<char>(unit >> 8);
        bigEndian += static_cast<char>(unit & 0xFF);
    }
    EXPECT_EQ(read(profileOf(littleEndian), "s", "k"), "Grüße €");
    EXPECT_EQ(read(profileOf(littleEndian + "x"), "s", "k"), "Grüße €"); // odd last byte
    EXPECT_EQ(read(profileOf(bigEndian), "s", "k"), "Grüße €");
    EXPECT_FALSE(profileOf(littleEndian).yieldsNoKey());

    // Without its mark UTF-16 (or UTF-32) still shows a '[' and an '=' per
    // line, but no named section: the caller is told.
    EXPECT_TRUE(profileOf(littleEndian.substr(2)).yieldsNoKey());
    EXPECT_TRUE(profileOf(bigEndian.substr(2)).yieldsNoKey());
    std::string utf32;
    for (const char c : std::string("[SETTING]\r\nWriteLog=1\r\n"))
        utf32 += std::string(1, c) + std::string(3, '\0');
    EXPECT_TRUE(profileOf(utf32).yieldsNoKey());
    EXPECT_FALSE(profileOf("").yieldsNoKey()) << "an empty file asks for every default";
    EXPECT_FALSE(profileOf("; all defaults\n[SETTING]\n").yieldsNoKey());

    // LF, CR LF and lone CR end lines alike.
    const auto mixed = profileOf("[s]\na=1\r\nb=2\rc=3\n\n\r\nd=4");
    EXPECT_EQ(read(mixed, "s", "a"), "1");
    EXPECT_EQ(read(mixed, "s", "b"), "2");
    EXPECT_EQ(read(mixed, "s", "c"), "3");
    EXPECT_EQ(read(mixed, "s", "d"), "4");

    // A Latin-1 byte that is not UTF-8 reads as its Latin-1 character.
    EXPECT_EQ(read(profileOf("[s]\nk=caf\xE9\n"), "s", "k"), "café");
}

TEST(PrivateProfileRobustness, LongLinesNulsAndJunkNeverBreakTheReader) {
    const std::string hugeValue(1 << 20, 'x');
    const auto big = profileOf("[s]\nhuge=" + hugeValue + "\nafter=1\n");
    EXPECT_EQ(read(big, "s", "huge", "", 2000), std::string(1999, 'x'));
    EXPECT_EQ(big.getInt("s", "after", 0), 1);

    std::string manySections;
    for (int i = 0; i < 50000; ++i)
        manySections += "[S" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
    const auto many = profileOf(manySections);
    EXPECT_EQ(many.getInt("s49999", "k", -1), 49999);
    EXPECT_EQ(many.sectionNames(1000).size(), 998u);

    // A NUL ends the name or value it is in.
    const auto nul = profileOf("[s]\nk=ab\0cd\nm\0n=1\n"s);
    EXPECT_EQ(read(nul, "s", "k"), "ab");
    EXPECT_EQ(nul.getInt("s", "m", 0), 1);

    // Unpaired surrogates in a UTF-16 file come back as U+FFFD.
    EXPECT_EQ(read(profileOf("\xFF\xFE[\0s\0]\0\n\0k\0=\0\x00\xD8\n\0"s), "s", "k"),
              "\xEF\xBF\xBD");

    std::mt19937 random(20240611);
    for (int round = 0; round < 200; ++round) {
        std::string junk(static_cast<std::size_t>(random() % 4096), '\0');
        for (char& c : junk)
            c = static_cast<char>(random() & 0xFF);
        if (round % 2)
            junk = "\xFF\xFE" + junk;
        const auto profile = profileOf(junk);
        EXPECT_EQ(profile.status(), PrivateProfile::Status::Loaded);
        (void)profile.getString("s", "k", "d", 260);
        (void)profile.getInt("s", "k", 1);
        EXPECT_LE(profile.sectionNamesUtf16(1000).size(), 998u);
    }
}

TEST(PrivateProfileFile, IsReadOnceAtLoad) {
    TempDir dir;
    const auto file = dir.write("p.ini", "[s]\nk=1\n");
    const auto profile = PrivateProfile::load(file);
    dir.write("p.ini", "[s]\nk=2\n");
    EXPECT_EQ(profile.getInt("s", "k", 0), 1);
    EXPECT_EQ(PrivateProfile::load(file).getInt("s", "k", 0), 2);
}

} // namespace
} // namespace tessell
