// How much burning 16 cameras at once costs over burning one: the wall time
// of `tessell burn --once` on a simulated station of 16 cameras behind two
// hubs, divided by one camera's burn through the same command plus the 15
// start gaps of 300 ms the station keeps between cameras. 1.0 would mean the
// cameras cost nothing of each other's time. Realistic delays at time scale
// 1: 1 ms per Extension-Unit request, 0.7 ms page programs, 40 ms sector
// erases, a 64 KiB image. Also the peak resident memory of the 16-camera
// process.
//
// Runs the "tessell" executable next to this benchmark in the build folder,
// or the one TESSELL_BINARY names.

#include "bench/tool_bench.h"
#include "tests/support/process.h"
#include "tests/support/test_env.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/resource.h>

namespace {

using namespace tessell;
using nlohmann::json;

struct Burn {
    double seconds = 0;
    bool passed = false;
    std::string output;
};

// One `burn --once` of `cameras` cameras (eight per hub) in a fresh folder.
Burn burnOnce(const std::string& program, const std::vector<std::uint8_t>& image, int cameras) {
    testing::TempDir home;
    json devices = json::array();
    std::vector<std::string> ports = {"ports", "set"};
    for (int index = 0; index < cameras; ++index) {
        const std::string hub = index < 8 ? "bench-hub-1" : "bench-hub-2";
        devices.push_back({{"friendly_name", "Line camera"},
                           {"hub", hub},
                           {"port", index % 8 + 1},
                           {"chip_id", "0xC0"},
                           {"request_us", 1000},
                           {"flash_timing", {{"page_program_us", 700}, {"sector_erase_ms", 40}}},
                           {"flash",
                            {{"part", "0x79"},
                             {"size", 65536},
                             {"file", "cam" + std::to_string(index) + ".flash"}}}});
        ports.push_back(hub + ":" + std::to_string(index % 8 + 1));
    }
    home.write("station.json", json{{"time_scale", 1}, {"devices", devices}}.dump(2));
    home.write("setting.ini", "[SETTING]\r\nNUM=16\r\nBIN=sf.bin\r\n");
    home.write("sf.bin", std::string(image.begin(), image.end()));
    const testing::EnvironmentChanges environment = bench::stationEnvironment(home.path());
    testing::runProcess(program, ports, environment);
    const auto start = std::chrono::steady_clock::now();
    const auto result = testing::runProcess(program, {"burn", "--once"}, environment);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {took.count(), result.finished && result.status == 0, result.out + result.err};
}

void BM_SixteenCamerasOverOne(benchmark::State& state) {
    const std::string program = bench::programPath();
    std::string error;
    const auto image = bench::downloadImage(error);
    if (!image) {
        state.SkipWithError(error.c_str());
        return;
    }
    Burn one;
    Burn sixteen;
    for (auto _ : state) {
        one = burnOnce(program, *image, 1);
        sixteen = burnOnce(program, *image, 16);
        state.SetIterationTime(sixteen.seconds);
        if (!one.passed || !sixteen.passed) {
            state.SkipWithError(("a burn did not pass: " + one.output + sixteen.output).c_str());
            return;
        }
    }
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double gaps = 15 * 0.3;
    state.counters["one_camera_s"] = one.seconds;
    state.counters["sixteen_cameras_s"] = sixteen.seconds;
    state.counters["ratio"] = sixteen.seconds / (one.seconds + gaps);
    state.counters["peak_rss_MiB"] = static_cast<double>(children.ru_maxrss) / 1024.0;
}

BENCHMARK(BM_SixteenCamerasOverOne)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
