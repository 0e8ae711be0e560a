// Wall time of one whole unattended download as a factory script sees it:
// the built program started with "-s image -silent" against a simulated
// 'k' camera at time scale 0.01, 64 KiB image, up to the process's end (the
// chip reset and the camera's return included). Each run starts from an
// erased flash and a fresh program folder.
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

namespace {

using namespace tessell;
using nlohmann::json;

void BM_CommandLineDownload64KiB(benchmark::State& state) {
    const std::string program = bench::programPath();
    std::string error;
    const auto image = bench::downloadImage(error);
    if (!image) {
        state.SkipWithError(error.c_str());
        return;
    }
    const json station = {
        {"time_scale", 0.01},
        {"devices",
         json::array({{{"friendly_name", "Line camera"},
                       {"chip_id", "0xC0"},
                       {"flash", {{"part", "0x79"}, {"size", 65536}, {"file", "cam0.flash"}}}}})}};

    double slowest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        testing::TempDir home;
        home.write("station.json", station.dump(2));
        home.write("setting.ini", "[SETTING]\r\nWriteLog=1\r\n");
        home.write("image.bin", std::string(image->begin(), image->end()));
        std::filesystem::create_directories(home / "tmp");
        const testing::EnvironmentChanges environment = {
            {"TESSELL_SIM", (home / "station.json").string()},
            {"TESSELL_HOME", home.path().string()},
            {"XDG_RUNTIME_DIR", home.path().string()},
            {"TMPDIR", (home / "tmp").string()},
            {"DISPLAY", std::nullopt},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"QT_QPA_PLATFORM", std::nullopt}};
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        const auto result = testing::runProcess(
            program, {"-s", (home / "image.bin").string(), "-silent"}, environment);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        slowest = std::max(slowest, took.count());

        state.PauseTiming();
        const bool passed =
            result.finished && result.status == 0 && home.read("Result.txt") == "TestResult = pass";
        state.ResumeTiming();
        if (!passed) {
            state.SkipWithError(("the download did not pass: " + result.out + result.err).c_str());
            break;
        }
    }
    state.counters["slowest_s"] = slowest;
    state.counters["under_1s"] = slowest < 1.0 ? 1 : 0;
}

BENCHMARK(BM_CommandLineDownload64KiB)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

} // namespace

BENCHMARK_MAIN();
