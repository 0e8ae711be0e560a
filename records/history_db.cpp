#include "records/history_db.h"

#include <algorithm>
#include <cctype>
#include <sqlite3.h>
#include <system_error>

namespace tessell {

namespace {

// "TSLH": a history file of this tool, told apart from any other database.
constexpr int kApplicationId = 0x54534C48;
// A second writer (another copy of the tool on the same file) is waited for
// this long before a write gives up.
constexpr int kBusyTimeoutMs = 2000;

constexpr const char* kCreateSchema = R"(
CREATE TABLE burns (
    sequence INTEGER PRIMARY KEY AUTOINCREMENT,
    id TEXT NOT NULL UNIQUE,
    station TEXT NOT NULL,
    tool TEXT NOT NULL,
    tool_version TEXT NOT NULL,
    process_id INTEGER NOT NULL,
    hub TEXT NOT NULL,
    port INTEGER NOT NULL,
    row INTEGER,
    slot INTEGER,
    chip_family TEXT NOT NULL,
    chip_id INTEGER,
    flash_code INTEGER,
    flash_name TEXT NOT NULL,
    vid_before INTEGER,
    pid_before INTEGER,
    bcd_before INTEGER,
    serial_before TEXT NOT NULL,
    vid_after INTEGER,
    pid_after INTEGER,
    bcd_after INTEGER,
    serial_after TEXT NOT NULL DEFAULT '',
    serial_burned TEXT NOT NULL DEFAULT '',
    image_name TEXT NOT NULL,
    image_size INTEGER NOT NULL,
    image_sha256 TEXT NOT NULL,
    started TEXT NOT NULL,
    ended TEXT NOT NULL DEFAULT '',
    duration_ms INTEGER,
    result TEXT CHECK (result IN ('pass', 'fail', 'aborted')),
    exit_code INTEGER,
    row_status TEXT NOT NULL DEFAULT '',
    error TEXT NOT NULL DEFAULT '',
    aborted_found TEXT NOT NULL DEFAULT ''
);
CREATE INDEX burns_started ON burns (started);
CREATE INDEX burns_open ON burns (station) WHERE result IS NULL;
CREATE TRIGGER burns_never_deleted BEFORE DELETE ON burns
BEGIN SELECT RAISE(ABORT, 'history records are never deleted'); END;
CREATE TRIGGER burns_outcome_once BEFORE UPDATE ON burns WHEN OLD.result IS NOT NULL
BEGIN SELECT RAISE(ABORT, 'a record with an outcome is never changed'); END;
)";

// The steps from each older schema to the next; step n takes version n to
// n + 1. Version 0 is a file with no tables yet.
constexpr const char* kMigrations[] = {kCreateSchema};
static_assert(std::size(kMigrations) == kHistorySchemaVersion);

constexpr const char* kColumns =
    "sequence, id, station, tool, tool_version, process_id, hub, port, row, slot, chip_family, "
    "chip_id, flash_code, flash_name, vid_before, pid_before, bcd_before, serial_before, "
    "vid_after, pid_after, bcd_after, serial_after, serial_burned, image_name, image_size, "
    "image_sha256, started, ended, duration_ms, result, exit_code, row_status, error, "
    "aborted_found";

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK)
            statement_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }

    void bind(int index, const std::string& text) {
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void bind(int index, std::int64_t value) { sqlite3_bind_int64(statement_, index, value); }
    template <typename T> void bind(int index, const std::optional<T>& value) {
        if (value)
            sqlite3_bind_int64(statement_, index, static_cast<std::int64_t>(*value));
        else
            sqlite3_bind_null(statement_, index);
    }
    int step() { return sqlite3_step(statement_); }

    std::string text(int column) const {
        const auto* bytes = sqlite3_column_text(statement_, column);
        return bytes
                   ? std::string(reinterpret_cast<const char*>(bytes),
                                 static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                   : std::string();
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
    template <typename T> std::optional<T> optional(int column) const {
        if (sqlite3_column_type(statement_, column) == SQLITE_NULL)
            return std::nullopt;
        return static_cast<T>(sqlite3_column_int64(statement_, column));
    }

private:
    sqlite3_stmt* statement_ = nullptr;
};

std::string errorText(sqlite3* db) {
    return db ? sqlite3_errmsg(db) : "out of memory";
}

bool execute(sqlite3* db, const char* sql, std::string& problem) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    problem = message ? message : errorText(db);
    sqlite3_free(message);
    return false;
}

std::optional<std::int64_t> pragmaNumber(sqlite3* db, const char* sql, std::string& problem) {
    Statement statement(db, sql);
    if (!statement) {
        problem = errorText(db);
        return std::nullopt;
    }
    if (statement.step() != SQLITE_ROW) {
        problem = errorText(db);
        return std::nullopt;
    }
    return statement.integer(0);
}

BurnRecord readRecord(const Statement& row) {
    BurnRecord record;
    int column = 0;
    record.sequence = row.integer(column++);
    record.id = row.text(column++);
    record.station = row.text(column++);
    record.tool = row.text(column++);
    record.toolVersion = row.text(column++);
    record.processId = static_cast<int>(row.integer(column++));
    record.hub = row.text(column++);
    record.port = static_cast<int>(row.integer(column++));
    record.row = row.optional<int>(column++);
    record.slot = row.optional<int>(column++);
    record.chipFamily = row.text(column++);
    record.chipId = row.optional<int>(column++);
    record.flashCode = row.optional<int>(column++);
    record.flashName = row.text(column++);
    record.vidBefore = row.optional<int>(column++);
    record.pidBefore = row.optional<int>(column++);
    record.bcdBefore = row.optional<int>(column++);
    record.serialBefore = row.text(column++);
    record.vidAfter = row.optional<int>(column++);
    record.pidAfter = row.optional<int>(column++);
    record.bcdAfter = row.optional<int>(column++);
    record.serialAfter = row.text(column++);
    record.serialBurned = row.text(column++);
    record.imageName = row.text(column++);
    record.imageSize = static_cast<std::uint64_t>(row.integer(column++));
    record.imageSha256 = row.text(column++);
    record.started = row.text(column++);
    record.ended = row.text(column++);
    record.durationMs = row.optional<std::int64_t>(column++);
    record.result = row.text(column++);
    record.exitCode = row.optional<int>(column++);
    record.rowStatus = row.text(column++);
    record.error = row.text(column++);
    record.abortedFound = row.text(column++);
    return record;
}

// A record without outcome, as a reader sees it.
void showOpenRecord(BurnRecord& record, const ProcessRunning& running) {
    if (!record.result.empty())
        return;
    record.result = running && running(record.processId) ? "running" : record_result::kAborted;
}

// Brings the file to this tool's schema, all steps or none. The version is
// read again inside the transaction: another copy of the tool may have
// migrated the file meanwhile.
bool migrate(sqlite3* db, std::string& problem) {
    if (!execute(db, "BEGIN IMMEDIATE", problem))
        return false;
    const auto version = pragmaNumber(db, "PRAGMA user_version", problem);
    if (!version) {
        execute(db, "ROLLBACK", problem);
        return false;
    }
    std::string steps;
    for (auto step = *version; step < kHistorySchemaVersion; ++step)
        steps += kMigrations[step];
    steps += "PRAGMA application_id = " + std::to_string(kApplicationId) + ";";
    steps += "PRAGMA user_version = " + std::to_string(kHistorySchemaVersion) + ";";
    if (*version < kHistorySchemaVersion && !execute(db, steps.c_str(), problem)) {
        std::string ignored;
        execute(db, "ROLLBACK", ignored);
        return false;
    }
    return execute(db, "COMMIT", problem);
}

} // namespace

