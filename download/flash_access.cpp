#include "download/flash_access.h"

#include "common/text_format.h"
#include "common/trace.h"
#include "device/xu_protocol.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tessell {

namespace {

constexpr std::size_t kBlock64 = 64;
constexpr std::uint32_t kPageSize = 256;

std::array<std::uint8_t, 4> addressBlock(std::uint32_t address) {
    return {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8), 0, 0};
}

bool usesFirmwareBlocks(IcType type) {
    return chip::family(type).firmwareWritesFlash;
}

// Reads 64 bytes at a time through the firmware's small block control, for
// cameras that give no usable size for the large one.
Result readBy64(CameraDevice& device, std::span<std::uint8_t> buffer, std::uint32_t start,
                std::uint32_t end) {
    for (std::uint32_t address = start; address < end; address += kBlock64) {
        const std::size_t count = std::min<std::size_t>(kBlock64, end - address);
        const Status result = device.ReadBlock64(static_cast<std::uint16_t>(address), count,
                                                 buffer.subspan(address, count));
        if (result != status::kOk) {
            trace::writef("read_range: 64-byte read at 0x%04X failed (0x%08X).", address,
                          status::hexCode(result));
            return Result::failure(result, formatText("flash read at 0x%04X failed", address));
        }
    }
    return {};
}

// Reads blocks of `size` bytes of selector 15. A camera whose block is 4096
// bytes advances its own address, so it is given the address once; any other
// size gets the address before every block.
Result readByBlocks(XuChannel& channel, std::span<std::uint8_t> buffer, std::uint32_t start,
                    std::uint32_t end, std::uint32_t size) {
    std::array<std::uint8_t, kMaxFlashBlock> block{};
    const bool selfAdvancing = size == kMaxFlashBlock;
    for (std::uint32_t address = start; address < end; address += size) {
        if (!selfAdvancing || address == start) {
            const Status placed = channel.put_Property(XU_SF_ADDRESS, addressBlock(address));
            if (placed != status::kOk) {
                trace::writef("read_range: address 0x%04X refused (0x%08X).", address,
                              status::hexCode(placed));
                return Result::failure(placed,
                                       formatText("flash address 0x%04X was refused", address));
            }
        }
        const Status result = channel.get_Property(XU_SF_DATA_4K, std::span(block.data(), size));
        if (result != status::kOk) {
            trace::writef("read_range: block at 0x%04X failed (0x%08X).", address,
                          status::hexCode(result));
            return Result::failure(result, formatText("flash read at 0x%04X failed", address));
        }
        const std::size_t count = std::min<std::size_t>(size, end - address);
        std::copy_n(block.begin(), count, buffer.begin() + address);
    }
    return {};
}

Result noCamera() {
    return Result::failure(status::kPointer, "no camera is open");
}

} // namespace

Status select_flash(CameraLink& link, std::uint8_t codeOrFamily, std::uint32_t& blockSize) {
    XuChannel* channel = link.channel();
    if (!channel)
        return status::kPointer;
    const flash::OpcodeTable& table = flash::opcodeTable(flash::opcodeTableNumber(codeOrFamily));
    // A refused slot is not fatal here: the download's own checks catch a
    // camera that did not take its table.
    for (int slot = 1; slot <= 12; ++slot) {
        const auto index = static_cast<std::uint8_t>(slot);
        const std::uint8_t value = table.slot(slot);
        channel->put_Property(XU_SF_CMD_INDEX, std::span(&index, 1));
        channel->put_Property(XU_SF_CMD_VALUE, std::span(&value, 1));
    }
    channel->put_Property(XU_SF_CMD_FLAGS, std::span(&table.programMode, 1));
    return channel->boundedPropertySize(XU_SF_DATA_4K, kMaxFlashBlock, blockSize);
}

void set_image_flash_type(std::span<std::uint8_t> image, IcType camera, std::uint8_t codeOrFamily) {
    const auto value = flash::imageFlashType(camera, flash::opcodeTableNumber(codeOrFamily));
    if (value && value->offset < image.size())
        image[value->offset] = value->value;
}

Result erase_all(CameraLink& link, std::uint8_t familyIndex) {
    XuChannel* channel = link.channel();
    if (!channel)
        return noCamera();
    std::uint32_t ignored = 0;
    select_flash(link, familyIndex, ignored);
    for (std::uint32_t address = 0; address < kFlashWindow; address += kFlashSectorSize) {
        const Status result = channel->put_Property(XU_SF_SECTOR_ERASE, addressBlock(address));
        if (result != status::kOk) {
            trace::writef("erase_all: sector 0x%04X failed (0x%08X).", address,
                          status::hexCode(result));
            return Result::failure(result, formatText("erase of sector 0x%04X failed", address));
        }
    }
    // A protected flash takes every erase command and keeps its bytes: only
    // reading it back tells an erased flash.
    std::vector<std::uint8_t> flash(kFlashWindow, 0x00);
    if (Result read = read_range(link, flash, familyIndex, 0, kFlashWindow); !read.ok()) {
        trace::write("erase_all: the flash could not be read back.");
        return Result::failure(read.status(), "after the erase, " + read.reason());
    }
    const auto kept = std::find_if(flash.begin(), flash.end(), [](auto b) { return b != 0xFF; });
    if (kept != flash.end()) {
        const auto at = static_cast<std::size_t>(kept - flash.begin());
        trace::writef("erase_all: byte 0x%04zX still reads 0x%02X after the erase.", at, *kept);
        return Result::failure(status::kFail,
                               formatText("flash byte 0x%04zX still reads 0x%02X after the erase",
                                          at, unsigned{*kept}));
    }
    return {};
}

