#include "tests/support/fake_camera.h"

#include "device/xu_protocol.h"
#include "platform/device_path.h"

#include <algorithm>

namespace tessell::testing {

using platform::PropertyOp;

FakeCamera::FakeCamera(std::uint8_t chipId, std::uint8_t variant) {
    registers[0x20FF] = chipId;
    registers[0x20D0] = variant;
}

std::uint8_t FakeCamera::csValue() const {
    const auto bits = registers.at(0x20FF) & 0xF0;
    return bits == 0x60 || bits == 0x90 ? 2 : 0;
}

std::size_t FakeCamera::countRequests(std::uint32_t selector, PropertyOp op) const {
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(), [&](const RecordedRequest& r) {
            return r.selector == selector && r.op == op;
        }));
}

std::uint8_t FakeCamera::nextSpiAnswer() {
    if (frame_.empty())
        return 0xFF;
    const std::uint8_t opcode = frame_[0];
    if (opcode == flash::command::kReadStatus) {
        if (writeInProgressReads > 0) {
            --writeInProgressReads;
            return flashStatus | flash::kStatusWriteInProgress;
        }
        return flashStatus;
    }
    const auto id = flashIds.find(opcode);
    const std::size_t index = answered_++;
    return id != flashIds.end() && index < 3 ? id->second[index] : 0xFF;
}

std::uint8_t FakeCamera::readRegister(std::uint16_t address) {
    switch (address) {
    case 0x2021: {
        const bool busy = busyForever || shiftPending_;
        shiftPending_ = false;
        return busy ? 1 : 0;
    }
    case 0x2023:
        if (selectedFlash_)
            registers[0x2024] = nextSpiAnswer();
        shiftPending_ = true;
        return 0;
    default:
        return registers[address];
    }
}

void FakeCamera::writeRegister(std::uint16_t address, std::uint8_t value) {
    registerWrites.emplace_back(address, value);
    registers[address] = value;
    if (address == 0x2025) {
        const bool select = value == csValue();
        if (selectedFlash_ && !select) {
            // The command runs when the flash is released.
            if (frame_.size() >= 2 && frame_[0] == flash::command::kWriteStatus)
                flashStatus = frame_[1];
            spiFrames.push_back(frame_);
        }
        if (select && !selectedFlash_) {
            frame_.clear();
            answered_ = 0;
        }
        selectedFlash_ = select;
    } else if (address == 0x2022) {
        shiftPending_ = true;
        if (registers[0x2020] != 0x80)
            return;
        if (selectedFlash_)
            frame_.push_back(value);
        else
            spiUnselectedBytes.push_back(value);
    }
}

