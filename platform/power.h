#pragma once

// Whether the machine runs on mains power.

#include <memory>

namespace tessell::platform {

// AC line status with the values callers compare against.
inline constexpr int kAcOffline = 0;
inline constexpr int kAcOnline = 1;
inline constexpr int kAcUnknown = 255;

class PowerStatus {
public:
    virtual ~PowerStatus() = default;
    // kAcOffline, kAcOnline or kAcUnknown, read afresh on every call.
    virtual int acLineStatus() = 0;
};

// The machine's own power status.
std::unique_ptr<PowerStatus> makeSystemPowerStatus();

} // namespace tessell::platform
