#pragma once

// JSON text as the tool writes it, from one place: text that is not UTF-8 (a
// camera's name cut inside a character, odd bytes in a file or a hub's name)
// is written with U+FFFD in place of the bad bytes instead of making the
// writer throw and end the process.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tessell {

// `value` as JSON text; `indent` -1 for one line.
template <typename Json> std::string jsonText(const Json& value, int indent = -1) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

// A JSON string holding `text`.
inline std::string jsonString(std::string_view text) {
    return jsonText(nlohmann::json(std::string(text)));
}

} // namespace tessell
