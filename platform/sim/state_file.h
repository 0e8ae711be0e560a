#pragma once

// The observable state of a simulated camera, written to the device's state
// file for tests and demonstrations that watch the camera from outside.

#include "platform/sim/chip.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace tessell::sim {

struct CameraState {
    bool present = false;
    bool download = false;
    LedState led = LedState::Unknown;
    std::uint64_t resets = 0;
    std::uint64_t arrivals = 0;
    std::uint64_t requests = 0;
    std::map<std::uint16_t, std::uint8_t> registers;
    std::uint8_t flashStatus = 0;
};

// {"present", "mode", "led", "resets", "arrivals", "requests", "registers",
// "flash_status"} in that order, register keys as "0x20ff".
std::string stateJson(const CameraState& state);

class StateFile {
public:
    explicit StateFile(std::filesystem::path file) : file_(std::move(file)) {}

    // Replaces the file when the state changed. The new content goes to a
    // temporary file first and is renamed over the old one, so that a reader
    // never sees half a state.
    void write(const CameraState& state);

private:
    std::filesystem::path file_;
    std::string written_;
};

} // namespace tessell::sim
