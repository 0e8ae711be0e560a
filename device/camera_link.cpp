#include "device/camera_link.h"

#include "common/trace.h"
#include "device/ic_type.h"
#include "platform/device_path.h"

#include <atomic>
#include <optional>
#include <vector>

namespace tessell {

CameraLink::CameraLink(platform::CaptureDevices& devices)
    : devices_(devices), device_(std::make_unique<CameraDevice>()) {}

CameraLink::~CameraLink() {
    CloseCamera();
}

void CameraLink::CloseCamera() {
    opened_ = false;
    device_.reset();
}

Result CameraLink::OpenCamera(IcType family, int index, int mediaFoundation) {
    const chip::Family& argument = chip::family(family);
    if (!argument.openArgument)
        return Result::refused("no camera family to open");
    if (!device_)
        device_ = std::make_unique<CameraDevice>();
    opened_ = false;
    device_->releaseBinding();
    if (!argument.anyFamily && argument.chipBits == 0) {
        // A valid family without chip family bits: no camera can match it.
        trace::writef("OpenCamera: family '%c' names no chip family; nothing opened.",
                      argument.letter);
        return Result::failure(status::kNothingDone, std::string("family '") + argument.letter +
                                                         "' names no chip family");
    }

    const auto kind = mediaFoundation ? platform::DeviceListKind::SensorCamera
                                      : platform::DeviceListKind::VideoInput;
    std::vector<platform::DeviceEntry> entries;
    if (devices_.list(kind, entries) != status::kOk)
        return Result::failure(status::kNothingDone, "the camera list could not be read");
    if (!device_->channel_)
        device_->channel_ = std::make_unique<XuChannel>();
    XuChannel& channel = *device_->channel_;
    // The channel keeps its mode from the previous open; a camera passed over
    // on the way must not leave its own mode behind for the next one.
    const XuMode modeAtStart = channel.mode();

    // Positions count every device of the list, USB or not.
    for (std::size_t position = index > 0 ? static_cast<std::size_t>(index) : 0;
         position < entries.size(); ++position) {
        const auto& entry = entries[position];
        if (!entry.devicePathRead || !entry.usb)
            continue;
        auto bound = devices_.bind(kind, position, entry);
        if (!bound) {
            trace::writef("OpenCamera: device %zu cannot be bound.", position);
            // An activation failure ends the walk of the sensor-camera list.
            if (kind == platform::DeviceListKind::SensorCamera)
                return Result::failure(status::kNothingDone, "a camera could not be activated");
            continue;
        }
        if (tryCandidate(family, kind, std::move(bound), entry) == Candidate::Opened) {
            opened_ = true;
            return {};
        }
        device_->releaseBinding();
        channel.setMode(modeAtStart);
    }
    return Result::failure(status::kNothingDone,
                           std::string("no camera of family '") + argument.letter + "' to open");
}

CameraLink::Candidate CameraLink::tryCandidate(IcType family, platform::DeviceListKind kind,
                                               std::unique_ptr<platform::CaptureDevice> bound,
                                               const platform::DeviceEntry& entry) {
    CameraDevice& device = *device_;
    XuChannel& channel = *device.channel_;
    device.filter_ = std::move(bound);
    device.devicePath_ = truncatedName(entry.devicePath);
    device.friendlyName_ = kind == platform::DeviceListKind::SensorCamera
                               ? std::string(kSensorCameraName)
                               : truncatedName(entry.friendlyName);

    platform::VendorInterface* vendor = device.filter_->vendor();
    device.vendor_ = vendor;
    if (vendor)
        channel.setMode(XU_MODE_VENDOR);
    platform::PropertyControl* control = device.filter_->control();
    if (!control) {
        trace::writef("OpenCamera: %s offers no property control.", device.devicePath_.c_str());
        return Candidate::PassedOver;
    }
    channel.setControl(control);

    // The chip identification byte, through the XU node when the device has
    // a topology, else through the driver's vendor interface.
    std::optional<std::uint8_t> chipId;
    auto readChipId = [&] {
        std::uint8_t value = 0;
        if (device.ReadRegister(chip::kChipIdRegister, value) == status::kOk)
            chipId = value;
    };
    if (platform::Topology* topology = device.filter_->topology()) {
        if (channel.mode() == XU_MODE_UNBOUND) {
            channel.setMode(XU_MODE_KS);
        } else if (channel.mode() == XU_MODE_VENDOR) {
            channel.setMode(XU_MODE_KS_WITH_VENDOR);
            channel.SetVendorInterface(vendor);
        }
        if (channel.FindXuNode(topology) == status::kOk)
            readChipId();
    } else if (vendor) {
        channel.setMode(XU_MODE_VENDOR);
        channel.SetVendorInterface(vendor);
        readChipId();
    }
    if (!chipId) {
        trace::writef("OpenCamera: %s: no chip identification.", device.devicePath_.c_str());
        return Candidate::PassedOver;
    }

    const auto bits = chip::familyBits(*chipId);
    if (!bits) {
        trace::writef("OpenCamera: %s: chip 0x%02X is not one of ours.", device.devicePath_.c_str(),
                      *chipId);
        return Candidate::PassedOver;
    }
    if (!chip::familyFilterAccepts(family, *bits))
        return Candidate::PassedOver;
    std::uint8_t variant = 0;
    if (chip::needsVariant(*bits) &&
        device.ReadRegister(chip::kVariantRegister, variant) != status::kOk) {
        // Without the variant the family is unknown.
        trace::writef("OpenCamera: %s: variant register unreadable.", device.devicePath_.c_str());
        return Candidate::PassedOver;
    }
    const IcType type = *chip::icTypeFromChip(*chipId, variant);
    device.chipId_ = chipId;
    channel.setIcType(type);
    return Candidate::Opened;
}

Status CameraLink::ReadRegister(std::uint16_t address, std::uint8_t& value) {
    return device_ ? device_->ReadRegister(address, value) : status::kPointer;
}

Status CameraLink::WriteRegister(std::uint16_t address, std::uint8_t value) {
    return device_ ? device_->WriteRegister(address, value) : status::kPointer;
}

Status CameraLink::changeRegisterBits(std::uint16_t address, std::uint8_t set, std::uint8_t clear) {
    std::uint8_t value = 0;
    const Status read = ReadRegister(address, value);
    if (read != status::kOk) {
        trace::writef("register 0x%04X unreadable (0x%08X), left as it was.", address,
                      static_cast<std::uint32_t>(read));
        return read;
    }
    return WriteRegister(address, static_cast<std::uint8_t>((value | set) & ~clear));
}

IcType CameraLink::GetIcType() const {
    const XuChannel* channel = device_ ? device_->channel() : nullptr;
    return channel ? channel->icType() : chip::kUndetected;
}

Status CameraLink::IdentifyFlash(FlashCode& code) {
    if (!device_) {
        code = flash::kUnknown;
        return status::kPointer;
    }
    return device_->IdentifyFlash(code);
}

Status CameraLink::SetFlashProtection(FlashCode code, bool protect) {
    return device_ ? device_->SetFlashProtection(code, protect) : status::kPointer;
}

Result CameraLink::DumpFlash(std::span<std::uint8_t> buffer, FlashCode code,
                             const FlashRangeReader& read) {
    if (buffer.size() < kDumpSize || !read)
        return Result::failure(status::kNothingDone, "no 64 KiB buffer or no flash reader");
    return read(buffer.first(kDumpSize), code, 0, kDumpSize);
}

} // namespace tessell