struct HistoryDb::Handle {
    sqlite3* db = nullptr;
    ~Handle() { sqlite3_close_v2(db); }
};

HistoryDb::HistoryDb(std::filesystem::path path, std::unique_ptr<Handle> handle)
    : path_(std::move(path)), handle_(std::move(handle)) {}

HistoryDb::~HistoryDb() = default;

HistoryDb::Opened HistoryDb::open(const std::filesystem::path& path, Mode mode) {
    const std::string name = path.string();
    std::error_code error;
    const bool exists = std::filesystem::exists(path, error);
    if (mode == Mode::Read && !exists)
        return {nullptr, name + ": no history yet"};
    if (exists && !std::filesystem::is_regular_file(path, error))
        return {nullptr, name + ": not a file"};

    auto handle = std::make_unique<Handle>();
    const int flags =
        mode == Mode::Read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(name.c_str(), &handle->db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK)
        return {nullptr, name + ": " + errorText(handle->db)};
    sqlite3* db = handle->db;
    sqlite3_busy_timeout(db, kBusyTimeoutMs);

    // Read before anything is written: a file that is not ours, or is newer
    // than this tool, must be left exactly as it is.
    std::string problem;
    const auto version = pragmaNumber(db, "PRAGMA user_version", problem);
    const auto application = pragmaNumber(db, "PRAGMA application_id", problem);
    const auto tables =
        pragmaNumber(db, "SELECT count(*) FROM sqlite_schema WHERE type = 'table'", problem);
    if (!version || !application || !tables)
        return {nullptr, name + " cannot be read (" + problem + ")"};
    if (*application != kApplicationId && !(*application == 0 && *tables == 0))
        return {nullptr, name + " is not a burn history of this tool"};
    if (*version > kHistorySchemaVersion)
        return {nullptr, name + " was written by a newer tool (schema " + std::to_string(*version) +
                             ", this tool knows " + std::to_string(kHistorySchemaVersion) + ")"};
    if (mode == Mode::Read) {
        if (*version < kHistorySchemaVersion)
            return {nullptr, *tables == 0 ? name + ": no history yet"
                                          : name + " has an older schema; a tool that records "
                                                   "burns will bring it up to date"};
        return {std::unique_ptr<HistoryDb>(new HistoryDb(path, std::move(handle))), {}};
    }

    // WAL: readers (the window's counts, `tessell history`) never hold up a
    // writer; FULL: a commit is on disk when it returns.
    if (!execute(db, "PRAGMA journal_mode = WAL", problem) ||
        !execute(db, "PRAGMA synchronous = FULL", problem))
        return {nullptr, name + " cannot be written (" + problem + ")"};
    if (*version < kHistorySchemaVersion && !migrate(db, problem))
        return {nullptr, name + " could not be brought to schema " +
                             std::to_string(kHistorySchemaVersion) + " (" + problem +
                             "); it is kept as it was"};
    return {std::unique_ptr<HistoryDb>(new HistoryDb(path, std::move(handle))), {}};
}

