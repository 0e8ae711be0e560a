// What line mode costs a station.
//
// BM_ReserveAndConfirm: the median round trip of one camera's serial number
// through the line database, reserved and then confirmed as burned, on the
// server TESSELL_TEST_DATABASE names (tools/pg-test-server.sh starts a local
// one), in a database of its own.
//
// BM_SixteenCamerasWithTheLine: `tessell burn --once` of 16 simulated
// cameras with a serial number each (`SerialsInMultiBurn=1`) at time scale 1
// with realistic delays (1 ms per Extension-Unit request, 0.7 ms page
// programs, 40 ms sector erases, a 60 KiB image): the numbers from the
// station's file, then from the line database, and the ratio of the two.

#include "bench/tool_bench.h"
#include "records/line_database.h"
#include "records/line_schema.h"
#include "records/line_serials.h"
#include "tests/support/process.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <nlohmann/json.hpp>
#include <random>

namespace {

using namespace tessell;
using nlohmann::json;

// A fresh database with the line schema on the benchmark's server; dropped
// at the end.
class BenchLine {
public:
    explicit BenchLine(std::string& problem) {
        const char* server = std::getenv("TESSELL_TEST_DATABASE");
        if (!server) {
            problem = "set TESSELL_TEST_DATABASE (tools/pg-test-server.sh start DIR)";
            return;
        }
        server_ = server;
        std::random_device seed;
        name_ = "tessell_bench" + std::to_string(seed());
        auto admin = LineConnection::open(server_, problem);
        if (!admin || !admin->exec("CREATE DATABASE " + name_).ok)
            return;
        connection_ = server_ + " dbname=" + name_;
        auto line = LineConnection::open(connection_, problem);
        if (!line)
            return;
        const LineInitResult init = initLineSchema(*line);
        problem = init.problem;
        ready_ = init.ok;
    }
    ~BenchLine() {
        std::string problem;
        if (auto admin = LineConnection::open(server_, problem); admin && !name_.empty())
            admin->exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    }
    bool ready() const { return ready_; }
    const std::string& connection() const { return connection_; }

private:
    std::string server_;
    std::string name_;
    std::string connection_;
    bool ready_ = false;
};

void BM_ReserveAndConfirm(benchmark::State& state) {
    std::string problem;
    BenchLine line(problem);
    if (!line.ready()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    testing::TempDir home;
    home.write("sn.txt", "QX7*****\r\nQX700000\r\n");
    LineSerialSource source(line.connection(), "bench", home.path() / "sn.txt", "sn.txt");
    std::vector<double> trips;
    for (auto _ : state) {
        CollectedSerialNumberOutput output;
        const auto start = std::chrono::steady_clock::now();
        const auto text = source.take({"bench-hub-1", 1}, output);
        const bool confirmed = text && source.confirm(*text, output);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (!confirmed) {
            state.SkipWithError(output.log.c_str());
            return;
        }
        trips.push_back(took.count());
        state.SetIterationTime(took.count());
    }
    std::sort(trips.begin(), trips.end());
    state.counters["median_ms"] = trips[trips.size() / 2] * 1000.0;
    state.counters["p95_ms"] = trips[trips.size() * 95 / 100] * 1000.0;
}

BENCHMARK(BM_ReserveAndConfirm)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(500);

// One `burn --once` of 16 cameras with a number each, from the line when
// `database` is given.
double burnSixteen(const std::string& program, const std::vector<std::uint8_t>& image,
                   const std::string& database, std::string& failure) {
    testing::TempDir home;
    json devices = json::array();
    std::vector<std::string> ports = {"ports", "set"};
    for (int index = 0; index < 16; ++index) {
        const std::string hub = index < 8 ? "bench-hub-1" : "bench-hub-2";
        devices.push_back({{"hub", hub},
                           {"port", index % 8 + 1},
                           {"chip_id", "0xC0"},
                           {"request_us", 1000},
                           {"flash_timing", {{"page_program_us", 700}, {"sector_erase_ms", 40}}},
                           {"flash", {{"part", "0x79"}, {"size", 65536}}}});
        ports.push_back(hub + ":" + std::to_string(index % 8 + 1));
    }
    home.write("station.json", json{{"time_scale", 1}, {"devices", devices}}.dump(2));
    std::string settings = "[SETTING]\r\nNUM=16\r\nBIN=sf.bin\r\nSNFile=sn.txt\r\n[LINE]\r\n"
                           "SerialsInMultiBurn=1\r\nStation=bench\r\n";
    if (!database.empty())
        settings += "Database=" + database + "\r\n";
    home.write("setting.ini", settings);
    home.write("sn.txt", "QX7*****\r\nQX700000\r\n");
    home.write("sf.bin", std::string(image.begin(), image.end()));
    testing::EnvironmentChanges environment = bench::stationEnvironment(home.path());
    environment["TESSELL_DATABASE"] = std::nullopt;
    testing::runProcess(program, ports, environment);
    const auto start = std::chrono::steady_clock::now();
    const auto result =
        testing::runProcess(program, {"burn", "--once"}, environment, std::chrono::seconds(300));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!result.finished || result.status != 0)
        failure = result.out + result.err;
    return took.count();
}

void BM_SixteenCamerasWithTheLine(benchmark::State& state) {
    std::string problem;
    BenchLine line(problem);
    // 60 KiB: the serial-number string grows the image, which must still
    // fit the 64 KiB flash.
    image::SynthesisRequest request;
    request.family = ImageFamily::f;
    request.vid = 0x1209;
    request.pid = 0x0002;
    request.size = 60 * 1024;
    const auto image = image::synthesizeImage(request, problem);
    if (!line.ready() || !image) {
        state.SkipWithError(problem.c_str());
        return;
    }
    const std::string program = bench::programPath();
    double file = 0;
    double withLine = 0;
    for (auto _ : state) {
        std::string failure;
        file = burnSixteen(program, *image, "", failure);
        withLine = burnSixteen(program, *image, line.connection(), failure);
        state.SetIterationTime(withLine);
        if (!failure.empty()) {
            state.SkipWithError(("a burn did not pass: " + failure).c_str());
            return;
        }
    }
    state.counters["file_s"] = file;
    state.counters["line_s"] = withLine;
    state.counters["ratio"] = withLine / file;
}

BENCHMARK(BM_SixteenCamerasWithTheLine)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
