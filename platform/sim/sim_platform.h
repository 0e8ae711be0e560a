#pragma once

// The operating system as the tool sees it when it runs against simulated
// cameras: the two device lists, the bound capture devices with their
// Extension-Unit requests, the USB location services, device arrival and
// removal, and the AC line, all made from a station file.
//
// A service thread (one per platform) re-enumerates cameras after a reset,
// checks the station file for edits every 200 ms of tool time and hands
// arrival and removal notifications to the listeners. Tests that drive time
// with a manual clock run without it and call service() themselves.

#include "platform/capture_devices.h"
#include "platform/hotplug.h"
#include "platform/hotplug_listeners.h"
#include "platform/sim/camera.h"
#include "platform/sim/event_queue.h"
#include "platform/sim/station.h"
#include "platform/usb_location.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessell::sim {

class SimPlatform final : public platform::CaptureDevices,
                          public platform::UsbLocation,
                          public platform::Hotplug {
public:
    struct Options {
        bool serviceThread = true;
        // Sets the process clock's time scale from the station file.
        bool applyTimeScale = true;
    };

    // From a station file, which is then watched for edits.
    static std::unique_ptr<SimPlatform> open(const std::filesystem::path& stationFile,
                                             const Options& options, std::string& error);
    // From a parsed station, without a file to watch.
    static std::unique_ptr<SimPlatform> fromStation(StationConfig station, const Options& options,
                                                    std::string& error);
    ~SimPlatform() override;

    // CaptureDevices
    Status list(platform::DeviceListKind kind,
                std::vector<platform::DeviceEntry>& entries) override;
    std::unique_ptr<platform::CaptureDevice> bind(platform::DeviceListKind kind,
                                                  std::size_t position,
                                                  const platform::DeviceEntry& entry) override;

    // UsbLocation
    std::optional<platform::UsbDeviceInfo> locate(std::string_view devicePath) override;
    Status imagingDevices(std::vector<platform::UsbDeviceInfo>& devices) override;

    // Hotplug
    std::unique_ptr<Subscription> subscribe(Listener listener) override;

    // The AC line as the power services report it: 1 online, 0 offline.
    int acLineStatus() const { return acPower_ ? 1 : 0; }

    // Does what is due now on the caller's thread: the station-file check
    // (when 200 ms of tool time have passed since the last one),
    // re-enumerations whose time has come, and pending notifications.
    void service();
    // Checks the station file for an edit now.
    void checkStationFile();
    // The last station-file re-read that failed, empty when none did.
    std::string reloadError() const;

    std::size_t cameraCount() const { return cameras_.size(); }
    SimCamera& camera(std::size_t position) const { return *cameras_.at(position); }

private:
    SimPlatform() = default;
    void start(const Options& options);
    void serviceLoop();
    void reloadStation(); // with serviceMutex_ held
    void deliver(const std::deque<platform::HotplugEvent>& events);

    std::vector<std::shared_ptr<SimCamera>> cameras_;
    std::shared_ptr<EventQueue> events_ = std::make_shared<EventQueue>();
    platform::HotplugListeners listeners_;
    bool acPower_ = true;

    std::filesystem::path stationFile_;
    std::mutex serviceMutex_;
    Clock::TimePoint nextStationCheck_{};
    std::filesystem::file_time_type stationTime_{};
    std::uintmax_t stationSize_ = 0;
    mutable std::mutex errorMutex_;
    std::string reloadError_;
    std::thread serviceThread_;
};

// Whether TESSELL_SIM names a station file: then the process must use only
// the simulated platform, even when that file cannot be loaded.
bool simulationRequested();

// The simulated platform of the process, built on first use from the station
// file TESSELL_SIM names (with its service thread and time scale). Null when
// the variable is not set, or when the file could not be loaded; `error`
// then says why.
SimPlatform* processPlatform(std::string* error = nullptr);

} // namespace tessell::sim
