// Sweeps over the moments a download can be hurt: a fault at every request
// of a download, of every kind, and the tool killed at random moments of a
// download into a camera with a backing flash file. Whatever happens, no
// run passes without the image in the flash, no flash boots with other
// content, and the next download succeeds.

#include "download/dfu_download.h"
#include "download/isp_download.h"
#include "platform/sim/flash_identity.h"
#include "support/sim_link.h"
#include "tests/support/process.h"
#include "tests/support/synthetic_image.h"

#include <csignal>
#include <gtest/gtest.h>
#include <random>

namespace tessell::testing {
namespace {

using nlohmann::json;

// What goes wrong at the chosen request of a download.
enum class Fault {
    FailOnce,  // the request fails and has no effect
    FailTwice, // that request and the next one
    Gone,      // the camera answers "device gone" from then on
};

// Counts every Extension-Unit request of the bound cameras and hurts the
// one a sweep picks.
struct FaultPlan {
    Fault fault = Fault::FailOnce;
    std::uint64_t at = 0; // 1-based; 0 hurts nothing
    std::uint64_t seen = 0;

    std::optional<Status> next() {
        ++seen;
        if (at == 0 || seen < at)
            return std::nullopt;
        switch (fault) {
        case Fault::FailOnce:
            return seen == at ? std::optional<Status>(status::kFail) : std::nullopt;
        case Fault::FailTwice:
            return seen <= at + 1 ? std::optional<Status>(status::kFail) : std::nullopt;
        case Fault::Gone:
            return status::kDeviceGone;
        }
        return std::nullopt;
    }
};

class FaultyControl final : public platform::PropertyControl {
public:
    FaultyControl(platform::PropertyControl& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}
    Status request(const Guid& set, std::uint32_t selector, platform::PropertyOp op,
                   std::uint32_t node, std::span<std::uint8_t> data,
                   std::uint32_t& bytesReturned) override {
        if (const auto hurt = plan_.next())
            return *hurt;
        return inner_.request(set, selector, op, node, data, bytesReturned);
    }

private:
    platform::PropertyControl& inner_;
    FaultPlan& plan_;
};

class FaultyDevice final : public platform::CaptureDevice {
public:
    FaultyDevice(std::unique_ptr<platform::CaptureDevice> inner, FaultPlan& plan)
        : inner_(std::move(inner)) {
        if (inner_->control())
            control_.emplace(*inner_->control(), plan);
    }
    platform::PropertyControl* control() override { return control_ ? &*control_ : nullptr; }
    platform::Topology* topology() override { return inner_->topology(); }
    platform::VendorInterface* vendor() override { return inner_->vendor(); }

private:
    std::unique_ptr<platform::CaptureDevice> inner_;
    std::optional<FaultyControl> control_;
};

class FaultyDevices final : public platform::CaptureDevices {
public:
    explicit FaultyDevices(sim::SimPlatform& platform) : platform_(platform) {}
    Status list(platform::DeviceListKind kind,
                std::vector<platform::DeviceEntry>& entries) override {
        platform_.service();
        return platform_.list(kind, entries);
    }
    std::unique_ptr<platform::CaptureDevice> bind(platform::DeviceListKind kind,
                                                  std::size_t position,
                                                  const platform::DeviceEntry& entry) override {
        auto device = platform_.bind(kind, position, entry);
        if (!device)
            return nullptr;
        return std::make_unique<FaultyDevice>(std::move(device), plan);
    }

