#include "app/line_command.h"

#include "app/paths.h"
#include "common/json_text.h"
#include "records/line_database.h"
#include "records/line_records.h"
#include "records/line_schema.h"
#include "records/line_serials.h"
#include "records/station_history.h"
#include "station/download_job.h"
#include "station/settings.h"

#include <nlohmann/json.hpp>
#include <ostream>

namespace tessell {

namespace {

constexpr const char* kLineUsageText = "usage: tessell line init\n"
                                       "       tessell line status [--json]\n";
constexpr const char* kSerialsUsageText = "usage: tessell serials [--json] [--resolve]\n";

constexpr const char* kTime = "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'";

std::string utc(const std::string& column) {
    return "to_char(" + column + " AT TIME ZONE 'UTC', " + kTime + ")";
}

struct LineContext {
    ToolSettings settings;
    std::unique_ptr<LineConnection> connection;
    std::string shown; // the database, for messages
};

// The station's settings and an open connection; none after saying why.
std::optional<LineContext> openLine(const char* command, std::ostream& err, int& status) {
    const auto folder = programFolder();
    ToolSettingsInput input;
    input.file = ChooseSettingsFile(folder);
    input.programFolder = folder;
    LineContext context;
    context.settings = ReadToolSettings(input).settings;
    if (context.settings.lineDatabase.empty()) {
        err << "tessell " << command << ": no line database: set [LINE] Database= in "
            << (input.file.fileName.empty() ? std::string("setting.ini") : input.file.fileName)
            << " or " << kDatabaseVariable << "\n";
        status = kLineUsage;
        return std::nullopt;
    }
    context.shown = describeDatabase(context.settings.lineDatabase);
    std::string problem;
    context.connection = LineConnection::open(context.settings.lineDatabase, problem);
    if (!context.connection) {
        err << "tessell " << command << ": the line database " << context.shown
            << " cannot be reached: " << problem << "\n";
        status = kLineDatabaseFailed;
        return std::nullopt;
    }
    return context;
}

int lineRefused(const char* command, const LineContext& context, const std::string& problem,
                std::ostream& err) {
    err << "tessell " << command << ": the line database " << context.shown
        << " refused: " << problem << "\n";
    return kLineDatabaseFailed;
}

nlohmann::ordered_json nullable(const std::optional<std::string>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// Rows as JSON objects with `names` as keys.
nlohmann::ordered_json rowsJson(const LineConnection::Result& result,
                                const std::vector<std::string>& names) {
    auto rows = nlohmann::ordered_json::array();
    for (const auto& row : result.rows) {
        nlohmann::ordered_json object;
        for (std::size_t i = 0; i < names.size() && i < row.size(); ++i)
            object[names[i]] = nullable(row[i]);
        rows.push_back(std::move(object));
    }
    return rows;
}

void printRows(std::ostream& out, const std::string& title, const LineConnection::Result& result,
               const std::vector<std::string>& names) {
    out << title << " (" << result.rows.size() << ")\n";
    for (const auto& row : result.rows) {
        out << " ";
        for (std::size_t i = 0; i < names.size() && i < row.size(); ++i)
            out << " " << names[i] << "=" << row[i].value_or("-");
        out << "\n";
    }
}

const std::vector<std::string> kCounterNames = {"pattern", "next", "issued", "first"};
const std::string kCountersSql =
    "SELECT pattern, next_serial, issued::text, first_serial FROM tessell.serial_counters "
    "ORDER BY pattern";

int initCommand(std::ostream& out, std::ostream& err) {
    int status = kLineDone;
    auto context = openLine("line init", err, status);
    if (!context)
        return status;
    const LineInitResult result = initLineSchema(*context->connection);
    if (!result.ok)
        return lineRefused("line init", *context, result.problem, err);
    if (result.fromVersion == result.toVersion)
        out << "The line database " << context->shown << " holds schema version "
            << result.toVersion << "; functions and rights renewed.\n";
    else
        out << "The line database " << context->shown << " upgraded from schema version "
            << result.fromVersion << " to " << result.toVersion << ".\n";
    out << "Grant the role " << kStationRole << " to each station's login.\n";
    return kLineDone;
}

int statusCommand(bool json, std::ostream& out, std::ostream& err) {
    int status = kLineDone;
    auto context = openLine("line status", err, status);
    if (!context)
        return status;
    LineConnection& db = *context->connection;
    // Every station that sent a record or reserved a number: its last
    // record, today's (UTC) passes and failures, its numbers in flight.
    const auto stations = db.exec(R"sql(
WITH today AS (SELECT to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD') AS day),
records AS (
    SELECT station, max(started) AS last,
           count(*) FILTER (WHERE result = 'pass' AND started >= today.day) AS passed,
           count(*) FILTER (WHERE result <> 'pass' AND started >= today.day) AS failed
    FROM tessell.line_records, today GROUP BY station),
numbers AS (
    SELECT station, count(*) FILTER (WHERE state = 'reserved') AS in_flight,
           count(*) FILTER (WHERE state = 'void') AS void
    FROM tessell.serial_reservations GROUP BY station)
SELECT coalesce(records.station, numbers.station), records.last,
       coalesce(records.passed, 0)::text, coalesce(records.failed, 0)::text,
       coalesce(numbers.in_flight, 0)::text, coalesce(numbers.void, 0)::text
FROM records FULL JOIN numbers ON records.station = numbers.station ORDER BY 1)sql");
    if (!stations.ok)
        return lineRefused("line status", *context, stations.error, err);
    // This station's records that have not gone up yet.
    std::optional<int> waiting;
    const std::string station = lineStationName(context->settings);
    std::string waitingProblem;
    HistoryDb::Opened history = HistoryDb::open(
        historyPath(programFolder(), context->settings.history), HistoryDb::Mode::Read);
    if (history.db)
        waiting = waitingRecords(*history.db, db, station, waitingProblem);
    const auto counters = db.exec(kCountersSql);
    if (!counters.ok)
        return lineRefused("line status", *context, counters.error, err);
    const std::vector<std::string> stationNames = {"station",      "last_record", "passed_today",
                                                   "failed_today", "in_flight",   "void"};
    if (json) {
        nlohmann::ordered_json document;
        document["database"] = context->shown;
        document["station"] = station;
        document["records_waiting"] =
            waiting ? nlohmann::ordered_json(*waiting) : nlohmann::ordered_json(nullptr);
        document["stations"] = rowsJson(stations, stationNames);
        document["counters"] = rowsJson(counters, kCounterNames);
        out << jsonText(document) << "\n";
        return kLineDone;
    }
    out << "Line database " << context->shown << "\n";
    out << "Records of " << station << " waiting to go up: "
        << (waiting ? std::to_string(*waiting) : "unknown (no history here)") << "\n";
    printRows(out, "Stations", stations, stationNames);
    printRows(out, "Counters", counters, kCounterNames);
    return kLineDone;
}

} // namespace

int runLineCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << kLineUsageText;
        return args.empty() ? kLineUsage : kLineDone;
    }
    if (args[0] == "init" && args.size() == 1)
        return initCommand(out, err);
    if (args[0] == "status" && (args.size() == 1 || (args.size() == 2 && args[1] == "--json")))
        return statusCommand(args.size() == 2, out, err);
    err << "tessell line: unknown arguments\n" << kLineUsageText;
    return kLineUsage;
}

int runSerialsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    bool resolve = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out << kSerialsUsageText;
            return kLineDone;
        }
        if (arg == "--json") {
            json = true;
        } else if (arg == "--resolve") {
            resolve = true;
        } else {
            err << "tessell serials: unknown argument \"" << arg << "\"\n" << kSerialsUsageText;
            return kLineUsage;
        }
    }
    int status = kLineDone;
    auto context = openLine("serials", err, status);
    if (!context)
        return status;
    LineConnection& db = *context->connection;
    const std::string station = lineStationName(context->settings);
    std::optional<ResolvedReservations> resolved;
    if (resolve) {
        // Only what processes of this station that are gone left in flight:
        // a burn still running keeps its cameras' numbers.
        resolved = resolveReservations(db, station);
        if (!resolved->ok)
            return lineRefused("serials", *context, resolved->problem, err);
    }
    const auto counters = db.exec(kCountersSql);
    // Who holds a reservation: the computer and process id it was taken in.
    const std::string columns =
        "serial, station, port, " + utc("taken_at") + ", record_id, owner_host || ':' || owner_pid";
    const auto inFlight = db.exec(
        "SELECT " + columns +
        " FROM tessell.serial_reservations WHERE state = 'reserved' ORDER BY taken_at, serial");
    const auto voids = db.exec("SELECT " + columns + ", " + utc("ended_at") +
                               " FROM tessell.serial_reservations WHERE state = 'void' "
                               "ORDER BY ended_at, serial");
    for (const auto* result : {&counters, &inFlight, &voids})
        if (!result->ok)
            return lineRefused("serials", *context, result->error, err);
    const std::vector<std::string> flightNames = {"serial", "station", "port",
                                                  "taken",  "record",  "process"};
    std::vector<std::string> voidNames = flightNames;
    voidNames.push_back("ended");
    if (json) {
        nlohmann::ordered_json document;
        document["database"] = context->shown;
        if (resolved)
            document["resolved"] = {{"voided", resolved->voided},
                                    {"left_running", resolved->running},
                                    {"left_elsewhere", resolved->elsewhere}};
        document["counters"] = rowsJson(counters, kCounterNames);
        document["in_flight"] = rowsJson(inFlight, flightNames);
        document["void"] = rowsJson(voids, voidNames);
        out << jsonText(document) << "\n";
        return kLineDone;
    }
    if (resolved) {
        out << resolved->voided.size() << " reservation(s) of station " << station << " ended void";
        for (std::size_t index = 0; index < resolved->voided.size(); ++index)
            out << (index ? ", " : ": ") << resolved->voided[index];
        out << ".\n";
        if (resolved->running > 0)
            out << resolved->running << " left in flight: the burn that holds them still runs.\n";
        if (resolved->elsewhere > 0)
            out << resolved->elsewhere
                << " left in flight: taken on another computer under this station's name; "
                   "resolve them there.\n";
    }
    printRows(out, "Counters", counters, kCounterNames);
    printRows(out, "In flight", inFlight, flightNames);
    printRows(out, "Void", voids, voidNames);
    return kLineDone;
}

} // namespace tessell
