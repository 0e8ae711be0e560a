#include "logs/result_template.h"

#include "common/single_byte_text.h"
#include "common/text_format.h"

#include <array>
#include <cstdio>

namespace tessell {

namespace {

// One "{...}" in a template text: [begin, end) covers both braces.
struct BraceGroup {
    std::size_t begin;
    std::size_t end;
    std::string_view name;
};

// The first brace group at or after `from`; none when there is no "{" with a
// "}" after it. The name runs to the first "}", so "{a{pid}" is one group
// named "a{pid".
std::optional<BraceGroup> nextBraceGroup(std::string_view text, std::size_t from) {
    const std::size_t open = text.find('{', from);
    if (open == std::string_view::npos)
        return std::nullopt;
    const std::size_t close = text.find('}', open + 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    return BraceGroup{open, close + 1, text.substr(open + 1, close - open - 1)};
}

std::string asciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

struct NamedKind {
    std::string_view name;
    bool anyCase;
    PlaceholderKind kind;
};

// In test order: the first entry that matches wins.
constexpr std::array<NamedKind, 15> namedKinds{{
    {"pid", true, PlaceholderKind::Pid},
    {"vid", true, PlaceholderKind::Vid},
    {"bcd", true, PlaceholderKind::Bcd},
    {"sn", true, PlaceholderKind::Sn},
    {"ic", true, PlaceholderKind::Ic},
    {"errcode", true, PlaceholderKind::Errcode},
    {"result", true, PlaceholderKind::Result},
    {"tab", true, PlaceholderKind::Tab},
    {"nl", true, PlaceholderKind::Nl},
    {"Y", false, PlaceholderKind::Year},
    {"m", false, PlaceholderKind::Month},
    {"d", true, PlaceholderKind::Day},
    {"H", false, PlaceholderKind::Hour},
    {"M", false, PlaceholderKind::Minute},
    {"S", false, PlaceholderKind::Second},
}};

constexpr std::size_t serialFieldWidth = 32;

std::string timeField(const std::tm& localTime, const char* code) {
    std::array<char, 16> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), code, &localTime);
    return std::string(text.data(), length);
}

// "%32s" counted in characters of the file, not in UTF-8 bytes: the file has
// one byte per character, so an "é" in a serial number must take one column.
std::string serialField(std::string_view sn) {
    const std::size_t width = toSingleByte(sn).size();
    std::string field(width < serialFieldWidth ? serialFieldWidth - width : 0, ' ');
    field += sn;
    return field;
}

std::string valueOf(PlaceholderKind kind, const ResultRecord& record, const std::tm& localTime) {
    switch (kind) {
    case PlaceholderKind::Ic:
        return {};
    case PlaceholderKind::Pid:
        return hex4(record.pid);
    case PlaceholderKind::Vid:
        return hex4(record.vid);
    case PlaceholderKind::Bcd:
        return hex4(record.bcd);
    case PlaceholderKind::Sn:
        return serialField(record.sn);
    case PlaceholderKind::Result:
        return record.result;
    case PlaceholderKind::Errcode:
        return std::to_string(record.errcode);
    case PlaceholderKind::Tab:
        return "\t";
    case PlaceholderKind::Nl:
        return "\r\n";
    case PlaceholderKind::Year:
        return timeField(localTime, "%Y");
    case PlaceholderKind::Month:
        return timeField(localTime, "%m");
    case PlaceholderKind::Day:
        return timeField(localTime, "%d");
    case PlaceholderKind::Hour:
        return timeField(localTime, "%H");
    case PlaceholderKind::Minute:
        return timeField(localTime, "%M");
    case PlaceholderKind::Second:
        return timeField(localTime, "%S");
    }
    return {};
}

} // namespace

std::optional<PlaceholderKind> placeholderKindOf(std::string_view name) {
    const std::string lower = asciiLower(name);
    for (const NamedKind& entry : namedKinds) {
        if ((entry.anyCase ? std::string_view(lower) : name) == entry.name)
            return entry.kind;
    }
    return std::nullopt;
}

ResultTemplate ParseResultTemplate(std::string_view text) {
    ResultTemplate parsed{std::string(text), {}};
    for (auto group = nextBraceGroup(text, 0);
         group && parsed.placeholders.size() < maxPlaceholders;
         group = nextBraceGroup(text, group->end)) {
        if (const auto kind = placeholderKindOf(group->name))
            parsed.placeholders.push_back(*kind);
    }
    return parsed;
}

std::string expandResultTemplate(const ResultTemplate& resultTemplate, const ResultRecord& record,
                                 const std::tm& localTime) {
    const std::string_view text = resultTemplate.text;
    const auto& placeholders = resultTemplate.placeholders;
    std::string out;
    std::size_t copied = 0;
    std::size_t used = 0;
    // Values go only where a recognised name stands. Giving one to every brace
    // group would let a single misspelt {name} shift every later value one
    // field to the right, and the record would still look well-formed.
    for (auto group = nextBraceGroup(text, 0); group && used < placeholders.size();
         group = nextBraceGroup(text, group->end)) {
        if (!placeholderKindOf(group->name))
            continue;
        out.append(text.substr(copied, group->begin - copied));
        out += valueOf(placeholders[used++], record, localTime);
        copied = group->end;
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace tessell
