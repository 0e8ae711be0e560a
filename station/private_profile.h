#pragma once

// A reader of INI files with the rules of the Windows private-profile
// functions GetPrivateProfileStringW, GetPrivateProfileIntW and
// GetPrivateProfileSectionNamesW. The stations' "setting.ini" (and its
// variants) and "pid.ini" were written and tuned against those functions, so
// the tool must read them the same way on every platform.
//
// The file is read once, when `load` is called; later changes to the file are
// not seen (the tool reads its settings once at start). Lengths and buffer
// sizes are counted as Windows counts them, in UTF-16 code units ("characters"
// below); for ASCII text that is one byte per character. Text handed back is
// UTF-8.
//
// Sources of the rules:
//  [L1] Microsoft Learn, GetPrivateProfileStringW
//       https://learn.microsoft.com/en-us/windows/win32/api/winbase/nf-winbase-getprivateprofilestringw
//  [L2] Microsoft Learn, GetPrivateProfileIntW
//       https://learn.microsoft.com/en-us/windows/win32/api/winbase/nf-winbase-getprivateprofileintw
//  [L3] Microsoft Learn, GetPrivateProfileSectionNamesW
//       https://learn.microsoft.com/en-us/windows/win32/api/winbase/nf-winbase-getprivateprofilesectionnamesw
//  [L4] MSDN (1998), GetProfileInt: "returns 102 for the line KeyName=102abc"
//  [W]  Wine conformance tests dlls/kernel32/tests/profile.c (each assertion
//       there also passes on Windows unless marked todo/broken)
//  [R]  WelliSolutions/IniFileFormatReverseEngineering, black-box tests of the
//       functions on Windows 10 (documentation/GetPrivateProfileString.md,
//       documentation/Comments.md and its tests)
//
// File format
//  - Encoding: a UTF-16LE byte-order mark makes the file UTF-16LE, as Windows
//    reads it [R]. Otherwise the bytes are UTF-8; a byte that is not part of
//    well-formed UTF-8 is the Latin-1 character of the same value (a file from
//    an old single-byte station still reads sensibly).
//    Decided here: a UTF-8 byte-order mark is skipped. Windows does not know it
//    and takes it as part of the first line, which loses a first section header
//    on that line [R]; no station can want that. A UTF-16BE mark is honoured
//    too (Windows would give defaults for the whole file [R]).
//  - Lines end at LF, CR LF or a lone CR.
//  - White space around section names, key names and values is the blanks
//    space, TAB, VT, FF and CR; it is stripped [R] [W].
//  - "[name]" starts a section. The name ends at the first ']' [R]; without a
//    ']' it runs to the end of the line [R]. Text after the ']' is ignored [R].
//    An empty name "[]" is a section like any other, reachable with "" [R].
//  - A line whose first non-blank character is ';' is a comment [R]. A ';'
//    anywhere else is part of the name or value [R]; '#' is not a comment [R].
//  - "key=value" lines before the first section header belong to no section
//    and cannot be read [R].
//  - A line without '=' is not a key: it is never found [W] [R], and it does
//    not hide a later "key=value" line of the same name.
//  - Duplicate sections: only the first section of a name is searched; keys
//    of a later section of the same name are not seen [R]. Duplicate keys in a
//    section: the first one wins [R].
//  - A NUL character ends the name or value it appears in (Windows copies
//    them as C strings). Any byte sequence is accepted; nothing crashes.
//
// Lookups (getString, getInt)
//  - Section and key names compare without regard to letter case [L1] [L2]
//    (ASCII, Latin-1, Greek and Cyrillic letters). Spaces (only spaces) around
//    the requested names are ignored [R].
//  - A missing file, section or key gives the default [L1] [R]. A file that
//    cannot be read, or a path naming a folder, reads as empty; status() and
//    problem() tell the caller, who decides whether defaults may serve.
//
// getString(section, key, default, bufferChars): GetPrivateProfileStringW
// with a buffer of bufferChars characters.
//  - A value enclosed in matching quotes, single or double, loses the
//    outermost pair [L1] [R]; quotes that do not match stay [R]. A lone quote
//    character stays.
//  - An empty value ("key=") gives the empty text, not the default [W].
//  - The default loses its trailing spaces (only spaces) [L1] [R].
//  - The result is cut to bufferChars - 1 characters (the buffer keeps room
//    for the terminating NUL) [L1] [W]: buffer 260 gives at most 259
//    characters, buffer 1 and buffer 0 give "" [W].
//  - Not modelled: Windows loses values of 65536 characters and more to a
//    16-bit overflow [R]; here long values are read and cut to the buffer.
//
// getInt(section, key, default): GetPrivateProfileIntW.
//  - Missing file, section or key, or an empty value: the default [L2].
//  - Otherwise the value (quotes stripped as above) is read as an optional
//    '+' or '-' followed by decimal digits; the first other character ends
//    the number ("12abc" gives 12 [L4]; "42A94967297" gives 42 [W]). A value
//    that does not start with a number ("abc", "-", "B4294967297") gives the
//    default. Windows returns 0 there [W]; the tool's settings documents say
//    a value that is not a number keeps the setting's default, and a stray
//    letter in a settings file must not turn a 30 s time-out into 0.
//    Decided here: a number beyond the range of int is held at the nearest
//    end ("99999999999999999999" gives 2147483647, "-4294967297" gives
//    -2147483648). Windows wraps the digits modulo 2^32 [W], which turns a
//    huge time-out into an arbitrary one, or a negative one.
//
// sectionNames(bufferChars): GetPrivateProfileSectionNamesW with a buffer of
// bufferChars characters. The buffer receives each section name (duplicates
// included [R], empty names left out) followed by a NUL, then one more NUL.
// The returned text is the first N characters of that buffer, N being what
// Windows returns, so size() is the Windows return value for ASCII names:
//  - Everything fits, including the final NUL: N = the length of all names
//    with their NULs ("a\0b\0" gives 4) [L3] [W].
//  - It does not fit: N = bufferChars - 2 [L3]. The names are copied while a
//    name with its NUL is shorter than the room left before the final NUL;
//    the first name that is not is cut to fit and followed by two NULs [W].
//    So a buffer of exactly the full length plus the final NUL already counts
//    as too small: three names "section1".."section3" give 27 with a buffer of
//    29, 26 with 28 (all three names still in the buffer) and 25 with 27
//    ("section1\0section2\0section") [W].
//  - bufferChars 0, 1 or 2, a missing file, or no sections: N = 0 [W] [R].

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

