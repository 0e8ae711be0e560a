#include "logs/result_template.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tessell {
namespace {

using Placeholder = PlaceholderKind;

std::tm fields(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

ResultRecord camera() {
    ResultRecord record;
    record.pid = 0x000C;
    record.vid = 0x1209;
    record.bcd = 0x1234;
    record.sn = "SN0001";
    record.result = "Pass";
    record.errcode = 0;
    return record;
}

std::string expand(std::string_view text, const ResultRecord& record = camera(),
                   const std::tm& time = fields(2016, 9, 12, 14, 3, 7)) {
    return expandResultTemplate(ParseResultTemplate(text), record, time);
}

TEST(ParseResultTemplate, NamesCaseRulesAndTestOrder) {
    struct Case {
        std::string text;
        std::vector<Placeholder> kinds;
    };
    const Case cases[] = {
        {"", {}},
        {"plain text, no names", {}},
        {"{pid}{PID}{Pid}", {Placeholder::Pid, Placeholder::Pid, Placeholder::Pid}},
        {"{VID}{Bcd}{SN}{IC}{ErrCode}{RESULT}{Tab}{NL}",
         {Placeholder::Vid, Placeholder::Bcd, Placeholder::Sn, Placeholder::Ic,
          Placeholder::Errcode, Placeholder::Result, Placeholder::Tab, Placeholder::Nl}},
        {"{Y}{m}{d}{D}{H}{M}{S}",
         {Placeholder::Year, Placeholder::Month, Placeholder::Day, Placeholder::Day,
          Placeholder::Hour, Placeholder::Minute, Placeholder::Second}},
        {"{y}{h}{s}{YY}{mm}", {}},             // exact-case names only as written
        {"{ pid }{pid }{p id}{}{foo}", {}},    // no trimming, no partial match
        {"{a{pid}x{vid}", {Placeholder::Vid}}, // a name runs to the first "}"
        {"}{pid}}", {Placeholder::Pid}},       // stray "}" is text
        {"{sn}{vid", {Placeholder::Sn}},       // "{" without "}" is text
    };
    for (const auto& c : cases) {
        const ResultTemplate parsed = ParseResultTemplate(c.text);
        EXPECT_EQ(parsed.text, c.text);
        EXPECT_EQ(parsed.placeholders, c.kinds) << c.text;
    }
}

TEST(ParseResultTemplate, KeepsAtMost260AndWritesTheRestAsText) {
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "{tab}";
    const ResultTemplate parsed = ParseResultTemplate(text);
    EXPECT_EQ(parsed.placeholders.size(), maxPlaceholders);
    EXPECT_EQ(parsed.text, text);

    std::string expected(maxPlaceholders, '\t');
    for (int i = 260; i < 300; ++i)
        expected += "{tab}";
    EXPECT_EQ(expandResultTemplate(parsed, camera(), fields(2016, 9, 12, 14, 3, 7)), expected);

    // Unrecognised names do not count towards the limit.
    std::string mixed;
    for (int i = 0; i < 300; ++i)
        mixed += "{x}";
    mixed += "{pid}";
    EXPECT_EQ(ParseResultTemplate(mixed).placeholders, std::vector<Placeholder>{Placeholder::Pid});
}

TEST(ExpandResultTemplate, ValuesOfEveryKind) {
    EXPECT_EQ(expand("{pid}|{vid}|{bcd}"), "000c|1209|1234");
    EXPECT_EQ(expand("<{ic}>{IC}"), "<>");
    EXPECT_EQ(expand("{result}/{errcode}"), "Pass/0");
    EXPECT_EQ(expand("a{tab}b{nl}c"), "a\tb\r\nc");
    EXPECT_EQ(expand("{Y}/{m}/{d} {H}:{M}:{S}"), "2016/09/12 14:03:07");
    EXPECT_EQ(expand("{D}.{m}.{Y} {M}", camera(), fields(2024, 1, 5, 8, 9, 4)), "05.01.2024 09");

    ResultRecord failed = camera();
    failed.pid = 0xFFFF;
    failed.result = "Fail";
    failed.errcode = -1;
    EXPECT_EQ(expand("{pid} {result} {errcode}", failed), "ffff Fail -1");
}

TEST(ExpandResultTemplate, SerialNumberRightAlignedIn32Columns) {
    ResultRecord record = camera();
    EXPECT_EQ(expand("[{sn}]", record), "[" + std::string(26, ' ') + "SN0001]");
    record.sn.clear();
    EXPECT_EQ(expand("[{sn}]", record), "[" + std::string(32, ' ') + "]");
    record.sn = std::string(32, 'x');
    EXPECT_EQ(expand("{sn}", record), record.sn);
    record.sn = std::string(40, 'y');
    EXPECT_EQ(expand("{sn}", record), record.sn);
    // Columns are the file's single bytes: "é" is one column, not two.
    record.sn = "Ab\xC3\xA9";
    EXPECT_EQ(expand("{sn}", record), std::string(29, ' ') + "Ab\xC3\xA9");
}

TEST(ExpandResultTemplate, UnrecognisedNamesStayAndDoNotShiftValues) {
    // A misspelt name must not take the value meant for the next one.
    EXPECT_EQ(expand("{pid}{tab}{foo}{tab}{vid}{tab}{y}{tab}{result}"),
              "000c\t{foo}\t1209\t{y}\tPass");
    EXPECT_EQ(expand("{}{pid}"), "{}000c");
    EXPECT_EQ(expand("{a{pid}x{vid}"), "{a{pid}x1209");
    EXPECT_EQ(expand("{pid} {vid"), "000c {vid");
    EXPECT_EQ(expand("}{pid}}"), "}000c}");
    EXPECT_EQ(expand("no names at all"), "no names at all");
}

} // namespace
} // namespace tessell
