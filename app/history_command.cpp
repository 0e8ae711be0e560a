#include "app/history_command.h"

#include "app/paths.h"
#include "app/tool_history.h"
#include "common/whole_number.h"
#include "platform/system.h"
#include "records/history_db.h"
#include "records/line_records.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>

namespace tessell {

const char* const kHistoryUsageText =
    "usage: tessell history [--serial SN] [--port HUB:PORT] [--since TIME] [--until TIME]\n"
    "                       [--result pass|fail|aborted] [--image SHA256-PREFIX] [--limit N]\n"
    "                       [--json | --csv | --summary] [--line]\n"
    "The station's burn records (--line: every station's, from the line database),\n"
    "newest first: a table, JSON Lines (--json), CSV with\n"
    "a header row (--csv), or the counts per day and result with the median burn time\n"
    "(--summary). TIME is UTC: 2026-12-09, 2026-12-09T14:30 or 2026-12-09T14:30:05Z;\n"
    "a date as --until takes in the whole day.\n"
    "Exit status: 0 records found, 1 none, 2 bad option or unreadable history.\n";

namespace {

enum class Format { Table, Json, Csv, Summary };

struct HistoryRequest {
    HistoryQuery query;
    Format format = Format::Table;
    bool line = false; // from the line database
};

std::string parseHistoryArgs(const std::vector<std::string>& args, HistoryRequest& request) {
    bool formatChosen = false;
    const auto choose = [&](Format format) {
        if (formatChosen && request.format != format)
            return false;
        formatChosen = true;
        request.format = format;
        return true;
    };
    for (std::size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        const bool hasValue = at + 1 < args.size();
        const auto value = [&]() -> const std::string& { return args[++at]; };
        if (arg == "--json" || arg == "--csv" || arg == "--summary") {
            if (!choose(arg == "--json"  ? Format::Json
                        : arg == "--csv" ? Format::Csv
                                         : Format::Summary))
                return "--json, --csv and --summary exclude each other";
            continue;
        }
        if (arg == "--line") {
            request.line = true;
            continue;
        }
        if (arg != "--serial" && arg != "--port" && arg != "--since" && arg != "--until" &&
            arg != "--result" && arg != "--image" && arg != "--limit")
            return "unknown argument \"" + arg + "\"";
        if (!hasValue)
            return arg + " needs a value";
        const std::string& text = value();
        if (arg == "--serial") {
            request.query.serial = text;
        } else if (arg == "--port") {
            const auto colon = text.rfind(':');
            const auto port = colon == std::string::npos
                                  ? std::nullopt
                                  : parseWholeNumber<int>(text.substr(colon + 1));
            if (colon == 0 || !port || *port < 1 || *port > 65535)
                return "\"" + text + "\" is not HUB:PORT";
            request.query.hub = text.substr(0, colon);
            request.query.port = *port;
        } else if (arg == "--since" || arg == "--until") {
            const auto time = historyTime(text, arg == "--until");
            if (!time)
                return "\"" + text + "\" is not a TIME (2026-12-09 or 2026-12-09T14:30:05Z)";
            (arg == "--since" ? request.query.since : request.query.until) = *time;
        } else if (arg == "--result") {
            if (text != record_result::kPass && text != record_result::kFail &&
                text != record_result::kAborted)
                return "--result takes pass, fail or aborted";
            request.query.result = text;
        } else if (arg == "--image") {
            if (text.empty() || text.size() > 64 ||
                !std::all_of(text.begin(), text.end(),
                             [](unsigned char c) { return std::isxdigit(c) != 0; }))
                return "--image takes the start of an image's SHA-256 in hex";
            request.query.imagePrefix = text;
        } else {
            const auto limit = parseWholeNumber<int>(text);
            if (!limit || *limit < 1)
                return "--limit takes a number of at least 1";
            request.query.limit = *limit;
        }
    }
    return {};
}

std::string quoted(const std::string& text) {
    // Most fields are plain ASCII: they need only their quotes. Anything
    // else (escapes, UTF-8, bytes that are not UTF-8) goes the long way.
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    });
    if (plain)
        return '"' + text + '"';
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

template <typename T> std::string number(const std::optional<T>& value) {
    return value ? std::to_string(*value) : std::string();
}

// One record's fields by name, in the order of the JSON and the CSV; a number
// or null as JSON reads it, and whether it is text.
struct Field {
    const char* name;
    std::string value; // empty with !text: null
    bool text;
};

std::vector<Field> fieldsOf(const BurnRecord& r) {
    return {{"id", r.id, true},
            {"sequence", std::to_string(r.sequence), false},
            {"station", r.station, true},
            {"tool", r.tool, true},
            {"tool_version", r.toolVersion, true},
            {"hub", r.hub, true},
            {"port", std::to_string(r.port), false},
            {"row", number(r.row), false},
            {"slot", number(r.slot), false},
            {"chip_family", r.chipFamily, true},
            {"chip_id", number(r.chipId), false},
            {"flash_code", number(r.flashCode), false},
            {"flash_name", r.flashName, true},
            {"vid_before", number(r.vidBefore), false},
            {"pid_before", number(r.pidBefore), false},
            {"bcd_before", number(r.bcdBefore), false},
            {"serial_before", r.serialBefore, true},
            {"vid_after", number(r.vidAfter), false},
            {"pid_after", number(r.pidAfter), false},
            {"bcd_after", number(r.bcdAfter), false},
            {"serial_after", r.serialAfter, true},
            {"serial_burned", r.serialBurned, true},
            {"image_name", r.imageName, true},
            {"image_size", std::to_string(r.imageSize), false},
            {"image_sha256", r.imageSha256, true},
            {"started", r.started, true},
            {"ended", r.ended, true},
            {"duration_ms", number(r.durationMs), false},
            {"result", r.result, true},
            {"exit_code", number(r.exitCode), false},
            {"row_status", r.rowStatus, true},
            {"error", r.error, true},
            {"aborted_found", r.abortedFound, true},
            {"process_id", std::to_string(r.processId), false}};
}

std::string jsonLine(const BurnRecord& record) {
    std::string line = "{";
    for (const Field& field : fieldsOf(record)) {
        if (line.size() > 1)
            line += ", ";
        line += '"';
        line += field.name;
        line += "\": ";
        line += field.text ? quoted(field.value) : field.value.empty() ? "null" : field.value;
    }
    return line + "}\n";
}

std::string csvText(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string cell = "\"";
    for (const char c : text)
        cell += c == '"' ? std::string("\"\"") : std::string(1, c);
    return cell + "\"";
}

std::string csvLine(const std::vector<Field>& fields, bool header) {
    std::string line;
    for (const Field& field : fields) {
        if (!line.empty())
            line += ',';
        line += csvText(header ? field.name : field.value);
    }
    return line + "\r\n";
}

std::string shownSerial(const BurnRecord& r) {
    return !r.serialBurned.empty()  ? r.serialBurned
           : !r.serialAfter.empty() ? r.serialAfter
                                    : r.serialBefore;
}

std::string tableColumns(const std::string& started, const std::string& result,
                         const std::string& tool, const std::string& port,
                         const std::string& serial, const std::string& image,
                         const std::string& seconds, const std::string& error) {
    char line[256];
    std::snprintf(line, sizeof line, "%-24s  %-7s  %-12s  %-16s  %-16s  %-20s  %7s  ",
                  started.c_str(), result.c_str(), tool.c_str(), port.c_str(), serial.c_str(),
                  image.c_str(), seconds.c_str());
    return line + error + "\n";
}

std::string tableLine(const BurnRecord& r) {
    char seconds[32] = "";
    if (r.durationMs)
        std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(*r.durationMs) / 1000.0);
    return tableColumns(r.started, r.result, r.tool, r.hub + ":" + std::to_string(r.port),
                        shownSerial(r), r.imageName, seconds, r.error);
}