bool HistoryDb::write(const std::vector<Write>& writes, std::vector<std::string>& problems) {
    sqlite3* db = handle_->db;
    problems.assign(writes.size(), {});
    std::string problem;
    if (!execute(db, "BEGIN IMMEDIATE", problem)) {
        problems.assign(writes.size(), problem);
        return false;
    }
    Statement insert(db, "INSERT INTO burns (id, station, tool, tool_version, process_id, hub, "
                         "port, row, slot, chip_family, chip_id, flash_code, flash_name, "
                         "vid_before, pid_before, bcd_before, serial_before, image_name, "
                         "image_size, image_sha256, started) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                         "?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21)");
    Statement complete(db, "UPDATE burns SET vid_after = ?2, pid_after = ?3, bcd_after = ?4, "
                           "serial_after = ?5, serial_burned = ?6, ended = ?7, duration_ms = ?8, "
                           "result = ?9, exit_code = ?10, row_status = ?11, error = ?12 "
                           "WHERE id = ?1 AND result IS NULL");
    if (!insert || !complete) {
        problem = errorText(db);
        execute(db, "ROLLBACK", problem);
        problems.assign(writes.size(), errorText(db));
        return false;
    }
    for (std::size_t index = 0; index < writes.size(); ++index) {
        const BurnRecord& r = *writes[index].record;
        Statement& statement = writes[index].outcome ? complete : insert;
        sqlite3_reset(statement.get());
        sqlite3_clear_bindings(statement.get());
        if (!writes[index].outcome) {
            statement.bind(1, r.id);
            statement.bind(2, r.station);
            statement.bind(3, r.tool);
            statement.bind(4, r.toolVersion);
            statement.bind(5, std::int64_t{r.processId});
            statement.bind(6, r.hub);
            statement.bind(7, std::int64_t{r.port});
            statement.bind(8, r.row);
            statement.bind(9, r.slot);
            statement.bind(10, r.chipFamily);
            statement.bind(11, r.chipId);
            statement.bind(12, r.flashCode);
            statement.bind(13, r.flashName);
            statement.bind(14, r.vidBefore);
            statement.bind(15, r.pidBefore);
            statement.bind(16, r.bcdBefore);
            statement.bind(17, r.serialBefore);
            statement.bind(18, r.imageName);
            statement.bind(19, static_cast<std::int64_t>(r.imageSize));
            statement.bind(20, r.imageSha256);
            statement.bind(21, r.started);
        } else {
            statement.bind(1, r.id);
            statement.bind(2, r.vidAfter);
            statement.bind(3, r.pidAfter);
            statement.bind(4, r.bcdAfter);
            statement.bind(5, r.serialAfter);
            statement.bind(6, r.serialBurned);
            statement.bind(7, r.ended);
            statement.bind(8, r.durationMs);
            statement.bind(9, r.result);
            statement.bind(10, r.exitCode);
            statement.bind(11, r.rowStatus);
            statement.bind(12, r.error);
        }
        if (statement.step() != SQLITE_DONE)
            problems[index] = errorText(db);
        else if (writes[index].outcome && sqlite3_changes(db) != 1)
            problems[index] = "no intent of this record is open (it was marked aborted, or its "
                              "intent was not written)";
    }
    if (!execute(db, "COMMIT", problem)) {
        execute(db, "ROLLBACK", problem);
        problems.assign(writes.size(), problem);
        return false;
    }
    return true;
}

