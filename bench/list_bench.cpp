// How long `tessell list` takes for a full station: 16 simulated cameras on
// two hubs, at time scale 1 with the simulator's default delays, on the
// real process clock. Operators run it before a shift; it must feel instant.

#include "app/list_command.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/station.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

namespace {

using namespace tessell;

void BM_ListSixteenCamerasOnTwoHubs(benchmark::State& state) {
    nlohmann::json devices = nlohmann::json::array();
    for (int camera = 0; camera < 16; ++camera)
        devices.push_back({{"friendly_name", "Camera " + std::to_string(camera)},
                           {"hub", camera < 8 ? "sim-hub-1" : "sim-hub-2"},
                           {"port", camera % 8 + 1},
                           {"chip_id", camera % 2 ? "0x90" : "0xC0"},
                           {"flash", {{"part", camera % 2 ? "0x8B" : "0x79"}}}});
    std::string error;
    auto station = sim::parseStation(nlohmann::json{{"time_scale", 1}, {"devices", devices}}.dump(),
                                     ".", error);
    if (!station) {
        state.SkipWithError(error.c_str());
        return;
    }
    auto simulated = sim::SimPlatform::fromStation(*station, {false, true}, error);
    if (!simulated) {
        state.SkipWithError(error.c_str());
        return;
    }
    const platform::CameraServices services{simulated.get(), simulated.get(), simulated.get()};
    std::size_t listed = 0;
    for (auto _ : state)
        listed = listCameras(services).size();
    state.counters["cameras"] = static_cast<double>(listed);
}
BENCHMARK(BM_ListSixteenCamerasOnTwoHubs)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
