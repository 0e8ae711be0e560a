// Cost of one 64 KiB ISP download into a simulated camera whose own delays
// are zero: how many Extension-Unit requests the tool sends, and how much
// processor time the tool spends outside the sleeps the procedure prescribes.
// The process clock is a manual one, so every sleep costs nothing and is
// only counted; the time spent inside the simulator's answers is measured
// and taken out.

#include "common/clock.h"
#include "device/camera_link.h"
#include "download/isp_download.h"
#include "platform/sim/sim_platform.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <time.h>
#include <vector>

namespace {

using namespace tessell;

// Processor time of the calling thread (the download and the simulator's
// answers run on it; the simulator's service thread is off).
std::chrono::nanoseconds threadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Counts every request and the processor time the simulator takes to answer it.
struct RequestMeter {
    std::uint64_t requests = 0;
    std::chrono::nanoseconds inSimulator{0};
};

class MeteredControl final : public platform::PropertyControl {
public:
    MeteredControl(platform::PropertyControl& inner, RequestMeter& meter)
        : inner_(inner), meter_(meter) {}
    Status request(const Guid& set, std::uint32_t selector, platform::PropertyOp op,
                   std::uint32_t node, std::span<std::uint8_t> data,
                   std::uint32_t& returned) override {
        const auto start = threadCpuTime();
        const Status result = inner_.request(set, selector, op, node, data, returned);
        meter_.inSimulator += threadCpuTime() - start;
        ++meter_.requests;
        return result;
    }

private:
    platform::PropertyControl& inner_;
    RequestMeter& meter_;
};

class MeteredDevice final : public platform::CaptureDevice {
public:
    MeteredDevice(std::unique_ptr<platform::CaptureDevice> inner, RequestMeter& meter)
        : inner_(std::move(inner)), control_(*inner_->control(), meter) {}
    platform::PropertyControl* control() override { return &control_; }
    platform::Topology* topology() override { return inner_->topology(); }
    platform::VendorInterface* vendor() override { return inner_->vendor(); }

private:
    std::unique_ptr<platform::CaptureDevice> inner_;
    MeteredControl control_;
};

class MeteredDevices final : public platform::CaptureDevices {
public:
    MeteredDevices(platform::CaptureDevices& inner, RequestMeter& meter)
        : inner_(inner), meter_(meter) {}
    Status list(platform::DeviceListKind kind,
                std::vector<platform::DeviceEntry>& entries) override {
        return inner_.list(kind, entries);
    }
    std::unique_ptr<platform::CaptureDevice> bind(platform::DeviceListKind kind,
                                                  std::size_t position,
                                                  const platform::DeviceEntry& entry) override {
        auto device = inner_.bind(kind, position, entry);
        if (!device || !device->control())
            return device;
        return std::make_unique<MeteredDevice>(std::move(device), meter_);
    }

private:
    platform::CaptureDevices& inner_;
    RequestMeter& meter_;
};

// One camera of `chipId` with a 64 KiB part, no transfer or flash delays,
// time scale 1.
std::filesystem::path writeStation(const std::string& chipId) {
    std::random_device seed;
    const auto folder =
        std::filesystem::temp_directory_path() / ("tessell-bench-" + std::to_string(seed()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "station.json";
    std::ofstream(file)
        << R"({"time_scale": 1, "devices": [{"chip_id": ")" << chipId
        << R"(", "flash": {"part": "0x79"}, "block_size": 4096, "request_us": 0}]})";
    return file;
}

std::vector<std::uint8_t> image64k(std::uint8_t first, std::uint8_t second) {
    std::vector<std::uint8_t> bytes(0x10000);
    std::uint32_t seed = 11;
    for (auto& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(seed >> 16);
    }
    bytes[0] = first;
    bytes[1] = second;
    return bytes;
}

// `finish` false for the families that reset at the end, so that the same
// camera stays on the bus for the next iteration.
void runDownloads(benchmark::State& state, const char* name, const std::string& chipId,
                  std::uint8_t first, std::uint8_t second, bool finish) {
    ManualClock manual;
    ClockOverride useClock(manual);
    const auto station = writeStation(chipId);
    std::string error;
    auto platform = sim::SimPlatform::open(station, {false, false}, error);
    if (!platform) {
        state.SkipWithError(error.c_str());
        return;
    }
    RequestMeter meter;
    MeteredDevices devices(*platform, meter);
    CameraLink link(devices);
    if (!link.OpenCamera(chip::kAnyFamily, 0, 0).ok()) {
        state.SkipWithError("the simulated camera did not open");
        return;
    }
    const auto bytes = image64k(first, second);

    std::uint64_t downloads = 0;
    std::uint64_t requests = 0;
    std::chrono::nanoseconds tool{0};
    Clock::Duration slept{0};
    for (auto _ : state) {
        FirmwareImage image;
        image.assign(bytes);
        DownloadStatus status;
        meter = {};
        const auto sleptBefore = manual.slept();
        const auto before = threadCpuTime();
        const Result result = isp_download(image, link, 0, &status, finish);
        const auto spent = threadCpuTime() - before;
        if (!result.ok()) {
            state.SkipWithError("the download failed");
            break;
        }
        ++downloads;
        requests += meter.requests;
        tool += spent - meter.inSimulator;
        slept += manual.slept() - sleptBefore;
    }
    if (downloads > 0) {
        const double n = static_cast<double>(downloads);
        const double toolMs = std::chrono::duration<double, std::milli>(tool).count() / n;
        state.counters["requests"] = static_cast<double>(requests) / n;
        state.counters["tool_cpu_ms"] = toolMs;
        state.counters["prescribed_sleep_ms"] =
            std::chrono::duration<double, std::milli>(slept).count() / n;
        std::printf("%s: %.0f requests, %.3f ms of tool process time outside %.1f ms of "
                    "prescribed sleeps, per 64 KiB download\n",
                    name, static_cast<double>(requests) / n, toolMs,
                    std::chrono::duration<double, std::milli>(slept).count() / n);
    }
    platform.reset();
    std::error_code ignored;
    std::filesystem::remove_all(station.parent_path(), ignored);
}

// 'h': the tool marks the flash invalid and writes the signature and the
// protection through the chip's serial port, byte by byte.
void BM_IspDownload64KiB_SerialPortFamily(benchmark::State& state) {
    runDownloads(state, "serial-port family (h)", "0x80", 0x55, 0x90, true);
}
// 'k': the firmware writes the flash; the tool sends blocks and a 64-byte signature.
void BM_IspDownload64KiB_FirmwareFamily(benchmark::State& state) {
    runDownloads(state, "firmware family (k)", "0xC0", 0x89, 0x17, false);
}

BENCHMARK(BM_IspDownload64KiB_SerialPortFamily)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IspDownload64KiB_FirmwareFamily)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
