#pragma once

// Teaching the hub ports: while the multi-camera tool is learning, every
// camera that arrives is looked at after a short pause, and a (hub, port)
// pair not seen before goes into the next free slot. The Port Setting dialog,
// when open, shows the slot and tells the operator which port to plug next.
// Everything runs on the dialog's thread; the pause is a timer of that
// thread, so the dialog keeps answering meanwhile.

#include "common/dialog_loop.h"
#include "multi/identify_hub.h"
#include "multi/multi_burn_state.h"
#include "multi/port_memory.h"
#include "platform/capture_devices.h"
#include "platform/hotplug.h"
#include "platform/usb_location.h"

#include <chrono>
#include <set>
#include <string>
#include <string_view>

namespace tessell {

// One-shot timer: the pause between a camera's arrival and its teaching,
// which gives a camera that just came up time to answer.
inline constexpr int kTeachPauseTimer = 0x7E10;
inline constexpr Clock::Duration kTeachPause = std::chrono::milliseconds(400);

// A new port with all 16 slots taken.
inline constexpr std::string_view kAllPortsTaken =
    "All 16 ports remembered: this port is not! (Celar to start again)";
// A camera that arrived but could not be opened, or whose USB port could not
// be read.
inline constexpr std::string_view kCameraUnreadable =
    "Camera not readable, port not remembered: plug-out and plug-in again!";
// A port whose hub name is too long (over 254 characters) or not printable.
inline constexpr std::string_view kHubUnrememberable =
    "Hub name cannot be kept, port not remembered!";

struct TeachingServices {
    platform::CaptureDevices* devices = nullptr;
    platform::UsbLocation* usb = nullptr;
};

class PortTeaching {
public:
    // Devices present now that cannot be read (a built-in webcam of another
    // make, say) are never reported: only devices that arrive later are.
    PortTeaching(TeachingServices services, DialogThread& thread, PortMemory& memory,
                 MultiBurnState& state);

    // The open Port Setting dialog, or null once it is closed. While it is
    // closed teaching changes only the memory.
    void setPortSetting(IdentifyHub* dialog) { portSetting_ = dialog; }

    // Handlers, on the dialog's thread.
    void OnDeviceChange(const platform::HotplugEvent& event);
    // True when `id` was the teaching's own timer.
    bool OnTimer(int id);

    // Counts the cameras of both lists afresh.
    int CountCameras();
    int cameraCount() const { return cameraCount_; }
    // Ports this object taught.
    int learnedCount() const { return learned_; }

private:
    void teach();
    void show(std::string_view message);

    TeachingServices services_;
    DialogThread& thread_;
    PortMemory& memory_;
    MultiBurnState& state_;
    IdentifyHub* portSetting_ = nullptr;
    int cameraCount_ = 0;
    int learned_ = 0;
    // Unreadable devices already reported, or present before teaching began.
    std::set<std::string> passedOver_;
};

} // namespace tessell
