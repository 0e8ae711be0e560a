#include "download/serial_number.h"

#include "common/text_format.h"
#include "common/trace.h"
#include "download/camera_flash.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace tessell {

namespace {

// Serial-number files hold short lines: a token over 128 bytes is no serial number.
constexpr std::size_t kTokenLimit = 128;
// How much of a serial-number file is looked at before it is taken as garbage.
constexpr std::size_t kScanLimit = 0x10000;
// The serial-number descriptor that names a string index starts with this character.
constexpr std::uint8_t kISerialMarker = 0x07;
// How far past the file's number a confirmed number is looked for, beyond
// the numbers reserved now.
constexpr std::size_t kConfirmLookahead = 64;

struct Token {
    std::string text;
    bool tooLong = false;
};

// The next white-space separated token, as a C stream reads "%s". A token
// longer than the line buffer, or a file that goes on beyond the scan limit,
// is marked too long.
Token readToken(std::istream& in, std::size_t& scanned) {
    Token token;
    auto next = [&]() -> int {
        if (scanned >= kScanLimit) {
            token.tooLong = true;
            return EOF;
        }
        ++scanned;
        return in.get();
    };
    int c = next();
    while (c != EOF && std::isspace(c))
        c = next();
    while (c != EOF && !std::isspace(c)) {
        if (token.text.size() < kTokenLimit)
            token.text += static_cast<char>(c);
        else
            token.tooLong = true;
        c = next();
    }
    return token;
}

bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool isCounterCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || c == ' ';
}

std::vector<std::size_t> starPositions(std::string_view pattern) {
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == '*')
            positions.push_back(i);
    return positions;
}

bool contiguous(const std::vector<std::size_t>& positions) {
    return positions.empty() || positions.back() - positions.front() + 1 == positions.size();
}

std::string counterOf(std::string_view serial, const std::vector<std::size_t>& positions) {
    std::string counter;
    for (const std::size_t at : positions)
        counter += serial[at];
    return counter;
}

void putCharacters(std::span<std::uint8_t> block, std::size_t from, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        block[from + 2 * i] = static_cast<std::uint8_t>(text[i]);
        block[from + 2 * i + 1] = 0x00;
    }
}

// The checks of a counter before its number is burned; false with the
// refusal in `output`'s log.
bool counterUsable(std::string_view counter, const std::string& fileName,
                   SerialNumberOutput& output) {
    if (std::all_of(counter.begin(), counter.end(), [](char c) { return c == '9'; })) {
        output.appendLog("\r\nReach max number(9999...) in " + fileName + ", stop burning! \r\n");
        return false;
    }
    if (counter.size() <= kCheckedCounterLength &&
        !std::all_of(counter.begin(), counter.end(), isCounterCharacter)) {
        output.appendLog("\r\nThe  chars must be 0~f in " + fileName + " \r\n");
        return false;
    }
    return true;
}

// Writes the two lines into the temporary file beside the serial-number
// file; false (and no temporary file left) when they cannot be written in full.
bool writeTemporarySerialFile(const std::filesystem::path& temporary, std::string_view pattern,
                              std::string_view serial) {
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) {
            out << pattern << "\r\n" << serial << "\r\n";
            out.close();
            if (out)
                return true;
        }
    }
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return false;
}

enum class Staged { Replace, Discard };

// Writes the file through a temporary file next to it, renamed over it, so
// that a power cut leaves the old or the new number, never half of one.
// With Discard only the temporary file is written, then removed: whether the
// file could be replaced now. That is checked before a number is burned,
// since a pass whose number cannot be recorded would hand that number to the
// next camera.
bool stageSerialFile(const std::filesystem::path& path, std::string_view pattern,
                     std::string_view serial, Staged staged) {
    auto temporary = path;
    temporary += ".new";
    if (!writeTemporarySerialFile(temporary, pattern, serial))
        return false;
    std::error_code error;
    if (staged == Staged::Replace)
        std::filesystem::rename(temporary, path, error);
    if (error || staged == Staged::Discard) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
    return !error;
}

} // namespace

