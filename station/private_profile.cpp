#include "station/private_profile.h"

#include "common/utf16_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fstream>
#include <optional>
#include <system_error>

namespace tessell {

namespace {

bool isFileBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\r';
}

std::u16string_view trimFileBlanks(std::u16string_view text) {
    while (!text.empty() && isFileBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isFileBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Requested names lose only spaces; a TAB in a request is part of the name.
std::u16string_view trimSpaces(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == u' ')
        text.remove_suffix(1);
    return text;
}

std::u16string cutAtNul(std::u16string_view text) {
    return std::u16string(text.substr(0, text.find(u'\0')));
}

// Upper-case mapping for the letters that appear in station files: ASCII,
// Latin-1, Greek and Cyrillic.
char16_t foldCase(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c < 0x80)
        return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    }
    return true;
}

std::u16string decodeFile(std::string_view bytes) {
    const auto startsWith = [&](std::string_view mark) {
        return bytes.substr(0, mark.size()) == mark;
    };
    const bool littleEndian = startsWith("\xFF\xFE");
    const bool bigEndian = startsWith("\xFE\xFF");
    if (littleEndian || bigEndian) {
        std::u16string text;
        text.reserve(bytes.size() / 2);
        // An odd last byte cannot form a character and is dropped.
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto first = static_cast<unsigned char>(bytes[i]);
            const auto second = static_cast<unsigned char>(bytes[i + 1]);
            text +=
                static_cast<char16_t>(littleEndian ? first | (second << 8) : (first << 8) | second);
        }
        return text;
    }
    if (startsWith("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    return utf8ToUtf16(bytes);
}

std::string lowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::u16string unquote(std::u16string_view value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        return std::u16string(value.substr(1, value.size() - 2));
    return std::u16string(value);
}

// What fits a buffer of bufferChars characters with its terminating NUL.
std::u16string_view fitBuffer(std::u16string_view text, std::size_t bufferChars) {
    if (bufferChars == 0)
        return {};
    return text.substr(0, bufferChars - 1);
}

// The number rule of GetPrivateProfileIntW: optional sign, decimal digits,
// wrapping modulo 2^32. A value with no leading digits is not a number: the
// caller's default serves, so a mistyped setting falls back to its documented
// value rather than to 0.
std::optional<int> parseProfileInt(std::u16string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] <= u' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    // Held at the range of int: -2147483648 still fits, one more does not.
    constexpr std::int64_t largest = std::int64_t{INT_MAX} + 1;
    std::int64_t value = 0;
    const std::size_t firstDigit = pos;
    for (; pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9'; ++pos)
        value = std::min(value * 10 + (text[pos] - u'0'), largest);
    if (pos == firstDigit)
        return std::nullopt;
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

} // namespace

PrivateProfile PrivateProfile::load(const std::filesystem::path& file) {
    PrivateProfile profile;
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status))
        return profile;

    profile.status_ = Status::Unreadable;
    const auto size = std::filesystem::file_size(file, error);
    if (error) {
        profile.problem_ = lowerFirst(error.message());
        return profile;
    }
    if (size > maximumFileBytes) {
        profile.problem_ = "larger than 16 MiB";
        return profile;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        profile.problem_ =
            errno ? lowerFirst(std::generic_category().message(errno)) : "it cannot be opened";
        return profile;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    // A file that shrank while being read keeps what was there.
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        profile.problem_ = "it cannot be read to its end";
        return profile;
    }

    profile.parse(decodeFile(bytes));
    profile.status_ = Status::Loaded;
    return profile;
}

PrivateProfile PrivateProfile::fromBytes(std::string_view bytes) {
    PrivateProfile profile;
    profile.parse(decodeFile(bytes));
    profile.status_ = Status::Loaded;
    return profile;
}

void PrivateProfile::parse(std::u16string_view text) {
    hasText_ = text.find_first_not_of(u" \t\v\f\r\n") != std::u16string_view::npos;
    Section* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string_view::npos)
            end = text.size();
        std::u16string_view line = trimFileBlanks(text.substr(pos, end - pos));
        pos = end;
        if (pos < text.size() && text[pos] == u'\r')
            ++pos;
        if (pos < text.size() && text[pos] == u'\n')
            ++pos;

        if (line.empty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            std::u16string_view name = line.substr(1);
            name = name.substr(0, name.find(u']'));
            sections_.push_back({cutAtNul(trimFileBlanks(name)), {}});
            current = &sections_.back();
            // Text in a foreign encoding (UTF-16 without its mark, say) can
            // still show a '[' or an '=', but no named section.
            if (!current->name.empty())
                hasSection_ = true;
            continue;
        }
        const std::size_t equals = line.find(u'=');
        if (equals == std::u16string_view::npos || current == nullptr)
            continue;
        current->entries.push_back({cutAtNul(trimFileBlanks(line.substr(0, equals))),
                                    cutAtNul(trimFileBlanks(line.substr(equals + 1)))});
    }
}

const std::u16string* PrivateProfile::findValue(std::string_view section,
                                                std::string_view key) const {
    const std::u16string wantedSection = utf8ToUtf16(section);
    const std::u16string wantedKey = utf8ToUtf16(key);
    const auto sectionName = trimSpaces(wantedSection);
    const auto keyName = trimSpaces(wantedKey);
    for (const Section& candidate : sections_) {
        if (!equalIgnoringCase(candidate.name, sectionName))
            continue;
        // Only the first section of a name counts.
        for (const Entry& entry : candidate.entries) {
            if (equalIgnoringCase(entry.name, keyName))
                return &entry.value;
        }
        return nullptr;
    }
    return nullptr;
}

std::string PrivateProfile::getString(std::string_view section, std::string_view key,
                                      std::string_view defaultValue,
                                      std::size_t bufferChars) const {
    if (const std::u16string* value = findValue(section, key))
        return utf16ToUtf8(fitBuffer(unquote(*value), bufferChars));
    std::u16string fallback = utf8ToUtf16(defaultValue);
    while (!fallback.empty() && fallback.back() == u' ')
        fallback.pop_back();
    return utf16ToUtf8(fitBuffer(fallback, bufferChars));
}

int PrivateProfile::getInt(std::string_view section, std::string_view key, int defaultValue) const {
    const std::u16string* value = findValue(section, key);
    if (value == nullptr)
        return defaultValue;
    const std::u16string text = unquote(*value);
    if (text.empty())
        return defaultValue;
    return parseProfileInt(text).value_or(defaultValue);
}

std::u16string PrivateProfile::sectionNamesUtf16(std::size_t bufferChars) const {
    if (bufferChars < 2)
        return {};
    std::u16string buffer;
    std::size_t room = bufferChars - 1; // one character is kept for the final NUL
    for (const Section& section : sections_) {
        if (section.name.empty())
            continue;
        const std::size_t needed = section.name.size() + 1;
        if (needed >= room) {
            // Cut to fit, then the two NULs; Windows reports bufferChars - 2.
            buffer.append(section.name, 0, room - 1);
            buffer += u'\0';
            buffer.resize(bufferChars - 2);
            return buffer;
        }
        buffer += section.name;
        buffer += u'\0';
        room -= needed;
    }
    return buffer;
}

std::string PrivateProfile::sectionNames(std::size_t bufferChars) const {
    return utf16ToUtf8(sectionNamesUtf16(bufferChars));
}

std::vector<std::string> PrivateProfile::sectionNameList() const {
    std::vector<std::string> names;
    for (const Section& section : sections_) {
        if (!section.name.empty())
            names.push_back(utf16ToUtf8(section.name));
    }
    return names;
}

} // namespace tessell
