#include "download/rework.h"

#include "common/path_text.h"
#include "common/trace.h"
#include "download/camera_flash.h"
#include "download/flash_access.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace tessell {

namespace {

// A string block is at most 68 bytes stored (L <= 66).
constexpr std::size_t kMaxStoredBlock = image::kMaxStringBlockLength + 2;

std::optional<std::vector<std::uint8_t>> readWorkFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<std::uint8_t> block(kMaxStoredBlock + 1);
    in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    block.resize(static_cast<std::size_t>(in.gcount()));
    // Only a whole, valid block is taken: its size must be what its length byte says.
    if (block.size() < 4 || block.size() > kMaxStoredBlock || block[1] + 2u != block.size()) {
        trace::writef("Rework: work file %s holds no valid string block.", pathText(path).c_str());
        return std::nullopt;
    }
    return block;
}

void writeWorkFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        trace::writef("Rework: work file %s could not be written.", pathText(path).c_str());
}

// Reads flash [start, start + 0x1000) into `flash`, clipped to the 16-bit window.
Result readSector(CameraLink& link, std::span<std::uint8_t> flash, std::uint8_t flashType,
                  std::size_t start) {
    const std::size_t end = std::min<std::size_t>(start + 0x1000, kFlashWindow);
    if (start >= end)
        return Result::refused("a sector beyond the 64 KiB flash");
    return read_range(link, flash, flashType, static_cast<std::uint32_t>(start),
                      static_cast<std::uint32_t>(end));
}

// The camera's block at `offset`: its L + 2 bytes when valid, empty when
// there is no valid block (also one that does not lie wholly inside the
// flash window); the read's failure when the flash could not be read.
Outcome<std::vector<std::uint8_t>> readCameraBlock(CameraLink& link,
                                                   std::vector<std::uint8_t>& flash,
                                                   std::uint8_t flashType,
                                                   std::optional<std::size_t> offset) {
    if (!offset || *offset + 2 > kFlashWindow)
        return std::vector<std::uint8_t>{};
    if (Result read = readSector(link, flash, flashType, *offset); !read.ok())
        return read;
    const auto stored = image::stringBlock(flash, *offset);
    if (!stored)
        return std::vector<std::uint8_t>{};
    return std::vector<std::uint8_t>(stored->begin(), stored->end());
}

// The block to keep: the camera's when valid (saved to the work file), else
// the work file's, else the built-in default.
std::vector<std::uint8_t> chooseBlock(std::vector<std::uint8_t> camera,
                                      const std::filesystem::path& workFile,
                                      std::span<const std::uint8_t> fallback) {
    if (!camera.empty()) {
        writeWorkFile(workFile, camera);
        return camera;
    }
    if (auto saved = readWorkFile(workFile))
        return std::move(*saved);
    return {fallback.begin(), fallback.end()};
}

// The rework's 64 KiB work buffer: cleared, the image copied in, the block
// copied to `target`, and length + n bytes taken back. False when the block
// would not be among the bytes taken back (it would silently not be sent) or
// the buffer is too small.
bool placeBlock(std::vector<std::uint8_t>& work, std::size_t& length, std::size_t target,
                std::span<const std::uint8_t> block) {
    const std::size_t newLength = length + block.size();
    if (target > length || newLength > work.size())
        return false;
    std::copy(block.begin(), block.end(), work.begin() + static_cast<std::ptrdiff_t>(target));
    length = newLength;
    return true;
}

} // namespace

const std::array<std::uint8_t, 32> kDefaultFirstBlock = {
    0x00, 0x1E, 0x1E, 0x03, 'H', 0, 'a', 0, 'l', 0, 'v', 0, 'a', 0, 'n',  0,
    'e',  0,    'I',  0,    'T', 0, ' ', 0, 'I', 0, 'N', 0, 'C', 0, 0x2E, 0x88};
const std::array<std::uint8_t, 6> kDefaultSerialBlock = {0x00, 0x04, 0x04, 0x03, 0x07, 0x00};

ReworkFiles reworkFiles(IcType camera, const std::filesystem::path& folder,
                        const platform::UsbAddress& address) {
    std::string prefix(chip::family(camera).reworkPrefix);
    if (address.known()) {
        // Hub ids may hold characters a file name must not (Windows instance
        // ids carry backslashes).
        std::string hub = address.hub;
        for (char& c : hub)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.')
                c = '_';
        prefix += hub + "_" + std::to_string(address.port) + "_";
    }
    return {folder / (prefix + "HVSN.bin"), folder / (prefix + "HVSN-2.bin")};
}

