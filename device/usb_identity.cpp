#include "device/usb_identity.h"

#include "common/single_byte_text.h"
#include "common/trace.h"
#include "device/camera_link.h"

#include <vector>

namespace tessell {

Outcome<UsbIdentity> GetUsbIdentity(platform::UsbLocation& usb, const CameraLink& camera) {
    const CameraDevice* opened = camera.device();
    if (!opened)
        return Result::failure(status::kNothingDone, "no camera is open");
    const auto found = usb.locate(opened->devicePath());
    if (!found || !found->address.known())
        return Result::failure(status::kNothingDone, "the camera's USB port could not be found");
    UsbIdentity identity;
    identity.vid = found->vid;
    identity.pid = found->pid;
    identity.bcdDevice = found->bcdDevice;
    identity.address = found->address;
    identity.friendlyName = opened->friendlyName();
    identity.manufacturer = found->manufacturer;
    identity.serialNumber = found->serialNumber;
    return identity;
}

Outcome<platform::UsbAddress> GetHubPortByIndex(platform::UsbLocation& usb, int position) {
    std::vector<platform::UsbDeviceInfo> devices;
    if (usb.imagingDevices(devices) != status::kOk || position < 0 ||
        static_cast<std::size_t>(position) >= devices.size())
        return Result::failure(status::kNothingDone,
                               "no imaging device at position " + std::to_string(position));
    const auto& device = devices[static_cast<std::size_t>(position)];
    if (!device.address.known())
        return Result::failure(status::kNothingDone,
                               "imaging device " + std::to_string(position) + " has no USB port");
    return device.address;
}

Outcome<std::string> ReadUsbString(platform::UsbLocation& usb, const CameraLink& camera,
                                   int which) {
    const Outcome<UsbIdentity> identity = GetUsbIdentity(usb, camera);
    if (!identity.ok())
        return identity.result();
    const std::string& text =
        which == kUsbManufacturerString ? identity->manufacturer : identity->serialNumber;
    // Cut where the files cut: at 32 single-byte characters, never inside a
    // character's UTF-8 bytes.
    std::string single = toSingleByte(text);
    if (single.size() > kUsbStringCopy)
        single.resize(kUsbStringCopy);
    return fromSingleByte(single);
}

Result OpenCameraAt(CameraLink& link, platform::UsbLocation& usb, IcType family,
                    const platform::UsbAddress& address) {
    link.CloseCamera();
    if (!address.known())
        return Result::failure(status::kNothingDone, "no USB port to open a camera on");
    std::vector<platform::DeviceEntry> entries;
    if (link.devices().list(platform::DeviceListKind::VideoInput, entries) != status::kOk)
        return Result::failure(status::kNothingDone, "the camera list could not be read");
    for (std::size_t position = 0; position < entries.size(); ++position) {
        const auto& entry = entries[position];
        if (!entry.devicePathRead || !entry.usb)
            continue;
        const auto found = usb.locate(entry.devicePath);
        if (!found || found->address != address)
            continue;
        // The open takes the first suitable camera at or after the position:
        // only this very device will do.
        if (link.OpenCamera(family, static_cast<int>(position), 0).ok() &&
            link.device()->devicePath() == entry.devicePath)
            return {};
        link.CloseCamera();
    }
    trace::writef("OpenCameraAt: no camera of family '%c' on %s.", chip::letter(family),
                  address.text().c_str());
    return Result::failure(status::kNothingDone, std::string("no camera of family '") +
                                                     chip::letter(family) + "' on " +
                                                     address.text());
}

} // namespace tessell
