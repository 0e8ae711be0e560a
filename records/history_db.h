#pragma once

// The station's burn history: one SQLite file ("history.db" in the program
// folder unless `[LINE] History=` names another). Append-only: a record is
// inserted as an intent, completed once with its outcome, and never deleted;
// triggers in the file refuse anything else. Written in WAL mode with
// synchronous=FULL, so that a committed outcome survives a power loss.
//
// A file the tool cannot read, or one written by a newer tool, is left as it
// is byte for byte: nothing is recorded into it, and the reason is given.

#include "download/burn_record.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessell {

// The schema this tool writes (PRAGMA user_version). Older files are
// migrated forward in one transaction; newer ones are not touched.
inline constexpr int kHistorySchemaVersion = 1;
inline constexpr const char* kHistoryFileName = "history.db";

// Whether the process that wrote an intent still runs (it may yet complete
// it): platform::processRunning in the tool, something else in tests.
using ProcessRunning = std::function<bool(int processId)>;

// What `tessell history` and the windows ask for. Empty fields do not filter.
struct HistoryQuery {
    std::string serial; // matched against the burned, before and after serials
    std::string hub;    // with `port`
    int port = 0;
    std::string since, until; // record times (UTC text), inclusive
    std::string result;       // pass, fail, aborted
    std::string imagePrefix;  // start of the image's SHA-256, any case
    std::optional<int> limit;
};

class HistoryDb {
public:
    enum class Mode { Write, Read };
    struct Opened {
        std::unique_ptr<HistoryDb> db; // none when it cannot be used
        std::string problem;           // why, when none
    };
    // Opens (for writing: creates or migrates) the history at `path`.
    static Opened open(const std::filesystem::path& path, Mode mode);

    ~HistoryDb();
    HistoryDb(const HistoryDb&) = delete;
    HistoryDb& operator=(const HistoryDb&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes a batch of intents and outcomes in one transaction; each one that
    // fails is left out with its reason in `problems` (one per failed item,
    // empty string for the others). False when the transaction itself failed.
    struct Write {
        const BurnRecord* record = nullptr;
        bool outcome = false;
    };
    bool write(const std::vector<Write>& writes, std::vector<std::string>& problems);

    // Marks the intents of `station` whose process is gone as aborted, found
    // at `now`. Returns how many.
    int markAborted(const std::string& station, const std::string& now,
                    const ProcessRunning& running, std::string& problem);

    // Records matching `query`, newest first. An intent without outcome reads
    // as aborted once its process is gone, as "running" while it runs.
    bool select(const HistoryQuery& query, const ProcessRunning& running,
                const std::function<bool(const BurnRecord&)>& each, std::string& problem);

    // Records in the order they were created, from after `sequence` on, at
    // most `limit`: for uploading them elsewhere.
    std::vector<BurnRecord> createdAfter(std::int64_t sequence, int limit, std::string& problem);

    // Passed and failed records of `station` started at or after `since`.
    struct Counts {
        int passed = 0;
        int failed = 0;
    };
    std::optional<Counts> counts(const std::string& station, const std::string& since);

private:
    struct Handle;
    HistoryDb(std::filesystem::path path, std::unique_ptr<Handle> handle);

    std::filesystem::path path_;
    std::unique_ptr<Handle> handle_;
};

// Whether this build keeps a history at all (not where SQLite is missing).
bool historyAvailable();

} // namespace tessell
