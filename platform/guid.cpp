#include "platform/guid.h"

#include <cstdio>

namespace tessell {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<Guid> Guid::parse(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-')
        return std::nullopt;
    // Bytes in text order, then the first three fields turned little-endian.
    std::array<std::uint8_t, 16> inOrder{};
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '-') {
            ++i;
            continue;
        }
        const int high = hexValue(text[i]);
        const int low = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        if (high < 0 || low < 0 || out >= inOrder.size())
            return std::nullopt;
        inOrder[out++] = static_cast<std::uint8_t>(high << 4 | low);
        i += 2;
    }
    Guid guid;
    guid.bytes = inOrder;
    auto reverse = [&](std::size_t from, std::size_t count) {
        for (std::size_t k = 0; k < count; ++k)
            guid.bytes[from + k] = inOrder[from + count - 1 - k];
    };
    reverse(0, 4);
    reverse(4, 2);
    reverse(6, 2);
    return guid;
}

std::string Guid::toString() const {
    const auto& b = bytes;
    char text[39];
    std::snprintf(text, sizeof text,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

bool Guid::isNull() const {
    for (auto byte : bytes)
        if (byte != 0)
            return false;
    return true;
}

} // namespace tessell
