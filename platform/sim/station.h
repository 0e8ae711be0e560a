#pragma once

// The station file: which simulated cameras a process sees and how each one
// behaves. Parsed once at start; later re-reads take only presence and
// hub/port from it (see SimPlatform).

#include "platform/capture_devices.h"
#include "platform/sim/flash_identity.h"
#include "platform/sim/flash_part.h"
#include "platform/status.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessell::sim {

// Under which property set the Extension Unit answers.
enum class XuAnswer {
    Primary,
    Fallback, // the primary set answers "set not found"
    NotFound, // the probe under the primary set answers "not found"
    None,     // no Extension Unit node at all
};

// Which of the capture device's interfaces the driver offers.
enum class Access {
    Topology, // kernel-streaming requests: property control and topology
    Vendor,   // only the driver's vendor interface
    Both,
};

struct ModuleConfig {
    std::size_t size = 131072;
    std::filesystem::path file; // empty: the memory lives in memory only
};

// One injected fault.
struct FaultConfig {
    enum class Kind {
        Status,       // a request answers `status` and has no effect
        UnplugAfter,  // the camera leaves the bus after `count` requests
        CorruptBlock, // the `count`-th stream block arrives with its first byte inverted
        BusyForever,  // selector 26 stays busy
        NoReturn,     // the camera does not come back after a reset
        NotReady,     // the first `count` probe reads of selector 11 answer "not ready"
    };
    enum class Op { Set, Get, Len };

    Kind kind = Kind::Status;
    Op op = Op::Set;
    std::uint32_t selector = 0;
    std::optional<std::uint16_t> selectedRegister; // Status faults on selector 3 only
    std::uint64_t count = 1; // `nth`, or N of unplug_after / not_ready, K of corrupt_block
    std::uint64_t times = 1;
    Status status = status::kFail;
    bool inDownload = false;
};

// One simulated device, with every default of the station-file format.
struct DeviceConfig {
    bool present = true;
    platform::DeviceListKind list = platform::DeviceListKind::VideoInput;
    bool usb = true;
    std::string friendlyName = "USB Camera";
    std::string hub = "sim-hub-1";
    std::uint16_t port = 1;                    // default: position in the station file + 1
    std::optional<std::uint8_t> chipId = 0xC0; // none: a webcam of another make
    std::uint8_t variant = 0;
    XuAnswer xu = XuAnswer::Primary;
    Access access = Access::Topology;
    FlashPartConfig flash;
    std::size_t blockSize = 4096;
    std::size_t sfBlockSize = 4096;
    bool firmwareFlashId = true;
    std::map<std::uint16_t, std::uint8_t> registers;
    RomIdentity rom;
    std::optional<ModuleConfig> module;
    std::chrono::microseconds reenumerate = std::chrono::milliseconds(300);
    std::chrono::microseconds busy = std::chrono::milliseconds(1500);
    std::chrono::microseconds request{0};
    std::vector<FaultConfig> faults;
    std::filesystem::path stateFile; // empty: no state file
};

struct StationConfig {
    double timeScale = 1.0; // kSmallestTimeScale to 1; a smaller one is refused
    bool acPower = true;
    std::vector<DeviceConfig> devices;
};

// Parses station-file text. Relative paths are taken from `folder`. On a
// malformed file returns none and says where and why in `error`.
std::optional<StationConfig> parseStation(std::string_view text,
                                          const std::filesystem::path& folder, std::string& error);

// Reads and parses a station file; `error` names the file.
std::optional<StationConfig> loadStation(const std::filesystem::path& file, std::string& error);

} // namespace tessell::sim