std::optional<SerialNumberText> read_serial_file(const std::filesystem::path& path,
                                                 const std::string& fileName,
                                                 SerialNumberOutput& output) {
    SerialNumberText text;
    std::error_code error;
    // A folder or a device is no serial-number file (and a FIFO would block).
    std::ifstream file;
    if (std::filesystem::is_regular_file(path, error))
        file.open(path, std::ios::binary);
    if (!file.is_open()) {
        output.appendLog("\r\nopen " + fileName + " fail\r\n");
        return std::nullopt;
    }
    std::size_t scanned = 0;
    const Token line1 = readToken(file, scanned);
    text.pattern = line1.text;
    if (line1.tooLong) {
        output.appendLog("\r\nManufacturing string must <= 30\r\n");
        return std::nullopt;
    }
    const auto stars = starPositions(line1.text);
    if (stars.empty()) {
        output.appendLog("\r\nNo * in the first line of " + fileName + "\r\n");
        return std::nullopt;
    }
    if (!contiguous(stars)) {
        output.appendLog("\r\n * must be continuity (  " + line1.text + " )\r\n");
        return std::nullopt;
    }
    if (line1.text.size() > kMaxSerialPatternLength) {
        output.appendLog("\r\nManufacturing string must <= 30\r\n");
        return std::nullopt;
    }
    const Token line2 = readToken(file, scanned);
    text.serial = line2.text;
    if (line2.tooLong || line2.text.size() != line1.text.size()) {
        output.appendLog("\r\nThe length of two line should be the same.\r\n");
        return std::nullopt;
    }
    if (std::any_of(line1.text.begin(), line1.text.end(), isControl) ||
        std::any_of(line2.text.begin(), line2.text.end(), isControl)) {
        output.appendLog("\r\nUnreadable characters in " + fileName + "\r\n");
        return std::nullopt;
    }
    text.counter = counterOf(text.serial, stars);
    if (!counterUsable(text.counter, fileName, output))
        return std::nullopt;
    return text;
}

Outcome<std::size_t> inject_serial(FirmwareImage& image, CameraLink& link,
                                   const SerialNumberText& text, int writeToISerial,
                                   SerialNumberOutput& output) {
    const std::string_view serial = text.serial;
    const IcType camera = link.GetIcType();
    auto bytes = image.buffer();
    // The camera's own place first; a camera that cannot tell takes the image's.
    const Outcome<std::size_t> inCamera = cameraStringBlockOffset(link, camera);
    std::optional<std::size_t> stringBlock;
    if (inCamera.ok())
        stringBlock = *inCamera;
    else
        stringBlock = image::imageStringBlockOffset(bytes, camera);
    if (!stringBlock) {
        output.appendLog("cannot allocate serial number memory, download stop.\r\n");
        return Result::refused("no place for the serial number: " + inCamera.reason() +
                               ", nor does the image say where its strings go");
    }
    const std::uint8_t index = image::serialNumberIndex(bytes, camera).value_or(0);
    const bool toISerial = writeToISerial == 1 && index != 0 && index != 0xFF;
    const std::size_t n = serial.size();
    // The iSerialNumber block is the serial-number block above the first
    // string block; the number follows a 0x0007 character there.
    const std::size_t at = toISerial ? *stringBlock + image::kSerialBlockDistance : *stringBlock;
    const std::size_t firstCharacter = toISerial ? 6 : 4;
    const auto bLength = static_cast<std::uint8_t>(toISerial ? 2 * (n + 2) : 2 * (n + 1));
    const bool olderChip = chip::family(camera).strings == chip::StringBlocks::Sector;
    const std::size_t footprint = firstCharacter + 2 * n;

    if (!image::takesSerialNumber(bytes, camera)) {
        output.appendLog("\r\nThe image header does not take a serial number, download stop.\r\n");
        return Result::refused("the image header does not take a serial number");
    }
    // The newer chips take the block appended to the image; the older ones
    // keep it inside. Either way it must be among the bytes that are sent.
    const std::size_t newLength = olderChip ? image.length() : image.length() + bLength + 5;
    if (at > bytes.size() || bytes.size() - at < footprint || at + footprint > newLength ||
        newLength > bytes.size()) {
        trace::writef("Serial number: a %zu-byte block at 0x%zX does not lie inside the %zu bytes "
                      "sent.",
                      footprint, at, newLength);
        output.appendLog("cannot allocate serial number memory, download stop.\r\n");
        return Result::refused(formatText("the serial number's %zu-byte block at 0x%zX does not "
                                          "lie inside the %zu bytes sent",
                                          footprint, at, newLength));
    }

    if (toISerial)
        output.showMessage(formatText("WriteToiSerial = %d, iSerialIndex = %d", 1, index));
    const auto block = bytes.subspan(at, footprint);
    if (toISerial) {
        block[4] = kISerialMarker;
        block[5] = 0x00;
    }
    putCharacters(block, firstCharacter, serial);
    if (olderChip) {
        // These chips know no iSerialNumber block: the number starts at byte 4
        // whichever block it went to.
        putCharacters(block, 4, serial);
        block[1] = block[2] = static_cast<std::uint8_t>(2 * (n + 1));
    } else {
        block[1] = block[2] = bLength;
    }
    block[3] = 0x03;
    image.setLength(newLength);
    output.appendLog("\r\n  Change SN to " + text.serial + "\r\n");
    return newLength;
}

