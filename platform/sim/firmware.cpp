#include "platform/sim/firmware.h"

#include "device/xu_protocol.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace tessell::sim {

namespace {

using namespace std::chrono_literals;
using platform::PropertyOp;

constexpr std::size_t kSectorSize = 4096;
constexpr std::size_t kProgramPageSize = 256;
constexpr std::size_t kSfWriteSize = 4096;
constexpr std::size_t kDataBlock64 = 64;

// The firmware's controls as data: length (two are set by the station file)
// and whether reads and writes reach the control. A request a control does
// not take stalls.
enum class Length { Fixed, BlockSize, SfBlockSize };

struct ControlEntry {
    std::uint32_t selector;
    Length length;
    std::size_t fixed;
    bool get;
    bool set;
};

constexpr ControlEntry kControls[] = {
    {XU_REG_ADDRESS, Length::Fixed, 2, false, true},
    {XU_REG_DATA, Length::Fixed, 1, true, true},
    {XU_SF_CMD_INDEX, Length::Fixed, 1, false, true},
    {XU_SF_CMD_VALUE, Length::Fixed, 1, false, true},
    {XU_DFU_ENABLE_CONTROL, Length::Fixed, 1, false, true},
    {XU_DFU_ACCESS_CONTROL, Length::BlockSize, 0, false, true},
    {XU_DFU_CHECKSUM, Length::Fixed, 1, true, false},
    {XU_ISP_FW_DOWNLOAD_OK, Length::Fixed, 1, false, true},
    {XU_SF_SECTOR_ERASE, Length::Fixed, 4, false, true},
    {XU_SF_ADDRESS, Length::Fixed, 4, false, true},
    {XU_SF_DATA_4K, Length::SfBlockSize, 0, true, true},
    {XU_SF_CMD_FLAGS, Length::Fixed, 1, false, true},
    {XU_ISP_SERIAL_FLASH, Length::Fixed, 1, false, true},
    {XU_SF_DATA_64, Length::Fixed, kDataBlock64, true, true},
    {XU_SF_ID, Length::Fixed, 3, true, false},
    {XU_SF_PARAM_BLOCK, Length::Fixed, 27, false, true},
    {XU_FW_CHECKSUM_TRIGGER, Length::Fixed, 1, true, true},
};

// How often the firmware reads the flash status while a write is in progress.
constexpr Clock::Duration kStatusPoll = 100us;

std::uint32_t littleEndian(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

bool familyIn(std::optional<IcType> family, std::initializer_list<IcType> families) {
    return family && std::find(families.begin(), families.end(), *family) != families.end();
}

} // namespace

XuFirmware::XuFirmware(const DeviceConfig& config, std::optional<IcType> family, Chip& chip,
                       FlashPart& flash, ModuleMemory* module, const FaultSet& faults)
    : config_(config), family_(family), chip_(chip), flash_(flash), module_(module),
      faults_(faults) {
    // The firmware gives up on a flash that never gets ready (a wrong status
    // opcode reads as busy) well after the slowest operation of the part.
    const Clock::Duration slowest =
        std::max<Clock::Duration>(config.flash.timing.pageProgram, config.flash.timing.sectorErase);
    readyBound_ = std::max<Clock::Duration>(500ms, 4 * slowest);
    powerOn();
}

void XuFirmware::powerOn() {
    registerAddress_ = 0;
    leaveRequested_ = false;
    table_ = flash::opcodeTable(0);
    slotIndex_ = 0;
    idLatch_ = {0, 0, 0};
    flashAddress_ = 0;
    streamToFlash_ = true;
    busyUntil_.reset();
    busyEndless_ = false;
    blocksReceived_ = 0;
    endStream();
}

bool XuFirmware::takeLeaveRequest() {
    return std::exchange(leaveRequested_, false);
}

std::optional<ControlInfo> XuFirmware::control(std::uint32_t selector) const {
    for (const auto& entry : kControls) {
        if (entry.selector != selector)
            continue;
        const std::size_t length = entry.length == Length::BlockSize     ? config_.blockSize
                                   : entry.length == Length::SfBlockSize ? config_.sfBlockSize
                                                                         : entry.fixed;
        return ControlInfo{entry.selector, length, entry.get, entry.set};
    }
    return std::nullopt;
}

std::vector<ControlInfo> XuFirmware::controls() const {
    std::vector<ControlInfo> all;
    for (const auto& entry : kControls)
        all.push_back(*control(entry.selector));
    return all;
}

Status XuFirmware::request(std::uint32_t selector, PropertyOp op, std::span<std::uint8_t> data,
                           std::uint32_t& bytesReturned) {
    const auto info = control(selector);
    if (!info)
        return status::kNotFound;
    switch (op) {
    case PropertyOp::Size:
        bytesReturned = static_cast<std::uint32_t>(info->length);
        return status::kMoreData;
    case PropertyOp::Get:
        if (!info->get)
            return status::kFail;
        return get(selector, data, bytesReturned);
    case PropertyOp::Set:
        if (!info->set)
            return status::kFail;
        // A control takes exactly its length; selector 15 takes 4096-byte writes
        // whatever size it reports for reads.
        if (data.size() != (selector == XU_SF_DATA_4K ? kSfWriteSize : info->length))
            return status::kInvalidArgument;
        return set(selector, data);
    }
    return status::kFail;
}

Status XuFirmware::get(std::uint32_t selector, std::span<std::uint8_t> data,
                       std::uint32_t& bytesReturned) {
    const std::size_t size = control(selector)->length;
    // The checksum control is read with whatever length the caller chose.
    if (selector == XU_DFU_CHECKSUM ? data.empty() : data.size() != size)
        return status::kInvalidArgument;
    std::fill(data.begin(), data.end(), std::uint8_t{0});
    switch (selector) {
    case XU_REG_DATA:
        data[0] = chip_.read(registerAddress_);
        break;
    case XU_DFU_CHECKSUM:
        data[0] = download_ ? streamChecksum() : 0;
        break;
    case XU_SF_DATA_4K: {
        const auto bytes = read(flashAddress_, size);
        std::copy(bytes.begin(), bytes.end(), data.begin());
        flashAddress_ += static_cast<std::uint32_t>(size);
        break;
    }
    case XU_SF_DATA_64: {
        const auto bytes = read(flashAddress_, kDataBlock64);
        std::copy(bytes.begin(), bytes.end(), data.begin());
        break;
    }
    case XU_SF_ID:
        std::copy(idLatch_.begin(), idLatch_.end(), data.begin());
        break;
    case XU_FW_CHECKSUM_TRIGGER:
        data[0] = busyEndless_ || (busyUntil_ && clock().now() < *busyUntil_) ? 1 : 0;
        break;
    default:
        // A control the firmware only takes writes on stalls a read.
        return status::kFail;
    }
    bytesReturned = static_cast<std::uint32_t>(data.size());
    return status::kOk;
}

Status XuFirmware::set(std::uint32_t selector, std::span<const std::uint8_t> data) {
    switch (selector) {
    case XU_REG_ADDRESS:
        registerAddress_ = static_cast<std::uint16_t>(littleEndian(data));
        return status::kOk;
    case XU_REG_DATA:
        if (chip_.write(registerAddress_, data[0]) == Chip::Effect::LeaveBus)
            leaveRequested_ = true;
        return status::kOk;
    case XU_SF_CMD_INDEX:
        if (data[0] >= 1 && data[0] <= 12) {
            slotIndex_ = data[0];
            return status::kOk;
        }
        if (data[0] == kIdentificationSlot && config_.firmwareFlashId) {
            slotIndex_ = data[0];
            return status::kOk;
        }
        return status::kFail;
    case XU_SF_CMD_VALUE:
        if (slotIndex_ == kIdentificationSlot) {
            idLatch_ = identify(data[0]);
            return status::kOk;
        }
        if (slotIndex_ < 1 || slotIndex_ > 12)
            return status::kFail;
        table_.slots[static_cast<std::size_t>(slotIndex_ - 1)] = data[0];
        return status::kOk;
    case XU_SF_CMD_FLAGS:
        table_.programMode = data[0];
        return status::kOk;
    case XU_DFU_ENABLE_CONTROL:
        if (data[0] & 1)
            return enterDownload();
        if (data[0] != 0)
            return status::kFail;
        endStream();
        return status::kOk;
    case XU_DFU_ACCESS_CONTROL:
        if (!download_)
            return status::kFail;
        return streamBlock(data);
    case XU_ISP_FW_DOWNLOAD_OK:
        if (data[0] != 1 || !download_)
            return status::kFail;
        return finishDownload();
    case XU_SF_SECTOR_ERASE: {
        const std::uint32_t address = littleEndian(data) & 0xFFFFFF;
        return eraseSector(address) ? status::kOk : status::kFail;
    }
    case XU_SF_ADDRESS:
        flashAddress_ = littleEndian(data);
        return status::kOk;
    case XU_SF_DATA_4K:
        // Only the upper half of each 64-byte chunk carries data: it goes to
        // the chunk's own offset from the address.
        for (std::size_t chunk = 0; chunk < kSfWriteSize / 64; ++chunk)
            if (!program(flashAddress_ + static_cast<std::uint32_t>(64 * chunk),
                         data.subspan(64 * chunk + 32, 32)))
                return status::kFail;
        return status::kOk;
    case XU_SF_DATA_64:
        if (family_ == IcType::j) {
            // The 7312 firmware takes a count and at most 63 bytes.
            const std::size_t count = data[0];
            if (count > kDataBlock64 - 1)
                return status::kInvalidArgument;
            return program(flashAddress_, data.subspan(1, count)) ? status::kOk : status::kFail;
        }
        return program(flashAddress_, data) ? status::kOk : status::kFail;
    case XU_ISP_SERIAL_FLASH:
        if (data[0] > 1)
            return status::kFail;
        streamToFlash_ = data[0] == 1;
        return status::kOk;
    case XU_SF_PARAM_BLOCK:
        // Either module erase sequence erases the module; any other does nothing.
        if (module_ && (std::equal(data.begin(), data.end(), kModuleSequence255.begin()) ||
                        std::equal(data.begin(), data.end(), kModuleSequence254.begin())))
            module_->erase();
        return status::kOk;
    case XU_FW_CHECKSUM_TRIGGER:
        if (data[0] == 1) {
            busyUntil_ = clock().now() + config_.busy;
            busyEndless_ = faults_.busyForever();
        }
        return status::kOk;
    default:
        // Read-only controls (checksum, identification bytes) stall a write.
        return status::kFail;
    }
}

// --- The download stream -----------------------------------------------------

Status XuFirmware::enterDownload() {
    const bool intoFlash = streamToFlash_;
    if (!intoFlash && !module_)
        return status::kFail; // no module memory to stream into
    endStream();
    download_ = true;
    streamIntoFlash_ = intoFlash;
    sectorEntered_.assign((flash_.size() + kSectorSize - 1) / kSectorSize, false);
    // These families unprotect the flash themselves; the others leave it to the tool.
    if (familyIn(family_, {IcType::j, IcType::k, IcType::m}) && !clearProtection())
        return status::kFail;
    return status::kOk;
}

void XuFirmware::endStream() {
    download_ = false;
    streamEnd_ = 0;
    sectorEntered_.clear();
    heldBack_.reset();
    finished_ = false;
}

Status XuFirmware::streamBlock(std::span<const std::uint8_t> received) {
    std::vector<std::uint8_t> block(received.begin(), received.end());
    if (faults_.corruptsBlock(++blocksReceived_) && !block.empty())
        block[0] = static_cast<std::uint8_t>(~block[0]);

    const std::size_t memorySize = streamIntoFlash_ ? flash_.size() : module_->size();
    if (block.empty())
        return status::kOk;
    if (streamEnd_ >= memorySize)
        return status::kFail; // the memory is full
    const std::size_t start = streamEnd_;
    const std::size_t count = std::min(block.size(), memorySize - start);
    const std::span<const std::uint8_t> bytes(block.data(), count);

    if (!streamIntoFlash_) {
        module_->program(start, bytes);
        streamEnd_ = start + count;
        return status::kOk;
    }
    for (std::size_t sector = start / kSectorSize; sector <= (start + count - 1) / kSectorSize;
         ++sector) {
        if (sectorEntered_[sector])
            continue;
        if (!eraseSector(static_cast<std::uint32_t>(sector * kSectorSize)))
            return status::kFail;
        sectorEntered_[sector] = true;
    }
    // The header byte waits until the download is known good.
    std::span<const std::uint8_t> toProgram = bytes;
    std::uint32_t address = static_cast<std::uint32_t>(start);
    if (start == 0) {
        heldBack_ = bytes[0];
        toProgram = bytes.subspan(1);
        address = 1;
    }
    if (!program(address, toProgram))
        return status::kFail;
    streamEnd_ = start + count;
    return status::kOk;
}

std::uint8_t XuFirmware::streamChecksum() {
    std::vector<std::uint8_t> bytes;
    if (streamIntoFlash_) {
        bytes = read(0, streamEnd_);
        if (!bytes.empty() && heldBack_)
            bytes[0] = *heldBack_;
    } else {
        const auto memory = module_->contents();
        bytes.assign(memory.begin(), memory.begin() + static_cast<std::ptrdiff_t>(streamEnd_));
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : bytes)
        sum ^= byte;
    return sum;
}

Status XuFirmware::finishDownload() {
    if (finished_ || !streamIntoFlash_) {
        finished_ = true;
        return status::kOk;
    }
    finished_ = true;
    if (family_ == IcType::j && heldBack_) {
        const std::uint8_t header[] = {*heldBack_};
        return program(0, header) ? status::kOk : status::kFail;
    }
    if (family_ == IcType::m) {
        const std::uint8_t header[] = {0x89, 0x26};
        return program(0, header) ? status::kOk : status::kFail;
    }
    return status::kOk;
}

// --- Flash operations through the loaded table ---------------------------------

void XuFirmware::send(std::uint8_t op) {
    const std::uint8_t command[] = {op};
    flash_.command(command, 0);
}

std::uint8_t XuFirmware::readStatus() {
    const std::uint8_t command[] = {opcode(flash::slot::kReadStatus)};
    const auto answer = flash_.command(command, 1);
    return answer.empty() ? 0xFF : answer[0];
}

bool XuFirmware::waitReady() {
    const Deadline deadline(readyBound_);
    for (;;) {
        if (!(readStatus() & flash::kStatusWriteInProgress))
            return true;
        if (deadline.expired())
            return false;
        clock().sleepFor(kStatusPoll);
    }
}

bool XuFirmware::eraseSector(std::uint32_t address) {
    address &= ~static_cast<std::uint32_t>(kSectorSize - 1);
    send(opcode(flash::slot::kWriteEnable));
    const std::uint8_t command[] = {
        opcode(flash::slot::kSectorErase), static_cast<std::uint8_t>(address >> 16),
        static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    flash_.command(command, 0);
    return waitReady();
}

bool XuFirmware::program(std::uint32_t address, std::span<const std::uint8_t> data) {
    // One page-program command per 256-byte page touched.
    std::vector<std::uint8_t> command;
    while (!data.empty()) {
        address &= 0xFFFFFF;
        const std::size_t count =
            std::min(data.size(), kProgramPageSize - (address % kProgramPageSize));
        command.assign({opcode(flash::slot::kPageProgram), static_cast<std::uint8_t>(address >> 16),
                        static_cast<std::uint8_t>(address >> 8),
                        static_cast<std::uint8_t>(address)});
        command.insert(command.end(), data.begin(),
                       data.begin() + static_cast<std::ptrdiff_t>(count));
        send(opcode(flash::slot::kWriteEnable));
        flash_.command(command, 0);
        if (!waitReady())
            return false;
        address += static_cast<std::uint32_t>(count);
        data = data.subspan(count);
    }
    return true;
}

std::vector<std::uint8_t> XuFirmware::read(std::uint32_t address, std::size_t count) {
    address &= 0xFFFFFF;
    const std::uint8_t command[] = {
        opcode(flash::slot::kRead), static_cast<std::uint8_t>(address >> 16),
        static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    auto bytes = flash_.command(command, count);
    bytes.resize(count, 0xFF);
    return bytes;
}

bool XuFirmware::clearProtection() {
    const std::uint8_t current = readStatus();
    if (!(current & flash::kStatusBlockProtect))
        return true;
    // Parts of program mode 1 take the status write after 0x50 only.
    send(opcode(table_.programMode == 1 ? flash::slot::kEnableWriteStatus
                                        : flash::slot::kWriteEnable));
    const std::uint8_t command[] = {opcode(flash::slot::kWriteStatus),
                                    static_cast<std::uint8_t>(current & 0xF0)};
    flash_.command(command, 0);
    return waitReady();
}

flash::IdBytes XuFirmware::identify(std::uint8_t command) {
    // 0x9F answers at once; the other identification commands take three
    // address bytes first.
    std::vector<std::uint8_t> out{command};
    if (command != flash::command::kReadJedecId)
        out.insert(out.end(), {0, 0, 0});
    const auto answer = flash_.command(out, 3);
    flash::IdBytes id{0xFF, 0xFF, 0xFF};
    std::copy_n(answer.begin(), std::min<std::size_t>(answer.size(), 3), id.begin());
    return id;
}

} // namespace tessell::sim
