#include "platform/sim/sim_platform.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <system_error>

namespace tessell::sim {

namespace {

using namespace std::chrono_literals;
using platform::PropertyOp;

constexpr Clock::Duration kStationCheckPeriod = 200ms;
constexpr std::uint32_t kVendorPropertyId = 35;
constexpr std::size_t kVendorMaxData = 4096;

// UVC class request codes of a mode-0 command word.
constexpr std::uint8_t kSetCur = 0x01;
constexpr std::uint8_t kGetCur = 0x81;
constexpr std::uint8_t kGetLen = 0x85;

class SimControl final : public platform::PropertyControl {
public:
    SimControl(std::shared_ptr<SimCamera> camera, std::uint64_t generation)
        : camera_(std::move(camera)), generation_(generation) {}

    Status request(const Guid& propertySet, std::uint32_t selector, PropertyOp op,
                   std::uint32_t nodeId, std::span<std::uint8_t> data,
                   std::uint32_t& bytesReturned) override {
        return camera_->propertyRequest(generation_, propertySet, selector, op, nodeId, data,
                                        bytesReturned);
    }

private:
    std::shared_ptr<SimCamera> camera_;
    std::uint64_t generation_;
};

class SimTopology final : public platform::Topology {
public:
    SimTopology(std::shared_ptr<SimCamera> camera, std::uint64_t generation)
        : camera_(std::move(camera)), generation_(generation) {}

    Status nodeCount(std::uint32_t& count) override {
        return camera_->nodeCount(generation_, count);
    }
    Status nodeType(std::uint32_t node, Guid& type) override {
        return camera_->nodeType(generation_, node, type);
    }

private:
    std::shared_ptr<SimCamera> camera_;
    std::uint64_t generation_;
};

// The driver's vendor interface: Set carries a command word (selector,
// class request, length) and, for a write, the data after it; Get answers
// the last command.
class SimVendor final : public platform::VendorInterface {
public:
    SimVendor(std::shared_ptr<SimCamera> camera, std::uint64_t generation)
        : camera_(std::move(camera)), generation_(generation) {}

    Status set(std::uint32_t propertyId, std::span<const std::uint8_t> buffer) override {
        std::lock_guard lock(mutex_);
        answer_.clear();
        const Status result = command(propertyId, buffer);
        lastStatus_ = result;
        return result;
    }

    Status get(std::uint32_t propertyId, std::span<std::uint8_t> buffer) override {
        std::lock_guard lock(mutex_);
        if (propertyId != kVendorPropertyId)
            return status::kInvalidArgument;
        if (!camera_->reachable(generation_))
            return status::kDeviceGone;
        if (!lastStatus_)
            return status::kFail; // nothing was asked
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        std::copy_n(answer_.begin(), std::min(answer_.size(), buffer.size()), buffer.begin());
        return *lastStatus_;
    }

private:
    Status command(std::uint32_t propertyId, std::span<const std::uint8_t> buffer) {
        if (propertyId != kVendorPropertyId || buffer.size() < 4)
            return status::kInvalidArgument;
        const std::uint32_t word = static_cast<std::uint32_t>(buffer[0]) | buffer[1] << 8 |
                                   buffer[2] << 16 | static_cast<std::uint32_t>(buffer[3]) << 24;
        const std::uint32_t selector = word >> 24;
        const std::uint8_t request = static_cast<std::uint8_t>(word >> 16);
        const std::size_t length = word & 0xFFFF;
        std::uint32_t bytesReturned = 0;
        switch (request) {
        case kSetCur: {
            if (length > kVendorMaxData || buffer.size() - 4 < length)
                return status::kInvalidArgument;
            std::vector<std::uint8_t> data(
                buffer.begin() + 4, buffer.begin() + 4 + static_cast<std::ptrdiff_t>(length));
            return camera_->vendorRequest(generation_, selector, PropertyOp::Set, data,
                                          bytesReturned);
        }
        case kGetCur: {
            if (length > kVendorMaxData)
                return status::kInvalidArgument;
            answer_.assign(length, 0);
            const Status result = camera_->vendorRequest(generation_, selector, PropertyOp::Get,
                                                         answer_, bytesReturned);
            if (status::failed(result))
                answer_.clear();
            return result;
        }
        case kGetLen: {
            const Status result =
                camera_->vendorRequest(generation_, selector, PropertyOp::Size, {}, bytesReturned);
            if (result != status::kMoreData)
                return result;
            // The class request answers the length in two bytes, low first.
            answer_ = {static_cast<std::uint8_t>(bytesReturned),
                       static_cast<std::uint8_t>(bytesReturned >> 8)};
            return status::kOk;
        }
        default:
            return status::kInvalidArgument;
        }
    }

