#include "download/station_finish.h"

#include "device/usb_identity.h"
#include "device/xu_protocol.h"

#include <algorithm>

namespace tessell {

namespace {

constexpr Clock::Duration kComeBackPoll = std::chrono::milliseconds(100);

} // namespace

bool resetAfterStationFinish(IcType type) {
    return chip::family(type).resetAfterStationFinish;
}

void finishStationCameras(std::vector<std::unique_ptr<CameraLink>>& cameras,
                          platform::UsbLocation& usb) {
    const std::uint8_t leave[1] = {0};
    std::vector<CameraLink*> toReset;
    for (const auto& link : cameras) {
        if (!link || !link->channel())
            continue;
        XuChannel& channel = *link->channel();
        if (channel.put_Property(XU_DFU_ENABLE_CONTROL, leave) != status::kOk)
            channel.put_Property(XU_DFU_ENABLE_CONTROL, leave);
        if (resetAfterStationFinish(link->GetIcType()))
            toReset.push_back(link.get());
    }
    if (toReset.empty())
        return;
    clock().sleepFor(kFinishResetPause);
    std::vector<platform::UsbAddress> away;
    for (CameraLink* link : toReset) {
        const Outcome<UsbIdentity> identity = GetUsbIdentity(usb, *link);
        if (CameraDevice* device = link->device();
            device && device->ResetChip() == status::kOk && identity.ok())
            away.push_back(identity->address);
    }
    const Deadline deadline(kFinishComeBack);
    while (!away.empty() && !deadline.expired()) {
        clock().sleepFor(kComeBackPoll);
        std::vector<platform::UsbDeviceInfo> present;
        usb.imagingDevices(present);
        std::erase_if(away, [&](const platform::UsbAddress& address) {
            return std::any_of(present.begin(), present.end(),
                               [&](const auto& device) { return device.address == address; });
        });
    }
}

} // namespace tessell
