#include "device/usb_identity.h"

#include "common/trace.h"
#include "device/camera_link.h"
#include "device/device_path.h"
#include "device/xu_channel.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace tessell {

namespace {

// Offsets of the numbers in a hardware id USB\VID_vvvv&PID_pppp&REV_rrrr.
constexpr std::size_t kVidOffset = 8;
constexpr std::size_t kPidOffset = 17;
constexpr std::size_t kRevOffset = 26;

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (auto& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::uint16_t hexAt(std::string_view text, std::size_t offset) {
    return ParseHex4(offset < text.size() ? text.substr(offset) : std::string_view{});
}

// Splits off the text up to the next `separator`; the rest follows it.
std::string_view nextField(std::string_view& rest, char separator) {
    const auto end = rest.find(separator);
    const auto field = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    return field;
}

// The platform keeps one found flag for a hub walk: walks never overlap.
std::mutex& hubWalkMutex() {
    static std::mutex instance;
    return instance;
}

} // namespace

std::uint16_t ParseHex4(std::string_view characters) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const char c = i < characters.size() ? characters[i] : '\0';
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '?') // '0'..'9' and the six characters after them
            digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c == '\0' || c == ' ')
            digit = 0;
        else
            return 0xFFFF;
        value = value << 4 | digit;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<std::string> UsbMatchingKey(std::string_view instanceId) {
    const std::string lower = lowerAscii(instanceId);
    std::string_view rest = lower;
    nextField(rest, '\\'); // bus name
    nextField(rest, '\\'); // hardware part
    std::string_view instance = rest;
    if (instance.empty() || instance.find('&') == std::string_view::npos)
        return std::nullopt;
    nextField(instance, '&');
    const auto key = nextField(instance, '&');
    // An empty key would occur in every path.
    if (key.empty())
        return std::nullopt;
    return std::string(key);
}

int GetUsbIdentity(platform::UsbLocation& usb, const CameraLink& camera, UsbIdentity& identity) {
    std::vector<platform::ImagingDevice> devices;
    if (usb.imagingDevices(devices) != status::kOk)
        return status::kNothingDone;
    const CameraDevice* opened = camera.device();
    const std::string devicePath = opened ? opened->devicePath() : std::string();
    for (const auto& device : devices) {
        identity.instanceId = truncatedName(lowerAscii(device.instanceId), 259);
        const auto key = UsbMatchingKey(device.instanceId);
        if (!key || devicePath.find(*key) == std::string::npos)
            continue;
        if (!device.address)
            continue;
        identity.port = static_cast<std::uint8_t>(*device.address & 0xFF);
        identity.vid = hexAt(device.hardwareId, kVidOffset);
        identity.pid = hexAt(device.hardwareId, kPidOffset);
        identity.bcdDevice = hexAt(device.hardwareId, kRevOffset);
        identity.friendlyName = opened->friendlyName();
        identity.hubId = truncatedName(device.hubInstanceId, 259);
        return status::kOk;
    }
    return status::kOk;
}

int GetHubPortByIndex(platform::UsbLocation& usb, int position, std::uint16_t& port,
                      std::string& hubId) {
    std::vector<platform::ImagingDevice> devices;
    if (usb.imagingDevices(devices) != status::kOk || position < 0 ||
        static_cast<std::size_t>(position) >= devices.size())
        return status::kNothingDone;
    const auto& device = devices[static_cast<std::size_t>(position)];
    if (!device.address)
        return status::kNothingDone;
    port = *device.address;
    hubId = truncatedName(device.hubInstanceId, 259);
    return status::kOk;
}

Status ReadUsbString(platform::UsbLocation& usb, const CameraLink& camera,
                     std::span<std::uint8_t> buffer, int which) {
    if (buffer.empty())
        return status::kNothingDone;
    UsbIdentity identity;
    GetUsbIdentity(usb, camera, identity); // no match leaves port 0: nothing is found
    std::uint16_t vid = 0, pid = 0, bcdDevice = 0;
    return FindUsbDeviceOnPort(usb, &vid, &pid, &bcdDevice, buffer, identity.port, which);
}

Status FindUsbDeviceOnPort(platform::UsbLocation& usb, std::uint16_t* vid, std::uint16_t* pid,
                           std::uint16_t* bcdDevice, std::span<std::uint8_t> buffer,
                           std::uint8_t port, int which) {
    if (!vid || !pid || !bcdDevice || buffer.empty())
        return status::kNothingDone;
    platform::UsbDescriptorInfo found;
    Status result = status::kOk;
    const Guid extensionCode = CurrentXuGuid();
    // Hub ports count from 1, and without a chosen extension code no device
    // can be recognised: neither needs a walk.
    if (port != 0 && !extensionCode.isNull()) {
        std::lock_guard lock(hubWalkMutex());
        result = usb.findDeviceOnPort(port, extensionCode, found);
        if (result != status::kOk) {
            trace::writef("FindUsbDeviceOnPort: hub walk failed (0x%08X).",
                          static_cast<unsigned>(result));
            found = {};
        }
    }
    *vid = found.vid;
    *pid = found.pid;
    *bcdDevice = found.bcdDevice;
    // Copied the way a fixed-size string copy does: the rest of the copied
    // area is zero, and a string of 32 bytes or more fills it with no terminator.
    const std::string& text =
        which == kUsbManufacturerString ? found.manufacturer : found.serialNumber;
    const std::size_t area = std::min(buffer.size(), kUsbStringCopy);
    const std::size_t copied = std::min(text.size(), area);
    std::copy_n(text.begin(), copied, buffer.begin());
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(copied),
              buffer.begin() + static_cast<std::ptrdiff_t>(area), 0);
    return result;
}

} // namespace tessell
