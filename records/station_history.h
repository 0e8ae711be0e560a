#pragma once

// A tool's history: the station's file opened for writing at start, intents
// of earlier runs that never got their outcome marked aborted, and the sink
// every burn session of the process records through. When the file cannot
// be used the tools burn without recording, and the operator is told why.

#include "download/burn_record.h"
#include "records/history_db.h"
#include "records/history_writer.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tessell {

class LineUploader;

struct HistorySettings {
    std::filesystem::path programFolder;
    std::string station; // `[LINE] Station=`; empty: the host name
    std::string history; // `[LINE] History=`; empty: "history.db" in the program folder
    // `[LINE] Database=`: the records also go up to the line; empty: they stay here.
    std::string lineDatabase;
};

class StationHistory {
public:
    // Lines for the operator, from any thread.
    using Say = std::function<void(std::string_view line)>;

    // Opens the history; what goes wrong is said through `say` (once here,
    // and for each record that cannot be written later).
    StationHistory(const HistorySettings& settings, Say say);
    ~StationHistory();
    StationHistory(const StationHistory&) = delete;
    StationHistory& operator=(const StationHistory&) = delete;

    // The sink to record through; null when nothing can be recorded.
    BurnRecordSink* sink() { return writer_.get(); }
    // The fields every record of this process starts with.
    BurnRecord fields(const char* tool) const;
    const std::string& station() const { return station_; }
    const std::filesystem::path& path() const { return path_; }

    // Today's (UTC) passed and failed burns of the station; none when the
    // history cannot be read.
    std::optional<HistoryDb::Counts> todaysCounts() const;

private:
    std::filesystem::path path_;
    std::string station_;
    // Declared before the writer, so that it ends after it: the records the
    // writer still had go up with the uploader's last attempt.
    std::unique_ptr<LineUploader> uploader_;
    std::unique_ptr<HistoryWriter> writer_;
};

// "Today: 12 passed, 1 failed" for a window; empty when the history cannot
// be read.
std::string stationCountsText(const StationHistory& history);

// The image file's name as a record keeps it: without its folder, whichever
// separator the path uses.
std::string recordedImageName(std::string_view path);

// The station's name when the settings give none: the host name.
std::string defaultStationName();

// The file of a station's history: `setting` (`[LINE] History=`) when given,
// relative to the program folder, else "history.db" there.
std::filesystem::path historyPath(const std::filesystem::path& programFolder,
                                  const std::string& setting);

} // namespace tessell
