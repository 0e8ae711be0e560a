#include "device/usb_identity.h"

#include "common/single_byte_text.h"
#include "common/trace.h"
#include "device/camera_link.h"

#include <vector>

namespace tessell {

int GetUsbIdentity(platform::UsbLocation& usb, const CameraLink& camera, UsbIdentity& identity) {
    const CameraDevice* opened = camera.device();
    if (!opened)
        return status::kNothingDone;
    const auto found = usb.locate(opened->devicePath());
    if (!found || !found->address.known())
        return status::kNothingDone;
    identity.vid = found->vid;
    identity.pid = found->pid;
    identity.bcdDevice = found->bcdDevice;
    identity.address = found->address;
    identity.friendlyName = opened->friendlyName();
    identity.manufacturer = found->manufacturer;
    identity.serialNumber = found->serialNumber;
    return status::kOk;
}

int GetHubPortByIndex(platform::UsbLocation& usb, int position, std::uint16_t& port,
                      std::string& hubId) {
    std::vector<platform::UsbDeviceInfo> devices;
    if (usb.imagingDevices(devices) != status::kOk || position < 0 ||
        static_cast<std::size_t>(position) >= devices.size())
        return status::kNothingDone;
    const auto& device = devices[static_cast<std::size_t>(position)];
    if (!device.address.known())
        return status::kNothingDone;
    port = device.address.port;
    hubId = device.address.hub;
    return status::kOk;
}

std::optional<std::string> ReadUsbString(platform::UsbLocation& usb, const CameraLink& camera,
                                         int which) {
    UsbIdentity identity;
    if (GetUsbIdentity(usb, camera, identity) != status::kOk)
        return std::nullopt;
    const std::string& text =
        which == kUsbManufacturerString ? identity.manufacturer : identity.serialNumber;
    // Cut where the files cut: at 32 single-byte characters, never inside a
    // character's UTF-8 bytes.
    std::string single = toSingleByte(text);
    if (single.size() > kUsbStringCopy)
        single.resize(kUsbStringCopy);
    return fromSingleByte(single);
}

int OpenCameraAt(CameraLink& link, platform::UsbLocation& usb, IcType family,
                 const platform::UsbAddress& address) {
    link.CloseCamera();
    if (!address.known())
        return status::kNothingDone;
    std::vector<platform::DeviceEntry> entries;
    if (link.devices().list(platform::DeviceListKind::VideoInput, entries) != status::kOk)
        return status::kNothingDone;
    for (std::size_t position = 0; position < entries.size(); ++position) {
        const auto& entry = entries[position];
        if (!entry.devicePathRead || !entry.usb)
            continue;
        const auto found = usb.locate(entry.devicePath);
        if (!found || found->address != address)
            continue;
        // The open takes the first suitable camera at or after the position:
        // only this very device will do.
        if (link.OpenCamera(family, static_cast<int>(position), 0) == status::kOk &&
            link.device()->devicePath() == entry.devicePath)
            return status::kOk;
        link.CloseCamera();
    }
    trace::writef("OpenCameraAt: no camera of family '%c' on %s.", chip::letter(family),
                  address.text().c_str());
    return status::kNothingDone;
}

} // namespace tessell
