#include "app/history_command.h"

#include "app/paths.h"
#include "app/tool_history.h"
#include "common/json_text.h"
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

void appendQuoted(std::string& out, std::string_view text) {
    // Most fields are plain ASCII: they need only their quotes. Anything
    // else (escapes, UTF-8, bytes that are not UTF-8) goes the long way.
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    });
    if (!plain) {
        out += jsonString(text);
        return;
    }
    out += '"';
    out += text;
    out += '"';
}

void appendCsv(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// Writes one record's fields, by name, in the order of the JSON and the CSV:
// text, or a number that may be null.
template <typename Writer> void writeFields(const BurnRecord& r, Writer& w) {
    w.text("id", r.id);
    w.number("sequence", r.sequence);
    w.text("station", r.station);
    w.text("tool", r.tool);
    w.text("tool_version", r.toolVersion);
    w.text("hub", r.hub);
    w.number("port", r.port);
    w.number("row", r.row);
    w.number("slot", r.slot);
    w.text("chip_family", r.chipFamily);
    w.number("chip_id", r.chipId);
    w.number("flash_code", r.flashCode);
    w.text("flash_name", r.flashName);
    w.number("vid_before", r.vidBefore);
    w.number("pid_before", r.pidBefore);
    w.number("bcd_before", r.bcdBefore);
    w.text("serial_before", r.serialBefore);
    w.number("vid_after", r.vidAfter);
    w.number("pid_after", r.pidAfter);
    w.number("bcd_after", r.bcdAfter);
    w.text("serial_after", r.serialAfter);
    w.text("serial_burned", r.serialBurned);
    w.text("image_name", r.imageName);
    w.number("image_size", r.imageSize);
    w.text("image_sha256", r.imageSha256);
    w.text("started", r.started);
    w.text("ended", r.ended);
    w.number("duration_ms", r.durationMs);
    w.text("result", r.result);
    w.number("exit_code", r.exitCode);
    w.text("row_status", r.rowStatus);
    w.text("error", r.error);
    w.text("aborted_found", r.abortedFound);
    w.number("process_id", r.processId);
}

template <typename T> std::optional<std::int64_t> asNumber(const T& value) {
    return static_cast<std::int64_t>(value);
}
template <typename T> std::optional<std::int64_t> asNumber(const std::optional<T>& value) {
    return value ? std::optional<std::int64_t>(static_cast<std::int64_t>(*value)) : std::nullopt;
}

// One JSON object a line.
class JsonWriter {
public:
    explicit JsonWriter(std::string& out) : out_(out) {}
    void text(const char* name, std::string_view value) {
        key(name);
        appendQuoted(out_, value);
    }
    template <typename T> void number(const char* name, const T& value) {
        key(name);
        const auto n = asNumber(value);
        out_ += n ? std::to_string(*n) : "null";
    }
    void end() { out_ += "}\n"; }

private:
    void key(const char* name) {
        out_ += first_ ? "{\"" : ", \"";
        first_ = false;
        out_ += name;
        out_ += "\": ";
    }
    std::string& out_;
    bool first_ = true;
};

// A CSV line (CR LF, as spreadsheets write it): the values, or the names for
// the header.
class CsvWriter {
public:
    CsvWriter(std::string& out, bool header) : out_(out), header_(header) {}
    void text(const char* name, std::string_view value) {
        separate();
        appendCsv(out_, header_ ? std::string_view(name) : value);
    }
    template <typename T> void number(const char* name, const T& value) {
        separate();
        const auto n = asNumber(value);
        if (header_)
            out_ += name;
        else if (n)
            out_ += std::to_string(*n);
    }
    void end() { out_ += "\r\n"; }

private:
    void separate() {
        if (!first_)
            out_ += ',';
        first_ = false;
    }
    std::string& out_;
    bool header_;
    bool first_ = true;
};

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
        case Format::Json: {
            JsonWriter json(buffer);
            writeFields(record, json);
            json.end();
            break;
        }
        case Format::Csv: {
            CsvWriter csv(buffer, false);
            writeFields(record, csv);
            csv.end();
            break;
        }
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
        if (request.format == Format::Csv) {
            std::string names;
            CsvWriter csv(names, true);
            writeFields(BurnRecord{}, csv);
            csv.end();
            out << names;
        } else if (request.format == Format::Table)
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
