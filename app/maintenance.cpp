#include "app/maintenance.h"

#include "download/flash_access.h"

#include <fstream>
#include <vector>

namespace tessell {

namespace {

constexpr std::uint16_t kLedRegisterA = 0x2041;
constexpr std::uint16_t kLedRegisterB = 0x2043;
constexpr std::uint8_t kLedOn = 0xFF;
constexpr std::uint8_t kLedOff = 0xFD;

} // namespace

Result dumpFlashToFile(CameraLink& link, std::uint8_t familyIndex, const std::string& path) {
    std::vector<std::uint8_t> buffer(kDumpSize, 0xFF);
    const FlashRangeReader reader = [&link](std::span<std::uint8_t> out, FlashCode code,
                                            std::uint32_t start, std::uint32_t end) {
        return read_range(link, out, code, start, end);
    };
    if (const Result read = link.DumpFlash(buffer, familyIndex, reader); !read.ok())
        return Result::failure(read.status(), "the flash could not be read: " + read.reason());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(buffer.data()),
               static_cast<std::streamsize>(buffer.size()));
    file.close();
    if (!file)
        return Result::failure(status::kFail, "the file could not be written");
    return {};
}

Result eraseFlashAndReset(CameraLink& link, std::uint8_t familyIndex) {
    Result erased = erase_all(link, familyIndex);
    if (CameraDevice* device = link.device())
        device->ResetChip();
    return erased;
}

Result switchLed(CameraLink& link, bool on) {
    const std::uint8_t value = on ? kLedOn : kLedOff;
    // Both registers are written even when the first refuses, as the LED
    // buttons always did.
    const Status first = link.WriteRegister(kLedRegisterA, value);
    const Status second = link.WriteRegister(kLedRegisterB, value);
    if (first != status::kOk)
        return Result::failure(first, "LED register 0x2041 could not be written");
    return Result::of(second, "LED register 0x2043 could not be written");
}

} // namespace tessell