Status FakeCamera::handle(bool viaVendor, const Guid& propertySet, std::uint32_t selector,
                          PropertyOp op, std::uint32_t nodeId, std::span<std::uint8_t> data,
                          std::uint32_t& bytesReturned) {
    RecordedRequest record{viaVendor, propertySet, selector, op, nodeId, {}};
    if (op == PropertyOp::Set)
        record.data.assign(data.begin(), data.end());
    requests.push_back(record);
    if (onRequest)
        onRequest(record);

    if (dead)
        return status::kDeviceGone;
    if (auto failure = failures.find({op, selector});
        failure != failures.end() && !failure->second.empty()) {
        const std::optional<Status> answer = failure->second.front();
        failure->second.pop_front();
        if (answer)
            return *answer;
    }
    if (!viaVendor) {
        const bool primary = propertySet == XU_PROPSET_PRIMARY;
        if (answers == Answers::Fallback ? primary : !primary)
            return status::kSetNotFound;
        if (answers == Answers::NotFound && selector == XU_DFU_CHECKSUM)
            return status::kNotFound;
    }

    if (op == PropertyOp::Size) {
        const auto size = sizes.find(selector);
        bytesReturned = size == sizes.end() ? 1 : size->second;
        return status::kMoreData;
    }
    if (op == PropertyOp::Set) {
        const auto byte = [&](std::size_t i) -> std::uint8_t {
            return i < data.size() ? data[i] : 0;
        };
        switch (selector) {
        case XU_REG_ADDRESS:
            selected_ = static_cast<std::uint16_t>(byte(0) | byte(1) << 8);
            break;
        case XU_REG_DATA:
            writeRegister(selected_, byte(0));
            break;
        case XU_SF_CMD_INDEX:
            slot_ = byte(0);
            if (slot_ == kIdentificationSlot && !firmwareFlashId)
                return status::kFail;
            break;
        case XU_SF_CMD_VALUE:
            if (slot_ == kIdentificationSlot) {
                const auto id = flashIds.find(byte(0));
                latchedId_ = id == flashIds.end() ? flash::IdBytes{0xFF, 0xFF, 0xFF} : id->second;
            }
            break;
        case XU_SF_SECTOR_ERASE:
            sectorErases.push_back(static_cast<std::uint16_t>(byte(0) | byte(1) << 8));
            break;
        case XU_SF_ADDRESS:
            flashAddress_ = static_cast<std::uint16_t>(byte(0) | byte(1) << 8);
            break;
        case XU_SF_DATA_4K:
        case XU_SF_DATA_64:
            blockWrites.emplace_back(flashAddress_, record.data);
            break;
        default:
            break;
        }
        return status::kOk;
    }
    // Get
    std::fill(data.begin(), data.end(), 0);
    switch (selector) {
    case XU_REG_DATA:
        if (!data.empty())
            data[0] = readRegister(selected_);
        break;
    case XU_DFU_CHECKSUM:
        if (!probeAnswers.empty()) {
            const Status answer = probeAnswers.front();
            probeAnswers.pop_front();
            if (answer != status::kOk)
                return answer;
        }
        break;
    case XU_SF_ID:
        std::copy_n(latchedId_.begin(), std::min<std::size_t>(3, data.size()), data.begin());
        break;
    case XU_SF_DATA_64:
    case XU_SF_DATA_4K:
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = flash[(flashAddress_ + i) % flash.size()];
        break;
    default:
        break;
    }
    bytesReturned = static_cast<std::uint32_t>(data.size());
    (void)nodeId;
    return status::kOk;
}

namespace {

class FakeControl final : public platform::PropertyControl {
public:
    explicit FakeControl(std::shared_ptr<FakeCamera> camera) : camera_(std::move(camera)) {}
    Status request(const Guid& propertySet, std::uint32_t selector, PropertyOp op,
                   std::uint32_t nodeId, std::span<std::uint8_t> data,
                   std::uint32_t& bytesReturned) override {
        return camera_->handle(false, propertySet, selector, op, nodeId, data, bytesReturned);
    }

private:
    std::shared_ptr<FakeCamera> camera_;
};

class FakeTopology final : public platform::Topology {
public:
    explicit FakeTopology(std::vector<Guid> types) : types_(std::move(types)) {}
    Status nodeCount(std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(types_.size());
        return status::kOk;
    }
    Status nodeType(std::uint32_t node, Guid& type) override {
        if (node >= types_.size())
            return status::kInvalidArgument;
        type = types_[node];
        return status::kOk;
    }

private:
    std::vector<Guid> types_;
};

// Decodes command words the way the camera driver does: Set carries the word
// (and data for SET_CUR), Get answers the last command.
class FakeVendor final : public platform::VendorInterface {
public:
    explicit FakeVendor(std::shared_ptr<FakeCamera> camera) : camera_(std::move(camera)) {}

    Status set(std::uint32_t propertyId, std::span<const std::uint8_t> buffer) override {
        camera_->vendorSets.emplace_back(buffer.begin(), buffer.end());
        if (propertyId != 35 || buffer.size() < 4)
            return status::kInvalidArgument;
        const std::uint32_t word = buffer[0] | buffer[1] << 8 | buffer[2] << 16 |
                                   static_cast<std::uint32_t>(buffer[3]) << 24;
        selector_ = word >> 24;
        request_ = static_cast<std::uint8_t>(word >> 16);
        length_ = word & 0xFFFF;
        if (request_ != 0x01)
            return status::kOk;
        if (buffer.size() < 4 + length_)
            return status::kInvalidArgument;
        std::vector<std::uint8_t> data(buffer.begin() + 4, buffer.begin() + 4 + length_);
        std::uint32_t ignored = 0;
        return camera_->handle(true, Guid{}, selector_, PropertyOp::Set, 0, data, ignored);
    }

