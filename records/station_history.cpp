#include "records/station_history.h"

#include "platform/system.h"
#include "records/line_records.h"

namespace tessell {

namespace {

std::string todayStart() {
    const std::string now = recordTime(std::chrono::system_clock::now());
    return now.substr(0, 10) + "T00:00:00.000Z";
}

} // namespace

std::string stationCountsText(const StationHistory& history) {
    const auto counts = history.todaysCounts();
    if (!counts)
        return {};
    return "Today: " + std::to_string(counts->passed) + " passed, " +
           std::to_string(counts->failed) + " failed";
}

std::string recordedImageName(std::string_view path) {
    const auto cut = path.find_last_of("/\\");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string defaultStationName() {
    const std::string host = platform::hostName();
    return host.empty() ? "station" : host;
}

std::filesystem::path historyPath(const std::filesystem::path& programFolder,
                                  const std::string& setting) {
    if (setting.empty())
        return programFolder / kHistoryFileName;
    const std::filesystem::path named(setting);
    return named.is_absolute() ? named : programFolder / named;
}

StationHistory::StationHistory(const HistorySettings& settings, Say say)
    : path_(historyPath(settings.programFolder, settings.history)),
      station_(settings.station.empty() ? defaultStationName() : settings.station) {
    // A tool with no program folder (a test of a controller alone) keeps no
    // history, rather than one in whatever folder it was started from.
    if (settings.programFolder.empty() && path_.is_relative())
        return;
    // A build without SQLite says so in its README, not at every start.
    if (!historyAvailable())
        return;
    HistoryDb::Opened opened = HistoryDb::open(path_, HistoryDb::Mode::Write);
    if (!opened.db) {
        std::error_code error;
        if (say)
            say("history: " + opened.problem + "; burns are not recorded" +
                (std::filesystem::exists(path_, error) ? " (the file is left as it is)" : ""));
        return;
    }
    // Intents of this station whose tool is gone never get their outcome:
    // the process was killed or the power went while the camera burned.
    std::string problem;
    const int aborted = opened.db->markAborted(
        station_, recordTime(std::chrono::system_clock::now()), platform::processRunning, problem);
    if (say && !problem.empty())
        say("history: " + path_.string() +
            ": earlier burns without an outcome could not be "
            "marked aborted: " +
            problem);
    if (say && aborted > 0)
        say("history: " + std::to_string(aborted) +
            " earlier burn(s) of this station ended without an outcome; recorded as aborted");
    writer_ = std::make_unique<HistoryWriter>(std::move(opened.db), say);
    if (!settings.lineDatabase.empty())
        uploader_ = std::make_unique<LineUploader>(path_, settings.lineDatabase, station_);
}

StationHistory::~StationHistory() = default;

BurnRecord StationHistory::fields(const char* tool) const {
    BurnRecord record;
    record.station = station_;
    record.tool = tool;
    record.toolVersion = TESSELL_VERSION;
    record.processId = platform::currentProcessId();
    return record;
}

std::optional<HistoryDb::Counts> StationHistory::todaysCounts() const {
    HistoryDb::Opened opened = HistoryDb::open(path_, HistoryDb::Mode::Read);
    if (!opened.db)
        return std::nullopt;
    return opened.db->counts(station_, todayStart());
}

} // namespace tessell
