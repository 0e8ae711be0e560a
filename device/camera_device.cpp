#include "device/camera_device.h"

#include "common/trace.h"
#include "device/xu_protocol.h"

namespace tessell {

CameraDevice::~CameraDevice() {
    if (channel_)
        channel_->Release();
}

void CameraDevice::releaseBinding() {
    if (channel_) {
        channel_->Release();
        channel_->SetVendorInterface(nullptr);
    }
    vendor_ = nullptr;
    filter_.reset();
}

Status CameraDevice::selectRegister(std::uint16_t address) {
    if (!channel_)
        return status::kPointer;
    const std::uint8_t addressBytes[2] = {static_cast<std::uint8_t>(address),
                                          static_cast<std::uint8_t>(address >> 8)};
    return channel_->put_Property(XU_REG_ADDRESS, addressBytes);
}

Status CameraDevice::ReadRegister(std::uint16_t address, std::uint8_t& value) {
    const Status selected = selectRegister(address);
    if (selected != status::kOk)
        return selected;
    std::uint8_t data = 0;
    const Status result = channel_->get_Property(XU_REG_DATA, std::span(&data, 1));
    if (result == status::kOk)
        value = data;
    return result;
}

Status CameraDevice::WriteRegister(std::uint16_t address, std::uint8_t value) {
    const Status selected = selectRegister(address);
    if (selected != status::kOk)
        return selected;
    return channel_->put_Property(XU_REG_DATA, std::span(&value, 1));
}

} // namespace tessell
