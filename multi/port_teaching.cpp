#include "multi/port_teaching.h"

#include "device/camera_link.h"
#include "device/discovery.h"
#include "device/ic_type.h"
#include "device/usb_identity.h"

#include <vector>

namespace tessell {

namespace {

using platform::DeviceListKind;

constexpr DeviceListKind kLists[] = {DeviceListKind::VideoInput, DeviceListKind::SensorCamera};

std::set<std::string> presentPaths(platform::CaptureDevices& devices) {
    std::set<std::string> paths;
    for (const DeviceListKind kind : kLists) {
        std::vector<platform::DeviceEntry> entries;
        if (devices.list(kind, entries) == status::kOk)
            for (const auto& entry : entries)
                paths.insert(entry.devicePath);
    }
    return paths;
}

} // namespace

PortTeaching::PortTeaching(TeachingServices services, DialogThread& thread, PortMemory& memory,
                           MultiBurnState& state)
    : services_(services), thread_(thread), memory_(memory), state_(state),
      passedOver_(presentPaths(*services.devices)) {}

int PortTeaching::CountCameras() {
    int video = 0;
    int sensor = 0;
    CountVideoCameras(*services_.devices, video);
    CountSensorCamerasDs(*services_.devices, sensor);
    cameraCount_ = video + sensor;
    return cameraCount_;
}

void PortTeaching::OnDeviceChange(const platform::HotplugEvent& event) {
    if (state_ != MultiBurnState::Learning)
        return;
    if (event.kind == platform::HotplugEvent::Kind::Arrival) {
        // Several notifications of one plug-in (a camera brings more than one
        // device) end in one look, a pause after the last of them.
        thread_.startTimer(kTeachPauseTimer, kTeachPause);
        return;
    }
    // A device that left and comes back is a new arrival.
    std::erase_if(passedOver_, [present = presentPaths(*services_.devices)](const auto& path) {
        return present.count(path) == 0;
    });
    if (CountCameras() == 0 && portSetting_)
        portSetting_->showMessage(kPlugSameCamera);
}

bool PortTeaching::OnTimer(int id) {
    if (id != kTeachPauseTimer)
        return false;
    thread_.stopTimer(kTeachPauseTimer);
    if (state_ == MultiBurnState::Learning)
        teach();
    return true;
}

void PortTeaching::show(std::string_view message) {
    if (!portSetting_)
        return;
    portSetting_->fillList();
    portSetting_->showMessage(message);
}

void PortTeaching::teach() {
    CountCameras();
    std::set<std::string> stillPassedOver;
    // Video-input cameras first, then sensor cameras, each list in its order.
    for (const DeviceListKind kind : kLists) {
        std::vector<platform::DeviceEntry> entries;
        if (services_.devices->list(kind, entries) != status::kOk)
            continue;
        for (std::size_t position = 0; position < entries.size(); ++position) {
            const platform::DeviceEntry& entry = entries[position];
            if (!entry.devicePathRead || !entry.usb)
                continue;
            CameraLink link(*services_.devices);
            UsbIdentity identity;
            // The open takes the first camera of ours at or after the
            // position: another device means this one is not ours.
            const bool read =
                link.OpenCamera(chip::kAnyFamily, static_cast<int>(position),
                                kind == DeviceListKind::SensorCamera ? 1 : 0) == status::kOk &&
                link.device()->devicePath() == entry.devicePath &&
                GetUsbIdentity(*services_.usb, link, identity) == status::kOk &&
                identity.address.known();
            link.CloseCamera();
            if (!read) {
                // Said once per arrival; a device that was there before
                // teaching began is not one the operator plugged.
                if (passedOver_.count(entry.devicePath) == 0)
                    show(kCameraUnreadable);
                stillPassedOver.insert(entry.devicePath);
                continue;
            }
            const std::string& hub = identity.address.hub;
            const int port = identity.address.port;
            if (memory_.FindPortSlot(hub, port) != -1)
                continue; // a port already taught
            const int slot = memory_.UsedSlotCount();
            if (slot >= kPortSlotCount) {
                show(kAllPortsTaken);
                continue;
            }
            if (memory_.LearnPort(hub, port, slot) != 1) {
                show(kHubUnrememberable);
                continue;
            }
            ++learned_;
            show(PortRememberedMessage(slot));
        }
    }
    passedOver_ = std::move(stillPassedOver);
}

} // namespace tessell
