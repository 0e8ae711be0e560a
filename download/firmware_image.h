#pragma once

// A firmware image: a raw dump of a camera's serial flash from address 0, as
// delivered in a .bin file. `FirmwareImage` only holds and parses it; it never
// talks to a camera and never writes a log itself. The parsing functions work
// on any byte range, so the simulated camera runs the same code on the
// contents of its flash.
//
// Every offset below that comes from the image itself (the header offset H,
// descriptor pointers D, string-block pointers P) is untrusted. A field that
// would lie outside the bytes given reads as absent: a missing byte matches no
// marker, a missing 16-bit word reads as 0, and a string block that does not
// fit is not valid.

#include "device/ic_type.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

// The layout family of an image, from its marker bytes. Not an `IcType`,
// though the documents give both the same letters (`image::letter`).
enum class ImageFamily : std::uint8_t { c, d, e, f, g, h, i, j };
// Writes the letter.
std::ostream& operator<<(std::ostream& out, ImageFamily family);

namespace image {

// When an image of a layout is tied to its expected camera by the fit rule.
enum class Binding : std::uint8_t { Never, Always, WithHeader8916, WithHeaderF9FF };

// What the tool knows of one image layout: where its fields lie, which
// camera it is made for, and the header a made-up image of it starts with.
// One row per family (firmware_image.cpp); nothing else knows the letters.
struct Layout {
    ImageFamily family;
    char letter;
    std::array<std::uint8_t, 2> usualHeader; // bytes 0..1
    // Older layouts: the 0x12 that marks the device descriptor, and where
    // vendor id, product id and bcdDevice lie (0 = not read).
    std::uint16_t marker;
    std::uint16_t fixedIdentity;
    // Pointer-table layouts: D, the device-descriptor pointer, at H + this.
    std::uint8_t descriptorPointerField;
    bool usb3Descriptor;          // a USB 3.0 descriptor in 0x1000..0x4FFF comes first
    bool readsIdentity;           // vendor id, product id and bcdDevice are read at all
    bool identityNeedsHeader8916; // ... only when bytes 0..1 are 0x89 0x16
    // The type number: a fixed big-endian word (0 = none), or the word this
    // many bytes before H (0 = none).
    std::uint16_t typeNumberAt;
    std::uint8_t typeNumberBeforeHeader;
    std::optional<IcType> expects; // the camera family the layout is made for
    Binding fitsOnlyExpected;      // when no other camera may take it
};

const Layout& layout(ImageFamily family);
inline char letter(ImageFamily family) {
    return layout(family).letter;
}
// The family of a letter; none for anything else.
std::optional<ImageFamily> familyFromLetter(char letter);

// The image buffer is fixed: larger files are refused.
constexpr std::size_t kBufferSize = 0x20000;

// A string block is valid when its length byte L is at most this (68 bytes
// stored with the two leading bytes).
constexpr std::uint8_t kMaxStringBlockLength = 66;

// The serial-number block lies this far above the first string block.
constexpr std::size_t kSerialBlockDistance = 0x1000;

// --- bounds-checked field reads ------------------------------------------------

std::optional<std::uint8_t> byteAt(std::span<const std::uint8_t> bytes, std::size_t offset);
// 0 when the word does not lie wholly inside `bytes`.
std::uint16_t bigEndian16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint16_t littleEndian16(std::span<const std::uint8_t> bytes, std::size_t offset);

// H: the big-endian header offset in bytes 4..5.
std::uint16_t headerOffset(std::span<const std::uint8_t> bytes);

// Byte 0 is 0x89 and byte 1 is 0x10..0x2F: a header with a pointer table.
bool hasPointerTable(std::span<const std::uint8_t> bytes);

// --- classification and identity ------------------------------------------------

// First matching marker rule wins; unknown layouts are `ImageFamily::j`.
ImageFamily classify(std::span<const std::uint8_t> bytes);

// The camera family a layout is made for (none for some).
std::optional<IcType> expectedCamera(ImageFamily family);

// Whether the image may go to its expected camera only: what the fit rule
// (download/image_fit.h) asks of the layout and the header bytes.
bool bindsToExpectedCamera(std::span<const std::uint8_t> bytes, ImageFamily family);

// Bytes 0..1 are 0x89 0x18 (the header signature the download restores).
bool isHeaderVariant18(std::span<const std::uint8_t> bytes);

// Bytes 0..1 are a signature some layout starts with: 0x89 with a header
// kind (0x10..0x2F), 0x55 0x90, or 0xF9 0xFF (a pointer-table header whose
// signature a download invalidated).
bool hasKnownSignature(std::span<const std::uint8_t> bytes);

// Whether `bytes` can be an image at all: a known signature, and every fixed
// field its layout reads (the header and its pointers, the device descriptor
// its family takes the identity from, the marker of an older layout) inside
// the bytes. Anything else (a
// stray file, a cut image) is no image for any camera: writing it would leave
// a camera that does not boot, or one with a mix of two images.
bool fitsItsLayout(std::span<const std::uint8_t> bytes);

struct ImageIdentity {
    ImageFamily family = ImageFamily::j;
    std::uint16_t vid = 0; // 0 when the image carries none
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    // The camera family the image insists on; none when it names none.
    std::optional<IcType> expectedCamera;
    std::uint16_t typeNumber = 0;
};

// Family, USB identity, expected camera and type number of an image, as the
// tool reads them when it loads a file.
ImageIdentity readIdentity(std::span<const std::uint8_t> bytes);

// The type number as shown: four lower-case hex digits.
std::string formatTypeNumber(std::uint16_t typeNumber);

// --- checksum -------------------------------------------------------------------

// XOR of every byte sent: the image, then 0xFF up to a whole number of
// blocks of `blockSize` (each pad byte inverts the sum). A block size of 0
// means no padding.
std::uint8_t checksum(std::span<const std::uint8_t> image, std::size_t blockSize);

// --- string blocks --------------------------------------------------------------

// Where the header of an image keeps the string-block pointer P a camera
// family reads, relative to H (none for the families that read none).
std::optional<std::size_t> stringPointerField(IcType camera);

// Where the first string block lies for a string-block pointer P read from
// an image header or a camera's flash: P + 0x1000, none for P = 0xFFFF.
std::optional<std::size_t> stringBlockFromPointer(std::uint16_t p);

// Where the first string block of an image lies for a camera family: P + 0x1000
// for a family that reads P and an image with a pointer-table header; none
// for other families, for P = 0xFFFF, and when P is out of reach.
std::optional<std::size_t> imageStringBlockOffset(std::span<const std::uint8_t> bytes,
                                                  IcType camera);

// The big-endian word at an offset of an image, or of a camera's flash read
// a word at a time; none when it lies outside or cannot be read.
using WordSource = std::function<std::optional<std::uint16_t>(std::size_t offset)>;

// The rule above over words read one by one, in the order the rule needs
// them: bytes 0..1, H, then P.
std::optional<std::size_t> imageStringBlockOffset(const WordSource& words, IcType camera);

// The type number a camera keeps in its flash, by its family: the word at
// H-2 or at a fixed address (none for the other families).
std::optional<std::uint16_t> cameraTypeNumber(const WordSource& words, IcType camera);

// Where a camera keeps its first string block, worked out from the start of
// its flash: its family's fixed sector, or the image rule for a family that
// reads P; none for other families.
std::optional<std::size_t> cameraStringBlockOffset(std::span<const std::uint8_t> flash,
                                                   IcType camera);

// The iSerialNumber index the device descriptor of the image carries for a
// camera family; none for families without one.
std::optional<std::uint8_t> serialNumberIndex(std::span<const std::uint8_t> bytes, IcType camera);

// Bytes 0..1 are 0x89 0x10..0x1F: a pointer-table header of the first kinds.
bool hasPointerTableKind1x(std::span<const std::uint8_t> bytes);

// Bytes 0..1 are 0x55 0x90 or 0x89 0x10..0x1F: the headers the chips that
// keep their strings in a fixed sector take strings with.
bool hasOlderStringHeader(std::span<const std::uint8_t> bytes);

// Whether an image may carry a serial number on a camera of this family:
// a header its kind of string blocks goes with.
bool takesSerialNumber(std::span<const std::uint8_t> bytes, IcType camera);

// Whether the image header holds the places a rework puts a camera's
// string blocks (a pointer-table header, valid or invalidated).
bool keepsStringPlaces(std::span<const std::uint8_t> bytes);

// Where a rework puts the camera's first string block and its serial-number
// block: at H+0x20 and H+0x24 of the image, or H+0x22 and H+0x26 when the
// camera's own flash (`cameraFlash`, from address 0) has header kind 0x17.
struct StringPlaces {
    std::size_t firstBlock = 0;
    std::size_t serialBlock = 0;
};
StringPlaces reworkStringPlaces(std::span<const std::uint8_t> bytes,
                                std::span<const std::uint8_t> cameraFlash);

// A string block at `offset`: byte 0 (not interpreted), byte 1 = L, then a USB
// string descriptor (bLength, 0x03, UTF-16LE characters). Valid when
// L <= 66 and the L + 2 bytes lie inside `bytes`.
bool isValidStringBlock(std::span<const std::uint8_t> bytes, std::size_t offset);

// The block's L + 2 stored bytes when valid.
std::optional<std::span<const std::uint8_t>> stringBlock(std::span<const std::uint8_t> bytes,
                                                         std::size_t offset);

// The text of a valid string block as UTF-8: the characters of the descriptor
// inside the block (bLength is clamped to L), up to the first U+0000 as a
// host reads a USB string. None for an invalid block.
std::optional<std::string> decodeStringBlock(std::span<const std::uint8_t> bytes,
                                             std::size_t offset);

// A whole string block for `characters`: 00 L L 03 then UTF-16LE, with
// L = 2 + 2 * count. None when L would exceed 66.
std::optional<std::vector<std::uint8_t>> encodeStringBlock(std::u16string_view characters);

} // namespace image

