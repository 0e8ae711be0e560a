#pragma once

// "burn_result.txt" templates: the HEADER and FORMAT texts of the settings'
// LOG section, with {name} placeholders that a finished download fills in.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

// The values of one finished download, as the download command knows them.
struct ResultRecord {
    std::uint16_t pid = 0;
    std::uint16_t vid = 0;
    std::uint16_t bcd = 0;
    std::string sn;     // the camera's serial-number text, UTF-8
    std::string result; // "Pass" or "Fail"
    std::int32_t errcode = 0;
};

// What a recognised {name} stands for. The values are internal only.
enum class PlaceholderKind : std::uint8_t {
    Ic = 0,      // {ic}: empty
    Pid = 1,     // {pid}: "%.4x"
    Vid = 2,     // {vid}: "%.4x"
    Bcd = 3,     // {bcd}: "%.4x"
    Sn = 4,      // {sn}: "%32s"
    Result = 5,  // {result}
    Errcode = 6, // {errcode}: "%d"
    Tab = 7,     // {tab}
    Nl = 8,      // {nl}: CR LF
    Year = 9,    // {Y}
    Month = 10,  // {m}
    Day = 11,    // {d} or {D}
    Hour = 12,   // {H}
    Minute = 13, // {M}
    Second = 14, // {S}
};

// A template holds at most this many placeholders; later brace groups are
// written as they stand, like unrecognised names.
inline constexpr std::size_t maxPlaceholders = 260;

struct ResultTemplate {
    std::string text;                          // exactly as read
    std::vector<PlaceholderKind> placeholders; // recognised {name}s, in text order
};

// The kind a name between braces stands for, if it is one. The
// names are tested in a fixed order, first match wins: pid, vid, bcd, sn, ic,
// errcode, result, tab, nl in any letter case; then Y and m exactly; d in any
// case; H, M and S exactly. So {PID} is the product ID, {D} the day, {m} the
// month and {M} the minute, while {y}, {h} and {s} are not placeholders.
std::optional<PlaceholderKind> placeholderKindOf(std::string_view name);

// Lists the recognised placeholders of `text`. A brace group runs from "{" to
// the next "}"; a "{" with no "}" after it is plain text.
ResultTemplate ParseResultTemplate(std::string_view text);

// The template with every listed placeholder replaced by its value from
// `record` and `localTime` (the one instant of this record). Everything else
// is copied as it stands, including unrecognised {name}s, so each value lands
// in the place of its own name. UTF-8 in, UTF-8 out.
std::string expandResultTemplate(const ResultTemplate& resultTemplate, const ResultRecord& record,
                                 const std::tm& localTime);

} // namespace tessell
