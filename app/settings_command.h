#pragma once

// `tessell settings [--pid ID]`: the effective settings of this station as
// JSON, for people and for the scripts that check a station before a run.

#include "station/settings.h"

#include <filesystem>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tessell {

// The JSON document; imagePath is added only when given. Keys keep the order
// of the settings table. "programFolder" tells where the settings were looked
// for and where the result files go.
nlohmann::ordered_json SettingsJson(const std::filesystem::path& programFolder,
                                    const SettingsFileChoice& file, const ToolSettings& settings,
                                    const std::optional<std::string>& imagePath);

// A product ID as typed after --pid: one to four hexadecimal digits, with or
// without "0x".
std::optional<std::uint16_t> ParsePidArgument(std::string_view text);

// args are the words after "settings". Returns the process status: 0, or 2
// for bad arguments or a settings file that cannot be read (with a message
// on err).
int runSettingsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tessell
