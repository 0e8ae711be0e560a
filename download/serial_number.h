#pragma once

// Serial numbers and rework strings.
//
// With serial-number burning on, every download writes the next serial
// number of the serial-number file into a USB string descriptor of the image
// (inject_serial), and a passed download advances the file (advance_serial).
// The file's first line is a pattern whose run of '*' marks the counter
// characters, its second line the current serial number:
//
//     AB12****
//     AB12003F
//
// A rework keeps the strings a camera already carries: keep_camera_strings
// reads the camera's string blocks from its flash, keeps a copy in the
// temporary folder for cameras that have lost theirs, and places them into
// the image.
//
// The serial-number file, the work files and every byte read from a camera
// are untrusted: anything malformed is refused with a line in the dialog log
// rather than written into an image.

#include "device/camera_link.h"
#include "device/ic_type.h"
#include "download/firmware_image.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

// Where the dialog-log lines and message boxes of this code go. Each text
// carries its own line ends.
class SerialNumberOutput {
public:
    virtual ~SerialNumberOutput() = default;
    virtual void appendLog(std::string_view text) = 0;
    virtual void showMessage(std::string_view text) = 0;
};

// Keeps them for whoever shows them later (and for tests).
class CollectedSerialNumberOutput final : public SerialNumberOutput {
public:
    void appendLog(std::string_view text) override { log += text; }
    void showMessage(std::string_view text) override { messages.emplace_back(text); }

    std::string log;
    std::vector<std::string> messages;
};

// The pattern (line 1), the serial number (line 2) and its counter
// characters, as inject_serial read them.
struct SerialNumberText {
    std::string pattern;
    std::string serial;
    std::string counter;
};

// Longest pattern a serial number may have.
constexpr std::size_t kMaxSerialPatternLength = 30;
// More counter characters than this are not checked for hexadecimal digits.
constexpr std::size_t kCheckedCounterLength = 20;

// The serial-number file: `fileName` (the `SNFile` setting) inside programFolder().
std::filesystem::path serialNumberFilePath(const std::string& fileName);

// Writes the file's current serial number into the image's serial-number
// string descriptor for the camera's family and returns the new image length
// (which the image also takes), or 0 when the file or the image is refused;
// every refusal leaves a line in `output`'s log and the image unchanged.
// `writeToISerial` is the `SNAddr` setting: 1 places the number, after a
// 0x0007 character, in the block the device descriptor's iSerialNumber names.
std::size_t inject_serial(FirmwareImage& image, CameraLink& link, SerialNumberText& text,
                          const std::string& fileName, int writeToISerial,
                          SerialNumberOutput& output);

// The serial number after `serial`: the counter characters (at the '*'
// positions of `pattern`) count up in hexadecimal, 9 going to A and F
// carrying into the character before it. None when the two texts do not
// fit together (different lengths, no '*').
std::optional<std::string> nextSerial(std::string_view pattern, std::string_view serial);

// Rewrites the serial-number file with the pattern and the serial number
// after `text.serial` (run after a passed download). The file is replaced
// as a whole, so an interrupted write leaves the previous number in place.
bool advance_serial(const std::string& fileName, const SerialNumberText& text,
                    SerialNumberOutput& output);

// --- rework ----------------------------------------------------------------------

// The work files of a camera family: the prefix of the family ("7310_" for
// 'h', "7318_" for 'i', "7312_" for 'j', "7315_" for 'k', "7610_" for 'm',
// none otherwise) followed by "HVSN.bin" and "HVSN-2.bin", in temporaryFolder().
struct ReworkFiles {
    std::filesystem::path firstBlock;
    std::filesystem::path serialBlock;
};
ReworkFiles reworkFiles(IcType camera);

// Used when neither the camera nor a work file has a valid block.
extern const std::array<std::uint8_t, 32> kDefaultFirstBlock;
extern const std::array<std::uint8_t, 6> kDefaultSerialBlock;

// The rework works in a 64 KiB buffer: larger images are refused.
constexpr std::size_t kReworkLimit = 0x10000;

// Places the camera's own string blocks (read from its flash with
// `flashType`, a flash code or family index) into the image and returns the
// new image length, which the image also takes; 0 when the rework is refused
// (a flash read failed, an image too large or without the pointer table the
// block places come from, a block place outside the image), with a line in
// `output`'s log. The caller restores the image after the download.
std::size_t keep_camera_strings(FirmwareImage& image, CameraLink& link, std::uint8_t flashType,
                                SerialNumberOutput& output);

} // namespace tessell
