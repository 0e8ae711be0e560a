// What the station's burn history costs, and how fast it reads back:
//  - the record's share of a 16-camera `tessell burn --once` (realistic
//    delays at time scale 1, as in multi_burn_bench): the burn's wall time
//    with the history, over the same burn with a history that cannot be
//    opened (nothing recorded);
//  - the record's cost to one download: opening the history, the session's
//    waits for its intent and its outcome, closing it, on a real file;
//  - `tessell history --json` over 100,000 records.
//
// Runs the "tessell" executable next to this benchmark in the build folder,
// or the one TESSELL_BINARY names.

#include "bench/tool_bench.h"
#include "records/history_db.h"
#include "records/history_writer.h"
#include "records/station_history.h"
#include "tests/support/process.h"
#include "tests/support/test_env.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

namespace {

using namespace tessell;
using nlohmann::json;
using Seconds = std::chrono::duration<double>;

struct Station {
    testing::TempDir home;
    testing::EnvironmentChanges environment;
};

json benchCamera(int index) {
    const std::string hub = index < 8 ? "bench-hub-1" : "bench-hub-2";
    return {
        {"friendly_name", "Line camera"},
        {"hub", hub},
        {"port", index % 8 + 1},
        {"chip_id", "0xC0"},
        {"request_us", 1000},
        {"flash_timing", {{"page_program_us", 700}, {"sector_erase_ms", 40}}},
        {"flash",
         {{"part", "0x79"}, {"size", 65536}, {"file", "cam" + std::to_string(index) + ".flash"}}}};
}

// `recorded`: false names a history in a folder that does not exist, so that
// the same tool burns without recording.
void makeStation(Station& station, const std::vector<std::uint8_t>& image, int cameras,
                 bool recorded) {
    json devices = json::array();
    for (int index = 0; index < cameras; ++index)
        devices.push_back(benchCamera(index));
    station.home.write("station.json", json{{"time_scale", 1}, {"devices", devices}}.dump(2));
    station.home.write("setting.ini",
                       std::string("[SETTING]\r\nNUM=16\r\nBIN=sf.bin\r\n") +
                           (recorded ? "" : "[LINE]\r\nHistory=none/history.db\r\n"));
    station.home.write("sf.bin", std::string(image.begin(), image.end()));
    station.environment = bench::stationEnvironment(station.home.path());
}

double timed(const std::string& program, const std::vector<std::string>& arguments,
             const Station& station, bool& passed) {
    const auto start = std::chrono::steady_clock::now();
    const auto result =
        testing::runProcess(program, arguments, station.environment, std::chrono::minutes(5));
    const Seconds took = std::chrono::steady_clock::now() - start;
    passed = passed && result.finished && result.status == 0;
    return took.count();
}

void BM_RecordShareOfSixteenCameraBurn(benchmark::State& state) {
    const std::string program = bench::programPath();
    std::string error;
    const auto image = bench::downloadImage(error);
    if (!image) {
        state.SkipWithError(error.c_str());
        return;
    }
    double with = 0, without = 0;
    bool passed = true;
    for (auto _ : state) {
        // Alternated, so that a machine busy with something else weighs on both.
        for (int round = 0; round < 2; ++round)
            for (const bool recorded : {false, true}) {
                Station station;
                makeStation(station, *image, 16, recorded);
                std::vector<std::string> ports = {"ports", "set"};
                for (int index = 0; index < 16; ++index)
                    ports.push_back(std::string(index < 8 ? "bench-hub-1:" : "bench-hub-2:") +
                                    std::to_string(index % 8 + 1));
                testing::runProcess(program, ports, station.environment);
                (recorded ? with : without) += timed(program, {"burn", "--once"}, station, passed);
            }
        state.SetIterationTime(with / 2);
    }
    if (!passed) {
        state.SkipWithError("a burn did not pass");
        return;
    }
    state.counters["with_history_s"] = with / 2;
    state.counters["without_history_s"] = without / 2;
    state.counters["added_percent"] = 100.0 * (with - without) / without;
}

void BM_RecordCostOfOneDownload(benchmark::State& state) {
    // What a tool run for one camera pays for its record, on a station that
    // has burned before: opening the history, the session's waits for its
    // intent and its outcome, closing it. (Whole runs of `tessell flash`
    // differ by more than this from one run to the next.)
    testing::TempDir dir;
    HistorySettings settings;
    settings.programFolder = dir.path();
    settings.station = "bench";
    StationHistory(settings, {}); // the file exists from here on
    constexpr int kRuns = 100;
    Seconds whole{}, intentWait{}, outcomeWait{};
    bool recorded = true;
    for (auto _ : state) {
        for (int run = 0; run < kRuns; ++run) {
            const auto start = std::chrono::steady_clock::now();
            Seconds intent{}, outcome{};
            {
                StationHistory history(settings, [&](std::string_view) { recorded = false; });
                recorded = recorded && history.sink();
                if (!history.sink())
                    break;
                BurnRecord record = history.fields(record_tool::kFlash);
                record.id = newRecordId();
                record.hub = "bench-hub-1";
                record.port = 1;
                record.imageSha256 = std::string(64, 'a');
                record.started = recordTime(std::chrono::system_clock::now());
                const auto before = std::chrono::steady_clock::now();
                history.sink()->recordIntent(record);
                const auto between = std::chrono::steady_clock::now();
                record.result = "pass";
                record.ended = recordTime(std::chrono::system_clock::now());
                history.sink()->recordOutcome(record);
                intent = between - before;
                outcome = std::chrono::steady_clock::now() - between;
            }
            whole += std::chrono::steady_clock::now() - start;
            intentWait += intent;
            outcomeWait += outcome;
        }
        state.SetIterationTime(whole.count());
    }
    if (!recorded) {
        state.SkipWithError("a record was not written");
        return;
    }
    state.counters["per_download_ms"] = 1000.0 * whole.count() / kRuns;
    state.counters["intent_wait_ms"] = 1000.0 * intentWait.count() / kRuns;
    state.counters["outcome_wait_ms"] = 1000.0 * outcomeWait.count() / kRuns;
}

void BM_HistoryJsonOf100000Records(benchmark::State& state) {
    const std::string program = bench::programPath();
    Station station;
    station.environment = {{"TESSELL_HOME", station.home.path().string()},
                           {"XDG_RUNTIME_DIR", station.home.path().string()},
                           {"TMPDIR", station.home.path().string()}};
    {
        auto opened = HistoryDb::open(station.home / kHistoryFileName, HistoryDb::Mode::Write);
        if (!opened.db) {
            state.SkipWithError(opened.problem.c_str());
            return;
        }
        constexpr int kBatch = 1000;
        for (int batch = 0; batch < 100; ++batch) {
            std::vector<BurnRecord> records(kBatch);
            std::vector<HistoryDb::Write> writes;
            for (int index = 0; index < kBatch; ++index) {
                BurnRecord& record = records[static_cast<std::size_t>(index)];
                record.id = newRecordId();
                record.station = "bench";
                record.tool = "burn";
                record.toolVersion = TESSELL_VERSION;
                record.hub = "bench-hub-1";
                record.port = index % 8 + 1;
                record.row = index % 16 + 1;
                record.slot = index % 16 + 1;
                record.chipFamily = "ZLTA_7315/23/13/17 series";
                record.chipId = 0xC0;
                record.flashCode = 0x79;
                record.flashName = "MX 25L512";
                record.vidBefore = 0x1209;
                record.pidBefore = 0x0001;
                record.serialBefore = "SN" + std::to_string(batch * kBatch + index);
                record.imageName = "sf.bin";
                record.imageSize = 65536;
                record.imageSha256 = std::string(64, 'c');
                record.started = recordTime(std::chrono::system_clock::now());
                writes.push_back({&record, false});
            }
            std::vector<BurnRecord> outcomes = records;
            for (BurnRecord& record : outcomes) {
                record.result = "pass";
                record.ended = recordTime(std::chrono::system_clock::now());
                record.durationMs = 12000;
                record.rowStatus = "Complete";
                writes.push_back({&record, true});
            }
            std::vector<std::string> problems;
            opened.db->write(writes, problems);
        }
    }
    double seconds = 0;
    std::size_t lines = 0;
    // Into a file, as a script would take it.
    const std::string output = (station.home / "history.jsonl").string();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto result = testing::runProcess(
            "/bin/sh", {"-c", "exec \"$0\" history --json > \"$1\"", program, output},
            station.environment, std::chrono::minutes(1));
        seconds = Seconds(std::chrono::steady_clock::now() - start).count();
        const std::string text = testing::TempDir::readFile(output);
        lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        state.SetIterationTime(seconds);
    }
    state.counters["records"] = static_cast<double>(lines);
    state.counters["seconds"] = seconds;
}

BENCHMARK(BM_RecordShareOfSixteenCameraBurn)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_RecordCostOfOneDownload)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_HistoryJsonOf100000Records)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
