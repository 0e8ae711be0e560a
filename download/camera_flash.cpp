#include "download/camera_flash.h"

#include "common/text_format.h"
#include "common/trace.h"
#include "download/flash_access.h"

#include <array>
#include <cstdio>

namespace tessell {

namespace {

// The camera's flash a word at a time for the image rules, keeping the
// first read that failed: a rule that finds nothing over an unreadable
// flash has not found that the flash holds no image.
class FlashWords {
public:
    explicit FlashWords(CameraLink& link) : link_(link) {}

    image::WordSource source() {
        return [this](std::size_t at) -> std::optional<std::uint16_t> {
            const auto word = readFlashWord(link_, static_cast<std::uint32_t>(at));
            if (word.ok())
                return *word;
            if (unreadable_.ok())
                unreadable_ = word.result();
            return std::nullopt;
        };
    }
    // Why a rule found nothing: the failed read, else `notFound`.
    Result nothingFound(const char* notFound) const {
        return unreadable_.ok() ? Result::refused(notFound) : unreadable_;
    }

private:
    CameraLink& link_;
    Result unreadable_;
};

} // namespace

Outcome<std::uint16_t> readFlashWord(CameraLink& link, std::uint32_t address) {
    CameraDevice* device = link.device();
    if (!device)
        return Result::failure(status::kPointer, "no camera is open");
    if (address + 2 > kFlashWindow)
        return Result::refused(
            formatText("a word at 0x%X would reach past the 64 KiB flash", address));
    std::array<std::uint8_t, 2> bytes{};
    if (const Status read =
            device->ReadBlock64(static_cast<std::uint16_t>(address), bytes.size(), bytes);
        read != status::kOk)
        return Result::failure(read, formatText("flash read at 0x%04X failed", address));
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

Outcome<std::size_t> cameraStringBlockOffset(CameraLink& link, IcType camera) {
    const chip::Family& family = chip::family(camera);
    if (family.strings == chip::StringBlocks::Sector)
        return std::size_t{family.stringSector};
    // The image rule, fed with the flash a word at a time.
    FlashWords words(link);
    if (const auto offset = image::imageStringBlockOffset(words.source(), camera))
        return *offset;
    return words.nothingFound("the camera's flash holds no header with its string blocks");
}

Outcome<std::uint16_t> cameraTypeNumber(CameraLink& link, IcType camera) {
    constexpr const char* kNoTypeNumber = "the camera's flash holds no type number";
    const chip::Family& family = chip::family(camera);
    if (family.typeNumber != chip::TypeNumberPlace::InSector) {
        FlashWords words(link);
        if (const auto number = image::cameraTypeNumber(words.source(), camera))
            return *number;
        return words.nothingFound(kNoTypeNumber);
    }
    // A word inside a sector: the sector is read whole, with the identified
    // flash part, like any other flash range.
    const std::uint32_t sector = family.typeNumberAt & ~0xFFFu;
    FlashCode code = flash::kUnknown;
    link.IdentifyFlash(code);
    std::vector<std::uint8_t> flash(kFlashWindow, 0xFF);
    if (const Result read = read_range(link, flash, code, sector, sector + 0x1000); !read.ok()) {
        trace::writef("Type number: flash 0x%04X..0x%04X could not be read.",
                      static_cast<unsigned>(sector), static_cast<unsigned>(sector + 0xFFF));
        return read;
    }
    if (const auto number = image::cameraTypeNumber(
            [&flash](std::size_t at) -> std::optional<std::uint16_t> {
                return image::bigEndian16(flash, at);
            },
            camera))
        return *number;
    return Result::refused(kNoTypeNumber);
}

CameraIdentityDisplay cameraIdentityDisplay(CameraLink& link, IcType camera, std::uint16_t vid,
                                            std::uint16_t pid, std::uint16_t bcdDevice,
                                            bool showFirmwareVersion) {
    CameraIdentityDisplay display;
    display.vid = vid;
    display.pid = pid;
    display.bcdDevice = bcdDevice;
    display.bcdDeviceText = hex4(bcdDevice);
    display.productIdText = hex4(pid);
    display.vendorIdText = hex4(vid);
    display.log.push_back(
        {"(Camera) Current bcdDevice version = " + display.bcdDeviceText + "\r\n"});
    if (const auto typeNumber = cameraTypeNumber(link, camera); typeNumber.ok())
        display.typeNumberText = image::formatTypeNumber(*typeNumber);
    if (showFirmwareVersion)
        display.log.push_back({"(Camera) Type Number = " + display.typeNumberText + "\r\n"});
    return display;
}

} // namespace tessell