    std::shared_ptr<SimCamera> camera_;
    std::uint64_t generation_;
    std::mutex mutex_;
    std::optional<Status> lastStatus_;
    std::vector<std::uint8_t> answer_;
};

class SimCaptureDevice final : public platform::CaptureDevice {
public:
    SimCaptureDevice(const std::shared_ptr<SimCamera>& camera, std::uint64_t generation) {
        const Access access = camera->config().access;
        if (access != Access::Vendor) {
            control_ = std::make_unique<SimControl>(camera, generation);
            topology_ = std::make_unique<SimTopology>(camera, generation);
        }
        if (access != Access::Topology)
            vendor_ = std::make_unique<SimVendor>(camera, generation);
    }

    platform::PropertyControl* control() override { return control_.get(); }
    platform::Topology* topology() override { return topology_.get(); }
    platform::VendorInterface* vendor() override { return vendor_.get(); }

private:
    std::unique_ptr<SimControl> control_;
    std::unique_ptr<SimTopology> topology_;
    std::unique_ptr<SimVendor> vendor_;
};

platform::UsbDeviceInfo deviceInfo(const BusView& view) {
    platform::UsbDeviceInfo info;
    info.address = {view.hub, view.port};
    info.vid = view.identity.vid;
    info.pid = view.identity.pid;
    info.bcdDevice = view.identity.bcdDevice;
    info.manufacturer = view.identity.manufacturer;
    info.serialNumber = view.identity.serial;
    return info;
}

} // namespace

std::unique_ptr<SimPlatform> SimPlatform::open(const std::filesystem::path& stationPath,
                                               const Options& options, std::string& error) {
    // Paths in the station are relative to its folder, wherever the process
    // goes later.
    std::error_code ec;
    auto stationFile = std::filesystem::absolute(stationPath, ec);
    if (ec)
        stationFile = stationPath;
    // Take the file's time before reading it, so that an edit made while it
    // is read is seen by the first check.
    const auto time = std::filesystem::last_write_time(stationFile, ec);
    const auto size = std::filesystem::file_size(stationFile, ec);
    auto station = loadStation(stationFile, error);
    if (!station)
        return nullptr;
    std::string detail;
    auto platform = fromStation(std::move(*station), {false, options.applyTimeScale}, detail);
    if (!platform) {
        error = "station file " + stationFile.string() + ": " + detail;
        return nullptr;
    }
    platform->stationFile_ = stationFile;
    platform->stationTime_ = time;
    platform->stationSize_ = ec ? 0 : size;
    platform->start(options);
    return platform;
}

std::unique_ptr<SimPlatform> SimPlatform::fromStation(StationConfig station, const Options& options,
                                                      std::string& error) {
    std::unique_ptr<SimPlatform> platform(new SimPlatform());
    platform->acPower_ = station.acPower;
    if (options.applyTimeScale)
        clock().setTimeScale(station.timeScale);
    for (std::size_t i = 0; i < station.devices.size(); ++i) {
        auto camera = SimCamera::create(i, std::move(station.devices[i]), platform->events_, error);
        if (!camera)
            return nullptr;
        platform->cameras_.push_back(std::move(camera));
    }
    platform->start(options);
    return platform;
}

void SimPlatform::start(const Options& options) {
    nextStationCheck_ = clock().now() + kStationCheckPeriod;
    if (options.serviceThread && !serviceThread_.joinable())
        serviceThread_ = std::thread([this] { serviceLoop(); });
}

SimPlatform::~SimPlatform() {
    events_->close();
    if (serviceThread_.joinable())
        serviceThread_.join();
}

void SimPlatform::serviceLoop() {
    for (;;) {
        service();
        // Sleep until the next station check or the next camera due back.
        const auto now = clock().now();
        Clock::Duration wait;
        {
            std::lock_guard lock(serviceMutex_);
            wait = std::max(Clock::Duration::zero(), nextStationCheck_ - now);
        }
        for (const auto& camera : cameras_)
            if (const auto due = camera->returnTime())
                wait = std::min(wait, std::max(Clock::Duration::zero(), *due - now));
        if (!events_->waitFor(clock().realInterval(wait)))
            return;
    }
}

void SimPlatform::service() {
    std::lock_guard lock(serviceMutex_);
    if (!stationFile_.empty() && clock().now() >= nextStationCheck_) {
        reloadStation();
        nextStationCheck_ = clock().now() + kStationCheckPeriod;
    }
    for (const auto& camera : cameras_)
        camera->returnIfDue();
    deliver(events_->take());
}

void SimPlatform::checkStationFile() {
    std::lock_guard lock(serviceMutex_);
    reloadStation();
}

void SimPlatform::reloadStation() {
    if (stationFile_.empty())
        return;
    std::error_code timeError, sizeError;
    const auto time = std::filesystem::last_write_time(stationFile_, timeError);
    const auto size = std::filesystem::file_size(stationFile_, sizeError);
    if (timeError || sizeError || (time == stationTime_ && size == stationSize_))
        return; // gone for a moment, or unchanged
    stationTime_ = time;
    stationSize_ = size;
    std::string error;
    const auto station = loadStation(stationFile_, error);
    {
        std::lock_guard lock(errorMutex_);
        reloadError_ = station ? std::string() : error;
    }
    if (!station)
        return; // the next edit is read again
    // Only presence and place on the bus are taken from a re-read; devices
    // added to or removed from the list are not.
    const std::size_t count = std::min(station->devices.size(), cameras_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto& device = station->devices[i];
        cameras_[i]->applyStation(device.present, device.hub, device.port);
    }
}

std::string SimPlatform::reloadError() const {
    std::lock_guard lock(errorMutex_);
    return reloadError_;
}

void SimPlatform::deliver(const std::deque<platform::HotplugEvent>& events) {
    for (const auto& event : events)
        listeners_.deliver(event);
}

std::unique_ptr<platform::Hotplug::Subscription> SimPlatform::subscribe(Listener listener) {
    return listeners_.add(std::move(listener));
}

Status SimPlatform::list(platform::DeviceListKind kind,
                         std::vector<platform::DeviceEntry>& entries) {
    entries.clear();
    for (const auto& camera : cameras_) {
        const BusView view = camera->view();
        if (view.onBus && view.list == kind)
            entries.push_back({view.devicePath, true, view.friendlyName, view.usb});
    }
    // The system's enumerator reports an empty category as "nothing".
    return entries.empty() ? status::kNothingDone : status::kOk;
}

std::unique_ptr<platform::CaptureDevice> SimPlatform::bind(platform::DeviceListKind kind,
                                                           std::size_t position,
                                                           const platform::DeviceEntry& entry) {
    std::size_t index = 0;
    for (const auto& camera : cameras_) {
        const BusView view = camera->view();
        if (!view.onBus || view.list != kind)
            continue;
        if (index++ != position)
            continue;
        // The list changed since the caller read it: that device is gone.
        if (view.devicePath != entry.devicePath)
            return nullptr;
        return std::make_unique<SimCaptureDevice>(camera, view.generation);
    }
    return nullptr;
}

std::optional<platform::UsbDeviceInfo> SimPlatform::locate(std::string_view devicePath) {
    for (const auto& camera : cameras_) {
        const BusView view = camera->view();
        if (view.onBus && view.usb && view.devicePath == devicePath)
            return deviceInfo(view);
    }
    return std::nullopt;
}

Status SimPlatform::imagingDevices(std::vector<platform::UsbDeviceInfo>& devices) {
    devices.clear();
    for (const auto& camera : cameras_) {
        const BusView view = camera->view();
        if (view.onBus && view.usb)
            devices.push_back(deviceInfo(view));
    }
    return status::kOk;
}

// --- The process's platform -------------------------------------------------------

bool simulationRequested() {
    const char* station = std::getenv("TESSELL_SIM");
    return station && *station;
}

SimPlatform* processPlatform(std::string* error) {
    struct Process {
        std::unique_ptr<SimPlatform> platform;
        std::string error;
    };
    static const Process process = [] {
        Process built;
        if (simulationRequested())
            built.platform = SimPlatform::open(std::getenv("TESSELL_SIM"), {}, built.error);
        return built;
    }();
    if (error)
        *error = process.error;
    return process.platform.get();
}

} // namespace tessell::sim