// Counts per day and result, the yield, and the median burn time.
class Summary {
public:
    void add(const BurnRecord& record) {
        Day& day = days_[record.started.substr(0, 10)];
        if (record.result == record_result::kPass)
            ++day.passed;
        else if (record.result == record_result::kFail)
            ++day.failed;
        else
            ++day.other;
        if (record.durationMs &&
            (record.result == record_result::kPass || record.result == record_result::kFail))
            durations_.push_back(*record.durationMs);
    }
    void write(std::ostream& out) {
        out << "day         passed  failed  aborted   yield\n";
        for (const auto& [day, counts] : days_) {
            const int all = counts.passed + counts.failed + counts.other;
            char line[128];
            std::snprintf(line, sizeof line, "%-10s  %6d  %6d  %7d  %5.1f%%\n", day.c_str(),
                          counts.passed, counts.failed, counts.other,
                          all ? 100.0 * counts.passed / all : 0.0);
            out << line;
        }
        if (durations_.empty()) {
            out << "median burn time: none (no burn has ended)\n";
            return;
        }
        std::sort(durations_.begin(), durations_.end());
        const std::size_t middle = durations_.size() / 2;
        const double median = durations_.size() % 2
                                  ? static_cast<double>(durations_[middle])
                                  : (durations_[middle - 1] + durations_[middle]) / 2.0;
        char line[128];
        std::snprintf(line, sizeof line, "median burn time: %.1f s over %zu burns\n",
                      median / 1000.0, durations_.size());
        out << line;
    }

private:
    struct Day {
        int passed = 0, failed = 0, other = 0;
    };
    std::map<std::string, Day> days_;
    std::vector<std::int64_t> durations_;
};

