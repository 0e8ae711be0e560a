#include "platform/query_socket.h"

#include <algorithm>
#include <cctype>

namespace tessell::platform {

namespace {

std::string lowerTrimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

} // namespace

std::optional<ToolQuestion> parseToolQuestion(std::string_view request) {
    const std::string word = lowerTrimmed(request);
    if (word == "ac" || word == "0x8001")
        return ToolQuestion::AcCheck;
    if (word == "camera" || word == "0x8002")
        return ToolQuestion::CameraOpen;
    if (word == "image" || word == "0x8003")
        return ToolQuestion::ImageBuffer;
    return std::nullopt;
}

} // namespace tessell::platform