// A loaded firmware image: the fixed 0x20000-byte buffer, filled with 0xFF
// when the first file is loaded and overwritten from offset 0 by later loads
// without refilling (bytes beyond `length` keep what an earlier, longer file
// left; they are never sent, and never read as the image's own fields).
class FirmwareImage {
public:
    // A line the caller appends to the dialog log, and to the burn log when
    // `burnLog` is set.
    struct LogLine {
        std::string text;
        bool burnLog = true;
    };

    // What the loading needs to know about the dialog it serves.
    struct LoadContext {
        std::optional<IcType> camera;     // the selected camera's family, if any
        bool showFirmwareVersion = false; // `ShowFWVer` is 1
    };

    // Reads a file into the buffer, classifies it and fills the identity
    // fields; `log` receives the lines to append. A file that cannot be read
    // (missing, not a regular file, larger than the buffer) returns false
    // with a log line that says why, and the previous image stays as it was.
    bool load(const std::filesystem::path& path, const LoadContext& context,
              std::vector<LogLine>& log);

    // Takes `bytes` (at most the buffer size) as if a file of that content had
    // been loaded, without log lines. Returns false, changing nothing, when the
    // bytes do not fit.
    bool assign(std::span<const std::uint8_t> bytes, std::optional<IcType> camera = std::nullopt);

