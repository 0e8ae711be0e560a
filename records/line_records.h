#pragma once

// Every station's records gathered in the line database. The station's own
// history stays the first place a record is written; an uploader sends its
// finished records up in the order they were created, each keyed by its
// record id, so that a record sent twice is stored once. While the database
// is away the records wait in the history and go up when it is back; a burn
// never waits for the line.

#include "download/burn_record.h"
#include "records/history_db.h"
#include "records/line_database.h"

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace tessell {

// A record as the line keeps it: the history's field names, nulls for
// fields without a value.
nlohmann::ordered_json lineRecordJson(const BurnRecord& record);
BurnRecord lineRecordFromJson(const nlohmann::json& json);

struct LineUpload {
    bool reached = false; // the line database answered
    int sent = 0;
    int waiting = 0; // records of the history the line does not hold yet
    std::string problem;
};

// Sends `station`'s finished records the line does not hold yet, oldest
// first, up to the first one still running.
LineUpload uploadRecords(HistoryDb& history, LineConnection& line, const std::string& station);

// How many records of `history` after the line's last one of `station` wait.
std::optional<int> waitingRecords(HistoryDb& history, LineConnection& line,
                                  const std::string& station, std::string& problem);

// Uploads in the background for as long as it lives: now, then every few
// seconds (tool time), and once more at the end when the line was there.
class LineUploader {
public:
    LineUploader(std::filesystem::path history, std::string connection, std::string station);
    ~LineUploader();
    LineUploader(const LineUploader&) = delete;
    LineUploader& operator=(const LineUploader&) = delete;

private:
    void run();
    LineUpload attempt();

    std::filesystem::path history_;
    std::string connection_;
    std::string station_;
    std::unique_ptr<LineConnection> line_;
    bool lastReached_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace tessell
