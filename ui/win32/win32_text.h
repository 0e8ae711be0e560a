#pragma once

// The tool's UTF-8 text at the edge of the wide-character window API.

#include "common/utf16_text.h"

#include <string>
#include <string_view>

namespace tessell::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the window API counts UTF-16 code units");

inline std::wstring wide(std::string_view utf8) {
    const std::u16string text = utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

inline std::string narrow(std::wstring_view text) {
    return utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

// A multi-line edit box breaks lines only at CR LF: a lone LF or CR of a
// log line becomes a pair too.
inline std::wstring editBoxText(std::string_view utf8) {
    const std::wstring text = wide(utf8);
    std::wstring shown;
    shown.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            shown += L"\r\n";
            ++i;
        } else if (c == L'\r' || c == L'\n') {
            shown += L"\r\n";
        } else {
            shown += c;
        }
    }
    return shown;
}

} // namespace tessell::win32
