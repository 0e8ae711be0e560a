#include "app/tool_history.h"

namespace tessell {

HistorySettings historySettings(const ToolSettings& settings,
                                const std::filesystem::path& programFolder) {
    HistorySettings history;
    history.programFolder = programFolder;
    history.station = settings.station;
    history.history = settings.history;
    history.lineDatabase = settings.lineDatabase;
    return history;
}

HistorySettings historySettingsOf(const std::filesystem::path& programFolder) {
    ToolSettingsInput input;
    input.file = ChooseSettingsFile(programFolder);
    input.programFolder = programFolder;
    return historySettings(ReadToolSettings(input).settings, programFolder);
}

} // namespace tessell
