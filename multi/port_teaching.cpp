#include "multi/port_teaching.h"

#include "multi/attached_cameras.h"

#include <vector>

namespace tessell {

namespace {

using platform::DeviceListKind;

std::set<std::string> presentPaths(platform::CaptureDevices& devices) {
    std::set<std::string> paths;
    for (const DeviceListKind kind : kStationLists) {
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
    cameraCount_ = CountAttachedCameras(*services_.devices);
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
    for (const AttachedCamera& camera : OpenAttachedCameras(*services_.devices, *services_.usb)) {
        if (!camera.link || !camera.identity.address.known()) {
            // Said once per arrival; a device that was there before
            // teaching began is not one the operator plugged.
            if (passedOver_.count(camera.devicePath) == 0)
                show(kCameraUnreadable);
            stillPassedOver.insert(camera.devicePath);
            continue;
        }
        const std::string& hub = camera.identity.address.hub;
        const int port = camera.identity.address.port;
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
    passedOver_ = std::move(stillPassedOver);
}

} // namespace tessell
