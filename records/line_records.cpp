#include "records/line_records.h"

#include "common/clock.h"
#include "common/json_text.h"
#include "common/trace.h"
#include "common/whole_number.h"

namespace tessell {

namespace {

// Records read from the history at a time.
constexpr int kUploadBatch = 200;
// Between two uploads, in tool time.
constexpr auto kUploadPause = std::chrono::seconds(3);

template <typename T> nlohmann::ordered_json orNull(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

template <typename T> std::optional<T> optionalOf(const nlohmann::json& json, const char* key) {
    const auto found = json.find(key);
    if (found == json.end() || !found->is_number_integer())
        return std::nullopt;
    return found->get<T>();
}

std::string textOf(const nlohmann::json& json, const char* key) {
    const auto found = json.find(key);
    return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<std::int64_t> lineWatermark(LineConnection& line, const std::string& station,
                                          std::string& problem) {
    const auto found =
        line.exec("SELECT coalesce(max(sequence), 0) FROM tessell.line_records WHERE station = $1",
                  {station});
    if (!found.ok) {
        problem = found.error;
        return std::nullopt;
    }
    return parseWholeNumber<std::int64_t>(found.text(0, 0)).value_or(0);
}

int countAfter(HistoryDb& history, std::int64_t sequence, std::string& problem) {
    int count = 0;
    for (;;) {
        const auto records = history.createdAfter(sequence, kUploadBatch, problem);
        count += static_cast<int>(records.size());
        if (records.size() < static_cast<std::size_t>(kUploadBatch) || !problem.empty())
            return count;
        sequence = records.back().sequence;
    }
}

} // namespace

nlohmann::ordered_json lineRecordJson(const BurnRecord& r) {
    return {{"id", r.id},
            {"sequence", r.sequence},
            {"station", r.station},
            {"tool", r.tool},
            {"tool_version", r.toolVersion},
            {"hub", r.hub},
            {"port", r.port},
            {"row", orNull(r.row)},
            {"slot", orNull(r.slot)},
            {"chip_family", r.chipFamily},
            {"chip_id", orNull(r.chipId)},
            {"flash_code", orNull(r.flashCode)},
            {"flash_name", r.flashName},
            {"vid_before", orNull(r.vidBefore)},
            {"pid_before", orNull(r.pidBefore)},
            {"bcd_before", orNull(r.bcdBefore)},
            {"serial_before", r.serialBefore},
            {"vid_after", orNull(r.vidAfter)},
            {"pid_after", orNull(r.pidAfter)},
            {"bcd_after", orNull(r.bcdAfter)},
            {"serial_after", r.serialAfter},
            {"serial_burned", r.serialBurned},
            {"image_name", r.imageName},
            {"image_size", r.imageSize},
            {"image_sha256", r.imageSha256},
            {"started", r.started},
            {"ended", r.ended},
            {"duration_ms", orNull(r.durationMs)},
            {"result", r.result},
            {"exit_code", orNull(r.exitCode)},
            {"row_status", r.rowStatus},
            {"error", r.error},
            {"aborted_found", r.abortedFound},
            {"process_id", r.processId}};
}

BurnRecord lineRecordFromJson(const nlohmann::json& json) {
    BurnRecord r;
    if (!json.is_object())
        return r;
    r.id = textOf(json, "id");
    r.sequence = optionalOf<std::int64_t>(json, "sequence").value_or(0);
    r.station = textOf(json, "station");
    r.tool = textOf(json, "tool");
    r.toolVersion = textOf(json, "tool_version");
    r.processId = optionalOf<int>(json, "process_id").value_or(0);
    r.hub = textOf(json, "hub");
    r.port = optionalOf<int>(json, "port").value_or(0);
    r.row = optionalOf<int>(json, "row");
    r.slot = optionalOf<int>(json, "slot");
    r.chipFamily = textOf(json, "chip_family");
    r.chipId = optionalOf<int>(json, "chip_id");
    r.flashCode = optionalOf<int>(json, "flash_code");
    r.flashName = textOf(json, "flash_name");
    r.vidBefore = optionalOf<int>(json, "vid_before");
    r.pidBefore = optionalOf<int>(json, "pid_before");
    r.bcdBefore = optionalOf<int>(json, "bcd_before");
    r.serialBefore = textOf(json, "serial_before");
    r.vidAfter = optionalOf<int>(json, "vid_after");
    r.pidAfter = optionalOf<int>(json, "pid_after");
    r.bcdAfter = optionalOf<int>(json, "bcd_after");
    r.serialAfter = textOf(json, "serial_after");
    r.serialBurned = textOf(json, "serial_burned");
    r.imageName = textOf(json, "image_name");
    r.imageSize = optionalOf<std::uint64_t>(json, "image_size").value_or(0);
    r.imageSha256 = textOf(json, "image_sha256");
    r.started = textOf(json, "started");
    r.ended = textOf(json, "ended");
    r.durationMs = optionalOf<std::int64_t>(json, "duration_ms");
    r.result = textOf(json, "result");
    r.exitCode = optionalOf<int>(json, "exit_code");
    r.rowStatus = textOf(json, "row_status");
    r.error = textOf(json, "error");
    r.abortedFound = textOf(json, "aborted_found");
    return r;
}

LineUpload uploadRecords(HistoryDb& history, LineConnection& line, const std::string& station) {
    LineUpload upload;
    const auto watermark = lineWatermark(line, station, upload.problem);
    if (!watermark)
        return upload;
    upload.reached = true;
    std::int64_t sequence = *watermark;
    for (bool more = true; more;) {
        const auto records = history.createdAfter(sequence, kUploadBatch, upload.problem);
        if (!upload.problem.empty())
            break;
        more = records.size() == static_cast<std::size_t>(kUploadBatch);
        for (const BurnRecord& record : records) {
            // Oldest first: a record still running holds back the ones after it.
            if (record.result.empty()) {
                more = false;
                break;
            }
            sequence = record.sequence;
            if (record.station != station)
                continue;
            const auto added = line.exec("SELECT tessell.add_record($1::jsonb)",
                                         {jsonText(lineRecordJson(record))});
            if (!added.ok) {
                upload.problem = added.error;
                upload.reached = !line.broken();
                more = false;
                break;
            }
            ++upload.sent;
        }
    }
    std::string counting;
    if (const auto after = lineWatermark(line, station, counting))
        upload.waiting = countAfter(history, *after, counting);
    return upload;
}

std::optional<int> waitingRecords(HistoryDb& history, LineConnection& line,
                                  const std::string& station, std::string& problem) {
    const auto watermark = lineWatermark(line, station, problem);
    if (!watermark)
        return std::nullopt;
    const int waiting = countAfter(history, *watermark, problem);
    if (!problem.empty())
        return std::nullopt;
    return waiting;
}

LineUploader::LineUploader(std::filesystem::path history, std::string connection,
                           std::string station)
    : history_(std::move(history)), connection_(std::move(connection)),
      station_(std::move(station)), thread_([this] { run(); }) {}

LineUploader::~LineUploader() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    // The last records of the process go up now, unless the line was away:
    // then they wait for the next start rather than hold up the end.
    if (lastReached_)
        attempt();
}

LineUpload LineUploader::attempt() {
    LineUpload upload;
    if (!line_ || line_->broken()) {
        line_ = LineConnection::open(connection_, upload.problem);
        if (!line_) {
            lastReached_ = false;
            return upload;
        }
    }
    HistoryDb::Opened opened = HistoryDb::open(history_, HistoryDb::Mode::Read);
    if (!opened.db) {
        upload.problem = opened.problem;
        return upload;
    }
    upload = uploadRecords(*opened.db, *line_, station_);
    lastReached_ = upload.reached;
    if (upload.sent > 0 || !upload.problem.empty())
        trace::writef("line: %d record(s) sent, %d waiting%s%s", upload.sent, upload.waiting,
                      upload.problem.empty() ? "" : ": ", upload.problem.c_str());
    return upload;
}

void LineUploader::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        attempt();
        lock.lock();
        clock().waitFor(wake_, lock, kUploadPause, [this] { return stopping_; });
    }
}

} // namespace tessell