std::optional<std::string> nextSerial(std::string_view pattern, std::string_view serial) {
    const auto stars = starPositions(pattern);
    if (stars.empty() || pattern.size() != serial.size())
        return std::nullopt;
    std::string counter = counterOf(serial, stars);
    std::optional<std::size_t> lowestOverflow;
    for (std::size_t i = counter.size(); i-- > 0;) {
        char& c = counter[i];
        if ((c >= 'A' && c <= 'E') || (c >= 'a' && c <= 'e') || (c >= '0' && c <= '8')) {
            ++c;
            break;
        }
        if (c == '9') {
            c = 'A';
            break;
        }
        if (c == 'F' || c == 'f')
            lowestOverflow = i;
        // Any other character is passed over unchanged.
    }
    if (lowestOverflow)
        std::fill(counter.begin() + static_cast<std::ptrdiff_t>(*lowestOverflow), counter.end(),
                  '0');
    std::string next(serial);
    for (std::size_t i = 0; i < stars.size(); ++i)
        next[stars[i]] = counter[i];
    return next;
}

bool counterExhausted(std::string_view pattern, std::string_view serial) {
    const auto stars = starPositions(pattern);
    if (stars.empty() || pattern.size() != serial.size())
        return true;
    // nextSerial counts up the last character that can count; when there is
    // none, every counter character overflows back to '0'.
    const std::string counter = counterOf(serial, stars);
    return std::none_of(counter.begin(), counter.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'E') || (c >= 'a' && c <= 'e');
    });
}

bool advance_serial(const std::filesystem::path& path, const std::string& fileName,
                    const SerialNumberText& text, SerialNumberOutput& output) {
    const auto next = nextSerial(text.pattern, text.serial);
    if (!next) {
        // Writing now would lose the number the file holds.
        output.appendLog("\r\nThe serial number does not fit the pattern in " + fileName + "\r\n");
        return false;
    }
    if (!stageSerialFile(path, text.pattern, *next, Staged::Replace)) {
        output.appendLog("open " + fileName + " fail\r\n");
        return false;
    }
    return true;
}

// --- the allocator ---------------------------------------------------------------

SerialNumberAllocator::SerialNumberAllocator(std::filesystem::path file, std::string name)
    : file_(std::move(file)), name_(std::move(name)) {}

bool SerialNumberAllocator::reserved(std::string_view serial) const {
    return std::find(reserved_.begin(), reserved_.end(), serial) != reserved_.end();
}

void SerialNumberAllocator::unreserve(std::string_view serial) {
    const auto found = std::find(reserved_.begin(), reserved_.end(), serial);
    if (found != reserved_.end())
        reserved_.erase(found);
}

std::optional<SerialNumberText> SerialNumberAllocator::take(SerialNumberOutput& output) {
    std::lock_guard lock(mutex_);
    auto text = read_serial_file(file_, name_, output);
    if (!text)
        return std::nullopt;
    const auto stars = starPositions(text->pattern);
    // Numbers other cameras hold now are passed over; there are at most as
    // many of them as cameras burning.
    while (reserved(text->serial)) {
        if (counterExhausted(text->pattern, text->serial)) {
            output.appendLog("\r\nReach max number in " + name_ + ", stop burning! \r\n");
            return std::nullopt;
        }
        text->serial = *nextSerial(text->pattern, text->serial);
        text->counter = counterOf(text->serial, stars);
        if (!counterUsable(text->counter, name_, output))
            return std::nullopt;
    }
    if (counterExhausted(text->pattern, text->serial)) {
        output.appendLog("\r\nReach max number(" + text->counter + ") in " + name_ +
                         ": the number after it would repeat burned numbers, stop burning! \r\n");
        return std::nullopt;
    }
    if (!stageSerialFile(file_, text->pattern, text->serial, Staged::Discard)) {
        output.appendLog("\r\n" + name_ +
                         " cannot be written: the next number could not be kept after a pass, "
                         "stop burning!\r\n");
        return std::nullopt;
    }
    reserved_.push_back(text->serial);
    return text;
}

bool SerialNumberAllocator::confirm(const SerialNumberText& text, SerialNumberOutput& output) {
    std::lock_guard lock(mutex_);
    // The file moves past this number unless another pass already took it
    // further: numbers count up from what the file holds now.
    CollectedSerialNumberOutput quiet;
    if (const auto current = read_serial_file(file_, name_, quiet);
        current && current->pattern == text.pattern) {
        std::string number = current->serial;
        bool atOrAfter = number == text.serial;
        for (std::size_t step = 0; !atOrAfter && step < reserved_.size() + kConfirmLookahead;
             ++step) {
            if (counterExhausted(text.pattern, number))
                break;
            number = *nextSerial(text.pattern, number);
            atOrAfter = number == text.serial;
        }
        if (!atOrAfter) {
            unreserve(text.serial);
            return true;
        }
    }
    if (!advance_serial(file_, name_, text, output))
        return false;
    unreserve(text.serial);
    return true;
}

void SerialNumberAllocator::release(const SerialNumberText& text) {
    std::lock_guard lock(mutex_);
    unreserve(text.serial);
}

void SerialNumberAllocator::voidNumber(const SerialNumberText& text) {
    CollectedSerialNumberOutput quiet;
    confirm(text, quiet);
}

} // namespace tessell