Result read_range(CameraLink& link, std::span<std::uint8_t> buffer, std::uint8_t code,
                  std::uint32_t start, std::uint32_t end) {
    XuChannel* channel = link.channel();
    CameraDevice* device = link.device();
    if (!channel || !device)
        return noCamera();
    if (buffer.empty() || start > end || end > buffer.size() || end > kFlashWindow) {
        trace::writef("read_range: range 0x%X..0x%X refused (buffer of %zu bytes).", start, end,
                      buffer.size());
        return Result::refused(formatText("flash range 0x%X..0x%X does not fit a %zu-byte buffer "
                                          "or the 64 KiB window",
                                          start, end, buffer.size()));
    }
    std::uint32_t size = 0;
    if (select_flash(link, code, size) != status::kOk)
        return readBy64(*device, buffer, start, end);
    if (size != kMaxFlashBlock) {
        // A camera with an unusual block size is asked again before the
        // size is relied on.
        const Status again = channel->boundedPropertySize(XU_SF_DATA_4K, kMaxFlashBlock, size);
        if (again != status::kOk) {
            trace::writef("read_range: block size query failed (0x%08X).", status::hexCode(again));
            return Result::failure(again, "the flash block size could not be read");
        }
    }
    return readByBlocks(*channel, buffer, start, end, size);
}

Result write_bytes(CameraLink& link, std::uint16_t address, std::span<const std::uint8_t> data) {
    CameraDevice* device = link.device();
    XuChannel* channel = link.channel();
    if (!device || !channel)
        return noCamera();
    if (data.size() > kBlock64)
        return Result::refused(formatText("%zu bytes at 0x%04X: at most 64 at a time", data.size(),
                                          unsigned{address}));
    if (usesFirmwareBlocks(channel->icType())) {
        const Status result = device->WriteBlock64(address, data.size(), data);
        if (result != status::kOk)
            trace::writef("write_bytes: block at 0x%04X failed (0x%08X).", address,
                          status::hexCode(result));
        return Result::of(result, formatText("flash write at 0x%04X failed", unsigned{address}));
    }
    // A page program takes at most 33 bytes here and wraps inside its
    // 256-byte page, so longer or page-crossing writes go in pieces.
    std::uint32_t at = address;
    while (!data.empty()) {
        const std::size_t room = kPageSize - at % kPageSize;
        const std::size_t count = std::min({data.size(), room, kSpiProgramMaxData});
        SpiProgramRecord record;
        record.address = {0, static_cast<std::uint8_t>(at >> 8), static_cast<std::uint8_t>(at)};
        std::copy_n(data.begin(), count, record.data.begin());
        record.count = static_cast<std::uint16_t>(count);
        if (const Status programmed = device->SpiPageProgram(record); programmed != status::kOk) {
            trace::writef("write_bytes: page program at 0x%04X failed.", at);
            return Result::failure(programmed, formatText("page program at 0x%04X failed", at));
        }
        at += static_cast<std::uint32_t>(count);
        data = data.subspan(count);
    }
    return {};
}

Result verify(CameraLink& link, std::uint8_t code, std::span<const std::uint8_t> expected) {
    if (expected.empty() || expected.size() > kFlashWindow) {
        trace::writef("verify: %zu bytes cannot be compared.", expected.size());
        return Result::refused(
            formatText("%zu bytes cannot be compared with the flash", expected.size()));
    }
    std::vector<std::uint8_t> flash(expected.size());
    if (Result read = read_range(link, flash, code, 0, static_cast<std::uint32_t>(expected.size()));
        !read.ok())
        return read;
    const auto mismatch = std::mismatch(expected.begin(), expected.end(), flash.begin());
    if (mismatch.first != expected.end()) {
        const auto at = static_cast<std::size_t>(mismatch.first - expected.begin());
        trace::writef("verify: flash differs at 0x%04zX (0x%02X, expected 0x%02X).", at,
                      *mismatch.second, *mismatch.first);
        return Result::failure(status::kFail,
                               formatText("flash differs at 0x%04zX (0x%02X, expected 0x%02X)", at,
                                          unsigned{*mismatch.second}, unsigned{*mismatch.first}));
    }
    return {};
}

void show_flash_name(std::uint8_t code, FlashChoice& choice) {
    if (const flash::PartName* part = flash::findPartName(code)) {
        choice.name = std::string(part->name);
        choice.familyIndex = part->familyIndex;
        choice.listIndex = part->listIndex;
    }
}

} // namespace tessell
