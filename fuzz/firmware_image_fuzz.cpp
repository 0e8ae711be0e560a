// The firmware image loader and classifier: any bytes as an image file.

#include "download/firmware_image.h"
#include "fuzz_input.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tessell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    (void)image::fitsItsLayout(bytes);
    (void)image::readIdentity(bytes);
    for (const IcType camera : {IcType::h, IcType::i, IcType::j, IcType::k, IcType::l, IcType::m}) {
        (void)image::serialNumberIndex(bytes, camera);
        (void)image::imageStringBlockOffset(bytes, camera);
        if (const auto offset = image::cameraStringBlockOffset(bytes, camera)) {
            (void)image::decodeStringBlock(bytes, *offset);
            (void)image::decodeStringBlock(bytes, *offset + image::kSerialBlockDistance);
        }
    }

    // Through a file, as the tool loads it.
    static const std::filesystem::path file =
        fuzz::scratchFolder() / ("tessell-fuzz-image-" + std::to_string(::getpid()));
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    FirmwareImage loaded;
    std::vector<FirmwareImage::LogLine> log;
    if (loaded.load(file,
                    {size > 0 ? std::optional<IcType>(
                                    static_cast<IcType>(static_cast<int>(IcType::h) + data[0] % 6))
                              : std::nullopt,
                     true},
                    log)) {
        (void)loaded.checksum(4096);
        (void)loaded.versionText();
        (void)loaded.typeNumber();
        // A second, shorter load keeps the old bytes beyond its length but
        // must not read them as its own.
        (void)loaded.assign(bytes.first(size / 2));
        (void)image::fitsItsLayout(loaded.content());
    }
    return 0;
}