    // The whole buffer (empty before the first load). The download code
    // patches bytes through it; the identity fields keep what the load read.
    std::span<const std::uint8_t> buffer() const { return buffer_; }
    std::span<std::uint8_t> buffer() { return buffer_; }
    // The bytes a download sends: the first `length` of the buffer.
    std::span<const std::uint8_t> content() const {
        return std::span<const std::uint8_t>(buffer_).first(length_);
    }

    std::size_t length() const { return length_; }
    // Serial-number and rework code grow the image by the blocks they append;
    // the length is kept within the buffer (false when it had to be refused).
    bool setLength(std::size_t length);

    bool loaded() const { return loaded_; }
    ImageFamily family() const { return identity_.family; }
    bool headerVariant18() const { return headerVariant18_; }
    std::uint16_t vid() const { return identity_.vid; }
    std::uint16_t pid() const { return identity_.pid; }
    std::uint16_t bcdDevice() const { return identity_.bcdDevice; }
    std::optional<IcType> expectedCamera() const { return identity_.expectedCamera; }
    // Four lower-case hex digits.
    std::string typeNumber() const { return image::formatTypeNumber(identity_.typeNumber); }
    // What the dialog's version field shows: bcdDevice as four upper-case hex digits.
    std::string versionText() const;
    // False when the image names another camera family than the camera that
    // was selected when it was loaded.
    bool matches_camera() const { return matchesCamera_; }
    // The same test against another camera family.
    bool matchesCamera(IcType camera) const;

    std::uint8_t checksum(std::size_t blockSize) const {
        return image::checksum(content(), blockSize);
    }

private:
    void adopt(std::span<const std::uint8_t> bytes, std::optional<IcType> camera);

    std::vector<std::uint8_t> buffer_;
    std::size_t length_ = 0;
    bool loaded_ = false;
    bool headerVariant18_ = false;
    bool matchesCamera_ = true;
    image::ImageIdentity identity_;
};

} // namespace tessell