Outcome<std::size_t> keep_camera_strings(FirmwareImage& image, CameraLink& link,
                                         std::uint8_t flashType, const ReworkFiles& files,
                                         SerialNumberOutput& output) {
    auto stop = [&output](const char* reason) {
        trace::writef("Rework: %s.", reason);
        output.appendLog(std::string("\r\nRework stop: ") + reason + ".\r\n");
    };
    auto refuse = [&stop](const char* reason) {
        stop(reason);
        return Result::refused(reason);
    };
    // A flash that could not be read keeps the status of the read.
    auto unreadable = [&stop](const char* reason, const Result& read) {
        stop(reason);
        return Result::failure(read.status(), std::string(reason) + ": " + read.reason());
    };
    if (!image.loaded())
        return refuse("no image is loaded");
    const IcType camera = link.GetIcType();
    auto bytes = image.buffer();
    std::vector<std::uint8_t> flash(kFlashWindow, 0xFF);

    const chip::Family& family = chip::family(camera);
    if (family.strings == chip::StringBlocks::Sector && image::hasOlderStringHeader(bytes)) {
        // These chips keep their strings in a sector of their own: it goes
        // into the image whole.
        const std::size_t stringSector = family.stringSector;
        if (const Result read = readSector(link, flash, flashType, stringSector); !read.ok())
            return unreadable("the camera's string sector could not be read", read);
        const std::size_t saved = std::size_t{flash[stringSector + 1]} + 5;
        if (saved <= 0x47)
            writeWorkFile(files.firstBlock,
                          std::span<const std::uint8_t>(flash).subspan(stringSector, saved));
        std::copy_n(flash.begin() + stringSector, 0x1000,
                    bytes.begin() + static_cast<std::ptrdiff_t>(stringSector));
        return image.length();
    }

    std::size_t length = image.length();
    if (length > kReworkLimit)
        return refuse("the image is larger than 64 KiB");
    // F9 FF images carry the same header with the places of their strings as
    // the 89 xx ones.
    if (!image::keepsStringPlaces(bytes))
        return refuse("the image has no header with the places of its strings");
    if (const Result read = readSector(link, flash, flashType, 0); !read.ok())
        return unreadable("the camera's flash could not be read", read);
    const image::StringPlaces places = image::reworkStringPlaces(bytes, flash);

    // Where the camera keeps its strings; a camera whose flash cannot tell
    // has lost them, and the saved or default blocks stand in.
    std::optional<std::size_t> cameraStrings;
    if (const auto found = cameraStringBlockOffset(link, camera); found.ok())
        cameraStrings = *found;
    else
        trace::writef("Rework: %s; the saved or default blocks stand in.", found.reason().c_str());
    Outcome<std::vector<std::uint8_t>> cameraBlock = std::vector<std::uint8_t>{};
    if (image::hasPointerTableKind1x(bytes))
        cameraBlock = readCameraBlock(link, flash, flashType, cameraStrings);
    if (!cameraBlock.ok())
        return unreadable("the camera's string block could not be read", cameraBlock.result());
    const auto first = chooseBlock(std::move(*cameraBlock), files.firstBlock, kDefaultFirstBlock);

    std::vector<std::uint8_t> work(kReworkLimit, 0x00);
    std::copy_n(bytes.begin(), length, work.begin());
    if (!placeBlock(work, length, places.firstBlock, first))
        return refuse("the string block does not fit the image");

    const std::uint8_t index = image::serialNumberIndex(bytes, camera).value_or(0);
    if (index != 0 && index != 0xFF) {
        std::optional<std::size_t> serialOffset;
        if (cameraStrings)
            serialOffset = *cameraStrings + image::kSerialBlockDistance;
        auto cameraSerial = readCameraBlock(link, flash, flashType, serialOffset);
        if (!cameraSerial.ok())
            return unreadable("the camera's serial-number block could not be read",
                              cameraSerial.result());
        const auto serial =
            chooseBlock(std::move(*cameraSerial), files.serialBlock, kDefaultSerialBlock);
        if (!placeBlock(work, length, places.serialBlock, serial))
            return refuse("the serial-number block does not fit the image");
    }

    std::copy_n(work.begin(), length, bytes.begin());
    image.setLength(length);
    return length;
}

} // namespace tessell