// The line's records matching `query`, newest first, as the local history
// gives its own.
bool selectLineRecords(LineConnection& line, const HistoryQuery& query,
                       const std::function<bool(const BurnRecord&)>& each, std::string& problem) {
    std::string sql = "SELECT body::text FROM tessell.line_records WHERE true";
    std::vector<std::optional<std::string>> params;
    const auto param = [&](std::string value) {
        params.push_back(std::move(value));
        return "$" + std::to_string(params.size());
    };
    if (!query.serial.empty()) {
        const std::string serial = param(query.serial);
        sql += " AND (serial_burned = " + serial + " OR body->>'serial_before' = " + serial +
               " OR body->>'serial_after' = " + serial + ")";
    }
    if (!query.hub.empty())
        sql += " AND hub = " + param(query.hub) +
               " AND port = " + param(std::to_string(query.port)) + "::integer";
    if (!query.since.empty())
        sql += " AND started >= " + param(query.since);
    if (!query.until.empty())
        sql += " AND started <= " + param(query.until);
    if (!query.result.empty())
        sql += " AND result = " + param(query.result);
    if (!query.imagePrefix.empty())
        sql += " AND starts_with(lower(image_sha256), lower(" + param(query.imagePrefix) + "))";
    sql += " ORDER BY started DESC, station, sequence DESC";
    if (query.limit)
        sql += " LIMIT " + std::to_string(*query.limit);
    const auto rows = line.exec(sql, params);
    if (!rows.ok) {
        problem = rows.error;
        return false;
    }
    for (std::size_t row = 0; row < rows.rows.size(); ++row)
        if (!each(lineRecordFromJson(nlohmann::json::parse(rows.text(row, 0), nullptr, false))))
            break;
    return true;
}

} // namespace