    FaultPlan plan;

private:
    sim::SimPlatform& platform_;
};

struct Camera {
    const char* chip;
    IcType type;
    Bytes image;
};

// One download into a fresh camera with `plan` armed once the camera is
// open; the number of requests it made, and whether the sweep's rules held.
std::uint64_t download(const Camera& camera, json faults, FaultPlan plan, int& passes) {
    SimRig rig(json::array(
        {{{"chip_id", camera.chip}, {"flash", {{"part", "0x79"}}}, {"faults", faults}}}));
    FaultyDevices devices(rig.platform());
    CameraLink link(devices);
    EXPECT_EQ(link.OpenCamera(chip::kAnyFamily, 0, 0).status(), status::kOk);
    devices.plan = plan;
    FirmwareImage image;
    image.assign(camera.image);
    std::array<std::uint8_t, 2> results{0, 0};
    link.downloadSlot() = {1, results};
    DownloadStatus status;
    const Result result = camera.type == IcType::j ? download_7312(image, link, 0, &status)
                                                   : isp_download(image, link, 0x79, &status, true);
    const Bytes flash = rig.platform().camera(0).flashContents();
    const Bytes expected = expectedFlash(camera.image, camera.type, 0x79);
    if (result.ok()) {
        ++passes;
        EXPECT_TRUE(flashBeginsWith(flash, expected)) << "a pass without the image";
    } else if (sim::isBootable(flash)) {
        EXPECT_TRUE(flashBeginsWith(flash, expected)) << "a bootable flash with other content";
    }
    return devices.plan.seen;
}

TEST(DownloadSweep, AFaultAtEveryRequestNeverPassesWithoutTheImage) {
    const Camera cameras[] = {
        {"0xC0", IcType::k,
         synthesized(lineImage(ImageFamily::f))}, // ISP, the tool signs the header
        {"0xB0", IcType::j,
         synthesized(lineImage(ImageFamily::g))}, // DFU, the camera writes byte 0
    };
    for (const Camera& camera : cameras) {
        int passes = 0;
        const std::uint64_t requests = download(camera, json::array(), {}, passes);
        ASSERT_EQ(passes, 1) << camera.type << ": an unhurt download passes";
        ASSERT_GT(requests, 20u);
        for (const Fault fault : {Fault::FailOnce, Fault::FailTwice, Fault::Gone}) {
            passes = 0;
            for (std::uint64_t at = 1; at <= requests; ++at) {
                SCOPED_TRACE(std::string("camera ") + chip::letter(camera.type) + ", fault " +
                             std::to_string(static_cast<int>(fault)) + " at request " +
                             std::to_string(at));
                download(camera, json::array(), {fault, at}, passes);
            }
            // A camera gone for good fails every run but those it left after
            // the image was whole and signed.
            if (fault == Fault::Gone) {
                EXPECT_LT(passes, static_cast<int>(requests / 4)) << camera.type;
            }
        }
        // Every block received damaged once.
        const std::uint64_t blocks = (camera.image.size() + 4095) / 4096;
        for (std::uint64_t block = 1; block <= blocks; ++block) {
            SCOPED_TRACE(std::string("camera ") + chip::letter(camera.type) + ", block " +
                         std::to_string(block) + " corrupt");
            download(camera, json::array({{{"corrupt_block", block}}}), {}, passes);
        }
    }
}

// The built program killed at random moments of its download over a camera
// that holds an older image: the flash file holds what the camera holds, the
// camera boots either image whole or none, and a second run always succeeds.
TEST(DownloadSweep, KilledAtRandomMomentsTheNextDownloadSucceeds) {
    const Bytes older = synthesized(lineImage(ImageFamily::f, 0x0101));
    const Bytes newer = synthesized(lineImage(ImageFamily::f, 0x0202));
    Bytes startFlash(0x10000, 0xFF);
    const Bytes olderFlash = expectedFlash(older, IcType::k, 0x79);
    std::copy(olderFlash.begin(), olderFlash.end(), startFlash.begin());
    const Bytes expected = expectedFlash(newer, IcType::k, 0x79);

    struct Station {
        TempDir home;
        EnvironmentChanges environment;
        std::vector<std::string> arguments;
    };
    const auto station = [&](Station& s) {
        const json file = {{"time_scale", 0.01},
                           {"devices",
                            {{{"chip_id", "0xC0"},
                              {"request_us", 20000},
                              {"flash", {{"part", "0x79"}, {"file", "cam.flash"}}}}}}};
        s.home.write("station.json", file.dump());
        s.home.write("setting.ini", "[SETTING]\r\n");
        s.home.write("cam.flash", std::string(startFlash.begin(), startFlash.end()));
        writeImage(s.home, "image.bin", newer);
        s.environment = {{"TESSELL_SIM", (s.home / "station.json").string()},
                         {"TESSELL_HOME", s.home.path().string()},
                         {"XDG_RUNTIME_DIR", s.home.path().string()},
                         {"TMPDIR", s.home.path().string()}};
        s.arguments = {"-s", (s.home / "image.bin").string(), "-silent"};
    };

    // How long a whole run takes here: the kills fall inside it.
    Station measured;
    station(measured);
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult whole =
        runProcess(TESSELL_BINARY, measured.arguments, measured.environment);
    const auto runTime = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    ASSERT_TRUE(whole.finished);
    ASSERT_EQ(whole.status, 0) << whole.out << whole.err;

    std::mt19937 random(20240611);
    constexpr int kKills = 4;
    for (int kill = 0; kill < kKills; ++kill) {
        Station s;
        station(s);
        const auto delay = std::chrono::milliseconds(random() % (runTime.count() + 1));
        SCOPED_TRACE("killed after " + std::to_string(delay.count()) + " of " +
                     std::to_string(runTime.count()) + " ms");
        const ProcessResult killed = runProcess(TESSELL_BINARY, s.arguments, s.environment, delay);
        const std::string flash = s.home.read("cam.flash");
        if (killed.finished && killed.status == 0) {
            EXPECT_TRUE(flashBeginsWith(flash, expected)) << "a pass without the image";
        } else if (sim::isBootable(Bytes(flash.begin(), flash.end()))) {
            EXPECT_TRUE(flashBeginsWith(flash, expected) ||
                        flash == std::string(startFlash.begin(), startFlash.end()))
                << "a bootable flash with a mix of two images";
        }

        const ProcessResult again = runProcess(TESSELL_BINARY, s.arguments, s.environment);
        ASSERT_TRUE(again.finished);
        EXPECT_EQ(again.status, 0) << again.out << again.err;
        EXPECT_TRUE(flashBeginsWith(s.home.read("cam.flash"), expected));
    }
}

} // namespace
} // namespace tessell::testing
