#pragma once

// AC line status from the kernel's power-supply class.

#include "platform/power.h"

#include <filesystem>

namespace tessell::platform {

// Reads every supply under `root` (one folder per supply, as in
// /sys/class/power_supply) and decides, in this order:
//  1. supplies whose `scope` is "Device" are skipped: they power a mouse or a
//     keyboard, not this machine;
//  2. an adapter (`type` Mains, USB..., Wireless, BrickID or UPS) whose
//     `online` is not 0 means online;
//  3. with neither a battery (`type` Battery) nor a UPS the answer is
//     unknown: a desktop's empty USB-C port reads offline but does not power
//     the machine;
//  4. a battery whose `status` is "Discharging" means offline;
//  5. an adapter whose `online` is 0 means offline (a laptop unplugged while
//     its battery reports "Not charging" or "Full");
//  6. a battery that is "Charging" means online (firmware that lists no
//     adapter);
//  7. anything else is unknown.
// A missing or unreadable folder is unknown.
class SysfsPowerStatus final : public PowerStatus {
public:
    static constexpr const char* kDefaultRoot = "/sys/class/power_supply";

    explicit SysfsPowerStatus(std::filesystem::path root = kDefaultRoot);
    int acLineStatus() override;

private:
    std::filesystem::path root_;
};

} // namespace tessell::platform