std::optional<std::string> historyTime(std::string_view text, bool end) {
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z'))
        text.remove_suffix(1);
    // Digits expected at each position of "YYYY-MM-DDTHH:MM:SS.mmm".
    constexpr std::string_view kShape = "0000-00-00T00:00:00.000";
    constexpr std::string_view kFirst = "0000-01-01T00:00:00.000";
    constexpr std::string_view kLast = "9999-12-31T23:59:59.999";
    // A date, with minutes, with seconds, with milliseconds.
    if (text.size() != 10 && text.size() != 16 && text.size() != 19 && text.size() != 23)
        return std::nullopt;
    std::string time(kShape);
    for (std::size_t at = 0; at < kShape.size(); ++at) {
        if (at < text.size()) {
            const char c = text[at];
            const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
            if (kShape[at] == '0' ? !digit : !(c == kShape[at] || (at == 10 && c == ' ')))
                return std::nullopt;
            time[at] = kShape[at] == '0' ? c : kShape[at];
        } else {
            time[at] = end ? kLast[at] : kFirst[at];
        }
    }
    const int month = std::stoi(time.substr(5, 2));
    const int day = std::stoi(time.substr(8, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31 || std::stoi(time.substr(11, 2)) > 23 ||
        std::stoi(time.substr(14, 2)) > 59 || std::stoi(time.substr(17, 2)) > 60)
        return std::nullopt;
    return time + "Z";
}

int runHistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
        out << kHistoryUsageText;
        return kHistoryFound;
    }
    HistoryRequest request;
    if (const std::string problem = parseHistoryArgs(args, request); !problem.empty()) {
        err << "tessell history: " << problem << "\n" << kHistoryUsageText;
        return kHistoryError;
    }
    const HistorySettings settings = historySettingsOf(programFolder());
    Summary summary;
    std::size_t found = 0;
    std::string problem;
    std::string buffer;
    const auto each = [&](const BurnRecord& record) {
        ++found;
        switch (request.format) {
        case Format::Json:
            buffer += jsonLine(record);
            break;
        case Format::Csv:
            buffer += csvLine(fieldsOf(record), false);
            break;
        case Format::Table:
            buffer += tableLine(record);
            break;
        case Format::Summary:
            summary.add(record);
            break;
        }
        if (buffer.size() > 1 << 16) {
            out << buffer;
            buffer.clear();
        }
        return true;
    };
    const auto header = [&] {
        if (request.format == Format::Csv)
            out << csvLine(fieldsOf(BurnRecord{}), true);
        else if (request.format == Format::Table)
            out << tableColumns("STARTED (UTC)", "RESULT", "TOOL", "PORT", "SERIAL", "IMAGE",
                                "SECONDS", "ERROR");
    };
    std::string source;
    bool read = false;
    if (request.line) {
        if (settings.lineDatabase.empty()) {
            err << "tessell history: --line needs [LINE] Database= or " << kDatabaseVariable
                << "\n";
            return kHistoryError;
        }
        source = "the line database " + describeDatabase(settings.lineDatabase);
        auto line = LineConnection::open(settings.lineDatabase, problem);
        if (!line) {
            err << "tessell history: " << source << " cannot be reached: " << problem << "\n";
            return kHistoryError;
        }
        header();
        read = selectLineRecords(*line, request.query, each, problem);
    } else {
        const std::filesystem::path path = historyPath(settings.programFolder, settings.history);
        source = path.string();
        std::error_code error;
        if (historyAvailable() && !std::filesystem::exists(path, error)) {
            err << "tessell history: " << path.string() << ": no history yet\n";
            return kHistoryNone;
        }
        HistoryDb::Opened opened = HistoryDb::open(path, HistoryDb::Mode::Read);
        if (!opened.db) {
            err << "tessell history: " << opened.problem << "\n";
            return kHistoryError;
        }
        header();
        read = opened.db->select(request.query, platform::processRunning, each, problem);
    }
    out << buffer;
    if (request.format == Format::Summary && found > 0)
        summary.write(out);
    out.flush();
    if (!read) {
        err << "tessell history: " << source << " cannot be read: " << problem << "\n";
        return kHistoryError;
    }
    if (found == 0) {
        err << "tessell history: no record matches\n";
        return kHistoryNone;
    }
    return kHistoryFound;
}

} // namespace tessell