class PrivateProfile {
public:
    enum class Status {
        Missing,    // no such file, or a folder: every read gives its default
        Loaded,     // read into memory
        Unreadable, // exists but could not be read (or is absurdly large): defaults
    };

    // Reads the whole file into memory. Never throws; a missing or unreadable
    // file gives an empty profile whose reads all give their defaults.
    static PrivateProfile load(const std::filesystem::path& file);

    // The same rules over bytes already in memory (status Loaded).
    static PrivateProfile fromBytes(std::string_view bytes);

    PrivateProfile() = default;

    Status status() const { return status_; }
    // Why the file is Unreadable ("permission denied", ...); empty otherwise.
    const std::string& problem() const { return problem_; }
    // The file holds text, but not one named section, so no key can be
    // read from it: it is most likely in an encoding the reader does not know.
    bool yieldsNoKey() const { return hasText_ && !hasSection_; }

    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::size_t bufferChars) const;

    int getInt(std::string_view section, std::string_view key, int defaultValue) const;

    // The NUL-separated names, UTF-8 (see above for the exact contents).
    std::string sectionNames(std::size_t bufferChars) const;

    // The same in UTF-16, so that size() is the Windows return value for any
    // names, not only ASCII ones.
    std::u16string sectionNamesUtf16(std::size_t bufferChars) const;

    // Every section name, in file order, duplicates included and empty names
    // left out, with no buffer to fill: for a caller that reads names as
    // names.
    std::vector<std::string> sectionNameList() const;

    // Files larger than this are refused as Unreadable.
    static constexpr std::uintmax_t maximumFileBytes = 16u * 1024 * 1024;

private:
    struct Entry {
        std::u16string name;
        std::u16string value;
    };
    struct Section {
        std::u16string name;
        std::vector<Entry> entries;
    };

    void parse(std::u16string_view text);
    const std::u16string* findValue(std::string_view section, std::string_view key) const;

    Status status_ = Status::Missing;
    std::string problem_;
    bool hasText_ = false;
    bool hasSection_ = false;
    std::vector<Section> sections_;
};

} // namespace tessell
