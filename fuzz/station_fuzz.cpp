// The station file of the simulated cameras: any text, and a station that
// parses is built into cameras.

#include "platform/sim/sim_platform.h"
#include "platform/sim/station.h"

using namespace tessell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto station = sim::parseStation(text, "/nonexistent-tessell-fuzz", error);
    if (!station || station->devices.size() > 4)
        return 0;
    // Flash and state files would land on disk: the cameras keep to memory.
    for (auto& device : station->devices) {
        // Memory the size of the real parts, not what a file may claim.
        if (device.flash.size > (1u << 20) || (device.module && device.module->size > (1u << 20)))
            return 0;
        device.flash.file.clear();
        device.stateFile.clear();
        if (device.module)
            device.module->file.clear();
    }
    auto platform = sim::SimPlatform::fromStation(std::move(*station), {false, false}, error);
    if (platform) {
        std::vector<platform::DeviceEntry> entries;
        platform->list(platform::DeviceListKind::VideoInput, entries);
        std::vector<platform::UsbDeviceInfo> imaging;
        platform->imagingDevices(imaging);
        for (const auto& entry : entries)
            (void)platform->locate(entry.devicePath);
    }
    return 0;
}
