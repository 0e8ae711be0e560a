#include "platform/linux/power_linux.h"

#include "platform/linux/sysfs_attribute.h"

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tessell::platform {

namespace {

// More supplies than any machine has; keeps a strange tree from being walked
// for ever.
constexpr int kSupplyLimit = 256;

bool isAdapter(std::string_view type) {
    return type == "Mains" || type == "USB" || type.starts_with("USB_") || type == "Wireless" ||
           type == "BrickID" || type == "UPS";
}

// `online`: 0 offline, 1 online, 2 online with a programmable supply.
std::optional<bool> readOnline(const std::filesystem::path& supply) {
    const auto online = readAttribute(supply / "online");
    if (!online || online->empty())
        return std::nullopt;
    for (char c : *online) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    return online->find_first_not_of('0') != std::string::npos;
}

} // namespace

SysfsPowerStatus::SysfsPowerStatus(std::filesystem::path root) : root_(std::move(root)) {}

int SysfsPowerStatus::acLineStatus() {
    bool adapterOnline = false;
    bool adapterOffline = false;
    bool backedByBattery = false;
    bool discharging = false;
    bool charging = false;

    std::error_code error;
    std::filesystem::directory_iterator entry(root_, error);
    if (error)
        return kAcUnknown;
    for (int seen = 0;
         !error && entry != std::filesystem::directory_iterator() && seen < kSupplyLimit;
         entry.increment(error), ++seen) {
        const auto supply = entry->path();
        if (readAttribute(supply / "scope") == "Device")
            continue;
        const auto type = readAttribute(supply / "type");
        if (!type)
            continue;
        if (isAdapter(*type)) {
            if (const auto online = readOnline(supply)) {
                adapterOnline = adapterOnline || *online;
                adapterOffline = adapterOffline || !*online;
            }
            if (*type == "UPS")
                backedByBattery = true;
        } else if (*type == "Battery") {
            backedByBattery = true;
            const auto status = readAttribute(supply / "status");
            discharging = discharging || status == "Discharging";
            charging = charging || status == "Charging";
        }
    }

    if (adapterOnline)
        return kAcOnline;
    if (!backedByBattery)
        return kAcUnknown;
    if (discharging || adapterOffline)
        return kAcOffline;
    if (charging)
        return kAcOnline;
    return kAcUnknown;
}

std::unique_ptr<PowerStatus> makeSystemPowerStatus() {
    return std::make_unique<SysfsPowerStatus>();
}

} // namespace tessell::platform
