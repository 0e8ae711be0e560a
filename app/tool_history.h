#pragma once

// The station's history as the command-line tools and the multi-camera
// station open it: from the `[LINE]` keys of the settings file.

#include "records/station_history.h"
#include "station/settings.h"

#include <filesystem>
#include <memory>

namespace tessell {

HistorySettings historySettings(const ToolSettings& settings,
                                const std::filesystem::path& programFolder);

// Reads the settings file of `programFolder` for its `[LINE]` keys.
HistorySettings historySettingsOf(const std::filesystem::path& programFolder);

} // namespace tessell
