// The end of a burn of many cameras: every camera leaves download mode, and
// only the families that need it are reset, the call returning once they are
// back on their ports.

#include "device/xu_protocol.h"
#include "download/station_finish.h"
#include "tests/support/sim_rig.h"

#include <gtest/gtest.h>

namespace tessell::testing {
namespace {

using nlohmann::json;

// The USB walk of the simulator, which first does what became due (a camera
// coming back after its reset), as the simulator's service thread would.
class ServicedUsb final : public platform::UsbLocation {
public:
    explicit ServicedUsb(sim::SimPlatform& platform) : platform_(platform) {}
    std::optional<platform::UsbDeviceInfo> locate(std::string_view devicePath) override {
        return platform_.locate(devicePath);
    }
    Status imagingDevices(std::vector<platform::UsbDeviceInfo>& devices) override {
        platform_.service();
        return platform_.imagingDevices(devices);
    }

private:
    sim::SimPlatform& platform_;
};

TEST(StationFinish, EveryCameraLeavesDownloadModeAndOnlyJAndKCamerasAreReset) {
    const json camera = {{"hub", "sim-hub-1"}, {"flash", {{"part", "0x79"}}}};
    json devices = json::array({camera, camera, camera});
    devices[0]["port"] = 1; // chip 0xC0: 'k'
    devices[1]["port"] = 2;
    devices[1]["chip_id"] = "0x80"; // 'h'
    devices[2]["port"] = 3;
    devices[2]["chip_id"] = "0xB0"; // 'j'
    SimRig rig(devices);
    ASSERT_TRUE(rig);
    ServicedDevices listed(rig.platform());
    ServicedUsb usb(rig.platform());

    std::vector<std::unique_ptr<CameraLink>> cameras;
    std::vector<std::uint64_t> generations;
    for (int index = 0; index < 3; ++index) {
        cameras.push_back(std::make_unique<CameraLink>(listed));
        ASSERT_TRUE(cameras.back()->OpenCamera(chip::kAnyFamily, index, 0).ok());
        generations.push_back(
            rig.platform().camera(static_cast<std::size_t>(index)).view().generation);
    }
    cameras.insert(cameras.begin() + 1, nullptr); // a row whose camera was never opened

    finishStationCameras(cameras, usb);

    for (std::size_t index = 0; index < 3; ++index) {
        SCOPED_TRACE("camera " + std::to_string(index + 1));
        sim::SimCamera& simulated = rig.platform().camera(index);
        EXPECT_EQ(simulated.requestCount(XU_DFU_ENABLE_CONTROL, platform::PropertyOp::Set), 1u);
        const sim::BusView view = simulated.view();
        EXPECT_TRUE(view.onBus) << "back on its port when the finish returns";
        EXPECT_EQ(view.generation != generations[index], index != 1) << "reset";
    }
}

} // namespace
} // namespace tessell::testing
