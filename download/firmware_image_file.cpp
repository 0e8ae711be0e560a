#include "common/path_text.h"
#include "common/text_format.h"
#include "download/firmware_image.h"
#include "platform/file_read.h"

#include <charconv>
#include <iterator>

// Loading an image file. Apart from the parsing, which the simulated camera
// runs on its flash too: only the tool reads files.

namespace tessell {

namespace {

// length / 1024 with one decimal, independent of the process locale.
std::string kilobytes(std::size_t length) {
    char text[32];
    const auto result =
        std::to_chars(std::begin(text), std::end(text), static_cast<double>(length) / 1024.0,
                      std::chars_format::fixed, 1);
    return std::string(text, result.ptr);
}

} // namespace

bool FirmwareImage::load(const std::filesystem::path& path, const LoadContext& context,
                         std::vector<LogLine>& log) {
    const std::string shownPath = pathText(path);
    const platform::FileRead file = platform::readRegularFile(path, image::kBufferSize);
    if (!file.ok()) {
        const std::string why =
            file.tooLarge
                ? formatText("larger than %u KiB", static_cast<unsigned>(image::kBufferSize / 1024))
                : file.problem;
        log.push_back({formatText("Cannot load \"%s\": %s\r\n", shownPath.c_str(), why.c_str())});
        return false;
    }
    adopt(file.bytes, context.camera);

    log.push_back(
        {formatText("Open File \"%s\"\r\n%d bytes (%s KB) has been read\r\n", shownPath.c_str(),
                    static_cast<int>(length_), kilobytes(length_).c_str())});
    if (headerVariant18_)
        log.push_back({"*", false});
    if (!context.camera || chip::family(*context.camera).showsImageVersion) {
        log.push_back({formatText("(File) New bcdDevice version = %04x \r\n",
                                  static_cast<unsigned>(identity_.bcdDevice))});
        if (context.showFirmwareVersion)
            log.push_back({formatText("(File) Type Number = %s \r\n", typeNumber().c_str())});
    }
    return true;
}

} // namespace tessell