    Status get(std::uint32_t propertyId, std::span<std::uint8_t> buffer) override {
        if (propertyId != 35)
            return status::kInvalidArgument;
        std::uint32_t returned = 0;
        if (request_ == 0x85) {
            const Status result =
                camera_->handle(true, Guid{}, selector_, PropertyOp::Size, 0, {}, returned);
            if (result != status::kMoreData)
                return result;
            const std::uint32_t answer = returned | std::uint32_t{camera_->vendorSizeHighBits}
                                                        << 16;
            for (std::size_t i = 0; i < 4 && i < buffer.size(); ++i)
                buffer[i] = static_cast<std::uint8_t>(answer >> (8 * i));
            return status::kOk;
        }
        if (request_ == 0x81) {
            std::vector<std::uint8_t> data(length_);
            const Status result =
                camera_->handle(true, Guid{}, selector_, PropertyOp::Get, 0, data, returned);
            if (result == status::kOk)
                std::copy_n(data.begin(), std::min(data.size(), buffer.size()), buffer.begin());
            return result;
        }
        return status::kFail;
    }

private:
    std::shared_ptr<FakeCamera> camera_;
    std::uint32_t selector_ = 0;
    std::uint8_t request_ = 0;
    std::uint32_t length_ = 0;
};

class FakeBound final : public platform::CaptureDevice {
public:
    explicit FakeBound(const FakeDevice& device) {
        // A webcam of another make: an Extension Unit that never answers.
        auto camera = device.camera ? device.camera : std::make_shared<FakeCamera>();
        if (!device.camera)
            camera->dead = true;
        if (device.control)
            control_ = std::make_unique<FakeControl>(camera);
        if (device.topology)
            topology_ = std::make_unique<FakeTopology>(device.nodeTypes);
        if (device.vendor)
            vendor_ = std::make_unique<FakeVendor>(camera);
    }
    platform::PropertyControl* control() override { return control_.get(); }
    platform::Topology* topology() override { return topology_.get(); }
    platform::VendorInterface* vendor() override { return vendor_.get(); }

private:
    std::unique_ptr<FakeControl> control_;
    std::unique_ptr<FakeTopology> topology_;
    std::unique_ptr<FakeVendor> vendor_;
};

} // namespace

std::string usbDevicePath(const std::string& key, const std::string& bus) {
    return "\\\\?\\" + bus + "#vid_1209&pid_0002&mi_00#6&" + key +
           "&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
}

Status FakeCaptureDevices::list(platform::DeviceListKind kind,
                                std::vector<platform::DeviceEntry>& entries) {
    entries.clear();
    if (listFailure != status::kOk)
        return listFailure;
    for (const auto& device : devices)
        if (device.list == kind)
            entries.push_back({device.pathRead ? device.path : std::string(), device.pathRead,
                               device.friendlyName, isUsbDevicePath(device.path)});
    return entries.empty() ? status::kNothingDone : status::kOk;
}

std::unique_ptr<platform::CaptureDevice> FakeCaptureDevices::bind(platform::DeviceListKind kind,
                                                                  std::size_t position,
                                                                  const platform::DeviceEntry&) {
    std::size_t seen = 0;
    for (const auto& device : devices) {
        if (device.list != kind)
            continue;
        if (seen++ == position) {
            if (!device.bindable)
                return nullptr;
            ++binds;
            return std::make_unique<FakeBound>(device);
        }
    }
    return nullptr;
}

std::optional<platform::UsbDeviceInfo> FakeUsbLocation::locate(std::string_view devicePath) {
    const auto found = byPath.find(std::string(devicePath));
    if (found == byPath.end())
        return std::nullopt;
    return found->second;
}

Status FakeUsbLocation::imagingDevices(std::vector<platform::UsbDeviceInfo>& out) {
    out = devices;
    return listFailure;
}

} // namespace tessell::testing