int HistoryDb::markAborted(const std::string& station, const std::string& now,
                           const ProcessRunning& running, std::string& problem) {
    sqlite3* db = handle_->db;
    std::vector<std::string> gone;
    {
        Statement open(db,
                       "SELECT id, process_id FROM burns WHERE result IS NULL AND station = ?1");
        if (!open) {
            problem = errorText(db);
            return 0;
        }
        open.bind(1, station);
        int step;
        while ((step = open.step()) == SQLITE_ROW)
            if (!running || !running(static_cast<int>(open.integer(1))))
                gone.push_back(open.text(0));
        if (step != SQLITE_DONE) {
            problem = errorText(db);
            return 0;
        }
    }
    if (gone.empty())
        return 0;
    if (!execute(db, "BEGIN IMMEDIATE", problem))
        return 0;
    Statement mark(db, "UPDATE burns SET result = 'aborted', aborted_found = ?2 "
                       "WHERE id = ?1 AND result IS NULL");
    int marked = 0;
    for (const std::string& id : gone) {
        sqlite3_reset(mark.get());
        mark.bind(1, id);
        mark.bind(2, now);
        if (mark.step() == SQLITE_DONE)
            marked += sqlite3_changes(db);
    }
    if (!execute(db, "COMMIT", problem)) {
        execute(db, "ROLLBACK", problem);
        return 0;
    }
    return marked;
}

bool HistoryDb::select(const HistoryQuery& query, const ProcessRunning& running,
                       const std::function<bool(const BurnRecord&)>& each, std::string& problem) {
    std::string sql = std::string("SELECT ") + kColumns + " FROM burns WHERE 1";
    if (!query.serial.empty())
        sql += " AND (serial_burned = ?1 OR serial_before = ?1 OR serial_after = ?1)";
    if (!query.hub.empty())
        sql += " AND hub = ?2 AND port = ?3";
    if (!query.since.empty())
        sql += " AND started >= ?4";
    if (!query.until.empty())
        sql += " AND started <= ?5";
    if (!query.imagePrefix.empty())
        sql += " AND substr(image_sha256, 1, length(?6)) = ?6";
    // Aborted and running intents are told apart below.
    if (query.result == record_result::kPass || query.result == record_result::kFail)
        sql += " AND result = ?7";
    else if (query.result == record_result::kAborted)
        sql += " AND (result = 'aborted' OR result IS NULL)";
    sql += " ORDER BY sequence DESC";
    Statement statement(handle_->db, sql.c_str());
    if (!statement) {
        problem = errorText(handle_->db);
        return false;
    }
    statement.bind(1, query.serial);
    statement.bind(2, query.hub);
    statement.bind(3, std::int64_t{query.port});
    statement.bind(4, query.since);
    statement.bind(5, query.until);
    std::string prefix = query.imagePrefix;
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    statement.bind(6, prefix);
    statement.bind(7, query.result);
    int shown = 0;
    int step;
    while ((!query.limit || shown < *query.limit) && (step = statement.step()) == SQLITE_ROW) {
        BurnRecord record = readRecord(statement);
        showOpenRecord(record, running);
        if (!query.result.empty() && record.result != query.result)
            continue;
        ++shown;
        if (!each(record))
            return true;
    }
    if (query.limit && shown >= *query.limit)
        return true;
    if (step != SQLITE_DONE) {
        problem = errorText(handle_->db);
        return false;
    }
    return true;
}

std::vector<BurnRecord> HistoryDb::createdAfter(std::int64_t sequence, int limit,
                                                std::string& problem) {
    std::vector<BurnRecord> records;
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM burns WHERE sequence > ?1 ORDER BY sequence LIMIT ?2";
    Statement statement(handle_->db, sql.c_str());
    if (!statement) {
        problem = errorText(handle_->db);
        return records;
    }
    statement.bind(1, sequence);
    statement.bind(2, std::int64_t{limit});
    int step;
    while ((step = statement.step()) == SQLITE_ROW)
        records.push_back(readRecord(statement));
    if (step != SQLITE_DONE)
        problem = errorText(handle_->db);
    return records;
}

std::optional<HistoryDb::Counts> HistoryDb::counts(const std::string& station,
                                                   const std::string& since) {
    Statement statement(handle_->db,
                        "SELECT count(*) FILTER (WHERE result = 'pass'), count(*) FILTER (WHERE "
                        "result = 'fail') FROM burns WHERE station = ?1 AND started >= ?2");
    if (!statement)
        return std::nullopt;
    statement.bind(1, station);
    statement.bind(2, since);
    if (statement.step() != SQLITE_ROW)
        return std::nullopt;
    return Counts{static_cast<int>(statement.integer(0)), static_cast<int>(statement.integer(1))};
}

bool historyAvailable() {
    return true;
}

} // namespace tessell
