#include "platform/sim/flash_part.h"

#include "common/path_text.h"

#include <algorithm>
#include <cstdio>

namespace tessell::sim {

namespace {

constexpr std::size_t kAddressBytes = 3;

std::string hexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

} // namespace

std::optional<flash::IdBytes> FlashPart::identificationAnswer(FlashCode code,
                                                              std::uint8_t command) {
    using namespace flash::command;
    if (command != kReadManufacturerId && command != kReleasePowerDownId && command != kReadJedecId)
        return std::nullopt;
    for (const auto& row : flash::manufacturerIdTable()) {
        if (row.code != code)
            continue;
        const auto manufacturer = row.bytes[0];
        const auto device = row.bytes[1];
        switch (command) {
        case kReadManufacturerId:
            return row.bytes;
        case kReleasePowerDownId:
            return flash::IdBytes{device, device, device};
        default:
            return flash::IdBytes{manufacturer, 0x20, device};
        }
    }
    for (const auto& row : flash::secondReadTable()) {
        if (row.code == code)
            return row.command == command ? row.bytes : flash::IdBytes{0xFF, 0xFF, 0xFF};
    }
    return std::nullopt;
}

std::unique_ptr<FlashPart> FlashPart::open(const FlashPartConfig& config, std::string& error) {
    if (!identificationAnswer(config.code, flash::command::kReadManufacturerId)) {
        error = "flash part " + hexByte(config.code) + " is not a part of the identification table";
        return nullptr;
    }
    const std::size_t size = config.size ? config.size : flash::defaultPartSize(config.code);
    if (size % kSectorSize != 0 || size > kMaxSize) {
        error = "flash size " + std::to_string(size) +
                " is not a whole number of 4 KiB sectors up to 16 MiB";
        return nullptr;
    }

    std::vector<std::uint8_t> contents(size, 0xFF);
    std::fstream file;
    if (!config.file.empty()) {
        const std::string shown = pathText(config.file);
        std::error_code status;
        const bool exists = std::filesystem::exists(config.file, status);
        if (status) {
            error = "cannot look at flash file \"" + shown + "\": " + status.message();
            return nullptr;
        }
        if (exists) {
            if (!std::filesystem::is_regular_file(config.file, status)) {
                error = "flash file \"" + shown + "\" is not a regular file";
                return nullptr;
            }
            const auto fileSize = std::filesystem::file_size(config.file, status);
            if (status) {
                error = "cannot look at flash file \"" + shown + "\": " + status.message();
                return nullptr;
            }
            if (fileSize != size) {
                error = "flash file \"" + shown + "\" holds " + std::to_string(fileSize) +
                        " bytes but the part holds " + std::to_string(size);
                return nullptr;
            }
        } else {
            std::ofstream created(config.file, std::ios::binary | std::ios::trunc);
            created.write(reinterpret_cast<const char*>(contents.data()),
                          static_cast<std::streamsize>(size));
            created.close();
            if (!created) {
                error = "cannot create flash file \"" + shown + "\"";
                return nullptr;
            }
        }
        file.open(config.file, std::ios::binary | std::ios::in | std::ios::out);
        if (!file) {
            error = "cannot open flash file \"" + shown + "\" for reading and writing";
            return nullptr;
        }
        file.read(reinterpret_cast<char*>(contents.data()), static_cast<std::streamsize>(size));
        if (static_cast<std::size_t>(file.gcount()) != size) {
            error = "cannot read flash file \"" + shown + "\"";
            return nullptr;
        }
    }
    return std::unique_ptr<FlashPart>(new FlashPart(config.code, std::move(contents),
                                                    std::move(file), config.file,
                                                    config.protectedAtStart, config.timing));
}

FlashPart::FlashPart(FlashCode code, std::vector<std::uint8_t> contents, std::fstream file,
                     std::filesystem::path path, bool protect, FlashTiming timing)
    : code_(code), opcodes_(flash::opcodeTable(flash::opcodeTableNumber(code))),
      contents_(std::move(contents)), file_(std::move(file)), path_(std::move(path)),
      timing_(timing), status_(protect ? flash::kStatusBlockProtect : 0) {}

FlashPart::~FlashPart() = default;

bool FlashPart::writeInProgress() const {
    return busyUntil_ && tessell::clock().now() < *busyUntil_;
}

std::uint8_t FlashPart::statusRegister() const {
    return static_cast<std::uint8_t>(status_ |
                                     (writeInProgress() ? flash::kStatusWriteInProgress : 0));
}

FlashPart::Operation FlashPart::operationOf(std::uint8_t opcode) const {
    using namespace flash::command;
    if (opcode == kReadManufacturerId || opcode == kReleasePowerDownId || opcode == kReadJedecId)
        return Operation::Identify;
    // Only the opcodes of the part's own table exist; a slot of 0xFF is an
    // instruction the part does not have.
    if (opcode == flash::kNoOpcode)
        return Operation::None;
    static constexpr Operation kBySlot[12] = {
        Operation::Read,
        Operation::FastRead,
        Operation::ReadStatus,
        Operation::WriteEnable,
        Operation::WriteDisable,
        Operation::SectorErase,
        Operation::BlockErase,
        Operation::ChipErase,
        Operation::PageProgram,
        Operation::AutoIncrementProgram,
        Operation::EnableWriteStatus,
        Operation::WriteStatus,
    };
    for (std::size_t i = 0; i < opcodes_.slots.size(); ++i)
        if (opcodes_.slots[i] == opcode)
            return kBySlot[i];
    return Operation::None;
}

void FlashPart::select() {
    if (selected_)
        return;
    selected_ = true;
    ignored_ = false;
    operation_ = Operation::None;
    position_ = 0;
    header_.fill(0);
    pageLatch_.fill(0xFF);
    pageTouched_.fill(false);
}

std::size_t FlashPart::commandAddress() const {
    const std::size_t address =
        std::size_t{header_[1]} << 16 | std::size_t{header_[2]} << 8 | header_[3];
    // Address bits above the array are not decoded: the array repeats.
    return address % contents_.size();
}

std::uint8_t FlashPart::exchange(std::uint8_t out) {
    if (!selected_)
        return 0xFF;
    const std::size_t position = position_;
    if (position_ < SIZE_MAX)
        ++position_;
    if (position < header_.size())
        header_[position] = out;

    if (position == 0) {
        operation_ = operationOf(out);
        // A part in a write cycle, or in auto-increment programming, listens
        // only to the commands that belong to that state.
        const bool busy = writeInProgress();
        const bool allowedWhileBusy = operation_ == Operation::ReadStatus;
        const bool allowedInAutoIncrement = operation_ == Operation::ReadStatus ||
                                            operation_ == Operation::WriteDisable ||
                                            operation_ == Operation::AutoIncrementProgram;
        ignored_ = operation_ == Operation::None || (busy && !allowedWhileBusy) ||
                   (autoIncrementActive_ && !allowedInAutoIncrement);
        return 0xFF;
    }
    if (ignored_)
        return 0xFF;
    if (operation_ == Operation::PageProgram && position > kAddressBytes) {
        const std::size_t index = (commandAddress() + position - kAddressBytes - 1) % kPageSize;
        pageLatch_[index] = out;
        pageTouched_[index] = true;
        return 0xFF;
    }
    return answer(position);
}

std::uint8_t FlashPart::answer(std::size_t position) const {
    switch (operation_) {
    case Operation::ReadStatus:
        return statusRegister();
    case Operation::Read:
        if (position <= kAddressBytes)
            return 0xFF;
        return contents_[(commandAddress() + position - kAddressBytes - 1) % contents_.size()];
    case Operation::FastRead:
        // One dummy byte after the address.
        if (position <= kAddressBytes + 1)
            return 0xFF;
        return contents_[(commandAddress() + position - kAddressBytes - 2) % contents_.size()];
    case Operation::Identify: {
        const auto bytes = identificationAnswer(code_, header_[0]);
        // 0x90 and 0xAB take three address bytes before the answer; 0x9F answers at once.
        const std::size_t first =
            header_[0] == flash::command::kReadJedecId ? 1 : kAddressBytes + 1;
        if (!bytes || position < first)
            return 0xFF;
        return (*bytes)[(position - first) % bytes->size()];
    }
    default:
        return 0xFF;
    }
}

void FlashPart::deselect() {
    if (!selected_)
        return;
    selected_ = false;
    if (!ignored_)
        execute();
}

bool FlashPart::mayModify() const {
    return (status_ & flash::kStatusWriteEnableLatch) != 0 &&
           (status_ & flash::kStatusBlockProtect) == 0;
}

void FlashPart::execute() {
    const auto clearLatch = [this] {
        status_ &= static_cast<std::uint8_t>(~flash::kStatusWriteEnableLatch);
    };
    switch (operation_) {
    case Operation::WriteEnable:
        status_ |= flash::kStatusWriteEnableLatch;
        break;
    case Operation::WriteDisable:
        clearLatch();
        writeStatusEnabled_ = false;
        autoIncrementActive_ = false;
        break;
    case Operation::EnableWriteStatus:
        writeStatusEnabled_ = opcodes_.programMode == 1;
        break;
    case Operation::WriteStatus: {
        const bool latched = (status_ & flash::kStatusWriteEnableLatch) != 0 || writeStatusEnabled_;
        if (position_ < 2 || !latched)
            break;
        // Only the block-protect bits are writable; busy and latch are the part's own.
        status_ = static_cast<std::uint8_t>((status_ & ~flash::kStatusBlockProtect) |
                                            (header_[1] & flash::kStatusBlockProtect));
        clearLatch();
        writeStatusEnabled_ = false;
        break;
    }
    case Operation::PageProgram:
        if (position_ > kAddressBytes + 1 && mayModify()) {
            programPage();
            clearLatch();
        }
        break;
    case Operation::AutoIncrementProgram:
        programAutoIncrement();
        break;
    case Operation::SectorErase:
        if (position_ > kAddressBytes && mayModify()) {
            erase(commandAddress() / kSectorSize * kSectorSize, kSectorSize, timing_.sectorErase);
            clearLatch();
        }
        break;
    case Operation::BlockErase:
        if (position_ > kAddressBytes && mayModify()) {
            const std::size_t start = commandAddress() / kBlockSize * kBlockSize;
            const std::size_t count = std::min(kBlockSize, contents_.size() - start);
            erase(start, count, timing_.sectorErase * static_cast<long>(count / kSectorSize));
            clearLatch();
        }
        break;
    case Operation::ChipErase:
        if (mayModify()) {
            erase(0, contents_.size(),
                  timing_.sectorErase * static_cast<long>(contents_.size() / kSectorSize));
            clearLatch();
        }
        break;
    default: // reads and identification answered while selected
        break;
    }
}

void FlashPart::programPage() {
    const std::size_t page = commandAddress() / kPageSize * kPageSize;
    std::size_t first = kPageSize, last = 0;
    for (std::size_t i = 0; i < kPageSize; ++i) {
        if (!pageTouched_[i])
            continue;
        // Programming can only clear bits.
        contents_[page + i] &= pageLatch_[i];
        first = std::min(first, i);
        last = i;
    }
    if (first <= last)
        persist(page + first, last - first + 1);
    startBusy(timing_.pageProgram);
}

// The SST part programs byte after byte: the first 0xAF carries the address
// and a byte, each following 0xAF one more byte, until write disable. The
// latch stays set for the whole sequence, as on that part.
void FlashPart::programAutoIncrement() {
    std::size_t address = 0;
    std::uint8_t data = 0;
    if (!autoIncrementActive_) {
        if (position_ <= kAddressBytes + 1 || !mayModify())
            return;
        address = commandAddress();
        data = header_[kAddressBytes + 1];
    } else {
        if (position_ < 2 || !mayModify())
            return;
        address = autoIncrementAddress_;
        data = header_[1];
    }
    contents_[address] &= data;
    persist(address, 1);
    startBusy(timing_.pageProgram);
    autoIncrementAddress_ = address + 1;
    // The sequence ends by itself at the top of the array.
    autoIncrementActive_ = autoIncrementAddress_ < contents_.size();
    if (!autoIncrementActive_)
        status_ &= static_cast<std::uint8_t>(~flash::kStatusWriteEnableLatch);
}

void FlashPart::erase(std::size_t start, std::size_t count, Clock::Duration busyTime) {
    std::fill_n(contents_.begin() + static_cast<std::ptrdiff_t>(start), count, 0xFF);
    persist(start, count);
    startBusy(busyTime);
}

void FlashPart::startBusy(Clock::Duration busyTime) {
    if (busyTime > Clock::Duration::zero())
        busyUntil_ = tessell::clock().now() + busyTime;
}

void FlashPart::persist(std::size_t offset, std::size_t count) {
    if (!file_.is_open())
        return;
    file_.clear();
    file_.seekp(static_cast<std::streamoff>(offset));
    file_.write(reinterpret_cast<const char*>(contents_.data() + offset),
                static_cast<std::streamsize>(count));
    // Flushed at once: the change must survive the process being killed.
    file_.flush();
    if (!file_ && fileError_.empty())
        fileError_ = "cannot write flash file \"" + pathText(path_) + "\" at offset " +
                     std::to_string(offset);
}

std::vector<std::uint8_t> FlashPart::command(std::span<const std::uint8_t> out,
                                             std::size_t readCount) {
    select();
    for (const auto byte : out)
        exchange(byte);
    std::vector<std::uint8_t> in;
    in.reserve(readCount);
    for (std::size_t i = 0; i < readCount; ++i)
        in.push_back(exchange(0xFF));
    deselect();
    return in;
}

} // namespace tessell::sim
