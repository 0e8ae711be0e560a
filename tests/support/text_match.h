#pragma once

// Looking for a piece of an operator text, a log or a program's output.

#include <string_view>

namespace tessell::testing {

inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace tessell::testing
