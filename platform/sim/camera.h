#pragma once

// One simulated camera: its chip, flash, module memory and firmware, its
// place on the bus (present, hub, port, identity read from the flash), its
// faults and its state file.
//
// Locking: every request runs under the camera's request lock (one USB
// device answers one control transfer at a time). What the device lists and
// the USB location services read sits under a second, short-held bus lock,
// so that listing never waits behind a slow flash operation. Order: request
// lock, then bus lock, then the event queue's lock.

#include "common/clock.h"
#include "platform/capture_devices.h"
#include "platform/guid.h"
#include "platform/sim/chip.h"
#include "platform/sim/event_queue.h"
#include "platform/sim/faults.h"
#include "platform/sim/firmware.h"
#include "platform/sim/flash_identity.h"
#include "platform/sim/flash_part.h"
#include "platform/sim/module_memory.h"
#include "platform/sim/state_file.h"
#include "platform/sim/station.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace tessell::sim {

// What the operating system shows of a camera, taken at one moment.
struct BusView {
    bool onBus = false;
    std::uint64_t generation = 0; // changes each time the camera leaves the bus
    platform::DeviceListKind list = platform::DeviceListKind::VideoInput;
    bool usb = true;
    std::string friendlyName;
    std::string hub;
    std::uint16_t port = 0;
    std::string devicePath;
    std::string instanceId;
    std::string hardwareId;
    SimUsbIdentity identity;
    std::optional<Guid> extensionCode; // the Extension Unit's GUID in the USB descriptors
};

class SimCamera {
public:
    // `position` is the device's index in the station file.
    static std::shared_ptr<SimCamera> create(std::size_t position, DeviceConfig config,
                                             std::shared_ptr<EventQueue> events,
                                             std::string& error);
    ~SimCamera();
    SimCamera(const SimCamera&) = delete;
    SimCamera& operator=(const SimCamera&) = delete;

    const DeviceConfig& config() const { return config_; }
    BusView view() const;
    // Whether a binding made at `generation` still reaches the camera.
    bool reachable(std::uint64_t generation) const;

    // A kernel-streaming property request addressed to node `node`.
    Status propertyRequest(std::uint64_t generation, const Guid& propertySet,
                           std::uint32_t selector, platform::PropertyOp op, std::uint32_t node,
                           std::span<std::uint8_t> data, std::uint32_t& bytesReturned);
    // A request carried by the driver's vendor interface (no property set).
    Status vendorRequest(std::uint64_t generation, std::uint32_t selector, platform::PropertyOp op,
                         std::span<std::uint8_t> data, std::uint32_t& bytesReturned);

    // A class request addressed to the Extension Unit by its unit id, the
    // way a USB host reaches it: no property set to match.
    Status unitRequest(std::uint64_t generation, std::uint32_t selector, platform::PropertyOp op,
                       std::span<std::uint8_t> data, std::uint32_t& bytesReturned);
    // The controls of the Extension Unit's firmware; none when the camera has
    // no unit of ours (another make, or no Extension Unit at all).
    std::vector<ControlInfo> extensionControls() const;

    Status nodeCount(std::uint64_t generation, std::uint32_t& count) const;
    Status nodeType(std::uint64_t generation, std::uint32_t node, Guid& type) const;

    // When a camera that left after a reset comes back; none when no return is pending.
    std::optional<Clock::TimePoint> returnTime() const;
    // Brings the camera back when its re-enumeration time has come.
    void returnIfDue();
    // A re-read of the station file: presence and place on the bus.
    void applyStation(bool present, const std::string& hub, std::uint16_t port);

    // The flash as it stands (for tests and diagnostics).
    std::vector<std::uint8_t> flashContents() const;
    std::vector<std::uint8_t> moduleContents() const;
    // How many requests on `selector` of kind `op` reached the camera on the
    // bus, however they were answered (for tests and diagnostics).
    std::uint64_t requestCount(std::uint32_t selector, platform::PropertyOp op) const;

private:
    enum class Route { Kernel, Vendor, Unit };
    enum class BusState { OnBus, Returning, Away };
    enum class Leaving { Reset, Unplugged, Moved };

    SimCamera(std::size_t position, DeviceConfig config, std::shared_ptr<EventQueue> events);

    Status serve(Route route, std::uint64_t generation, const Guid* propertySet, std::uint32_t node,
                 std::uint32_t selector, platform::PropertyOp op, std::span<std::uint8_t> data,
                 std::uint32_t& bytesReturned);
    Status answer(Route route, const Guid* propertySet, std::uint32_t node, std::uint32_t selector,
                  platform::PropertyOp op, std::span<std::uint8_t> data,
                  std::uint32_t& bytesReturned, bool inDownload);
    std::uint32_t xuNode() const;

    // Both with the request lock held.
    void leave(Leaving why);
    void arrive(bool notify);
    void refreshNames(); // with the bus lock held
    void writeState();

    const std::size_t position_;
    const DeviceConfig config_;
    const std::optional<IcType> family_;
    const std::shared_ptr<EventQueue> events_;

    mutable std::mutex requestMutex_;
    std::unique_ptr<FlashPart> flash_;
    std::unique_ptr<ModuleMemory> module_;
    FaultSet faults_;
    std::unique_ptr<Chip> chip_;
    std::unique_ptr<XuFirmware> firmware_;
    std::optional<StateFile> stateFile_;
    std::uint64_t requests_ = 0;
    std::map<std::pair<std::uint32_t, platform::PropertyOp>, std::uint64_t> requestCounts_;
    std::uint64_t resets_ = 0;
    std::uint64_t arrivals_ = 0;

    mutable std::mutex busMutex_;
    BusState state_ = BusState::Away;
    Clock::TimePoint returnAt_{};
    BusView view_;
};

} // namespace tessell::sim
