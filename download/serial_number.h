#pragma once

// Serial numbers.
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
// The serial-number file and every byte read from a camera are untrusted:
// anything malformed is refused with a line in the dialog log rather than
// written into an image. (Keeping a camera's own strings in a rework is
// download/rework.h.)

#include "device/camera_link.h"
#include "device/ic_type.h"
#include "device/result.h"
#include "download/firmware_image.h"
#include "platform/usb_location.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
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
    // The reservation the number was taken under, for a source that keeps
    // them elsewhere (the line database); empty for the station's file.
    std::string request;
};

// Longest pattern a serial number may have.
constexpr std::size_t kMaxSerialPatternLength = 30;
// More counter characters than this are not checked for hexadecimal digits.
constexpr std::size_t kCheckedCounterLength = 20;

// Reads and checks the serial-number file at `path` (`name` is how the
// settings name it, for the messages): its pattern, current number and
// counter. None when the file is refused, with the reason in `output`'s log.
std::optional<SerialNumberText> read_serial_file(const std::filesystem::path& path,
                                                 const std::string& name,
                                                 SerialNumberOutput& output);

// Writes `text.serial` into the image's serial-number string descriptor for
// the camera's family and gives the new image length (which the image also
// takes); refused, with the reason, when the image cannot take the number.
// Every refusal leaves a line in `output`'s log and the image unchanged.
// `writeToISerial` is the `SNAddr` setting: 1 places the number, after a
// 0x0007 character, in the block the device descriptor's iSerialNumber names.
Outcome<std::size_t> inject_serial(FirmwareImage& image, CameraLink& link,
                                   const SerialNumberText& text, int writeToISerial,
                                   SerialNumberOutput& output);

// The serial number after `serial`: the counter characters (at the '*'
// positions of `pattern`) count up in hexadecimal, 9 going to A and F
// carrying into the character before it. None when the two texts do not
// fit together (different lengths, no '*').
std::optional<std::string> nextSerial(std::string_view pattern, std::string_view serial);

// Whether the counter of `serial` has no number after it: every counter
// character is at its top, so counting on would start again from zero and
// hand out numbers already burned.
bool counterExhausted(std::string_view pattern, std::string_view serial);

// Rewrites the serial-number file with the pattern and the serial number
// after `text.serial`. The file is replaced as a whole, so an interrupted
// write leaves the previous number in place.
bool advance_serial(const std::filesystem::path& path, const std::string& name,
                    const SerialNumberText& text, SerialNumberOutput& output);

// Where the serial numbers of a station's downloads come from: the
// station's serial-number file, or the line database that every station of
// a line shares. A number is taken before anything is written to the camera,
// then confirmed when the camera passed, released when it failed (the camera
// does not boot with it: the header is written last) and void when whether
// the camera holds it cannot be known; a void number is never handed out
// again. Every download of the process shares one source; its calls may come
// from several burn threads at once.
class SerialNumberSource {
public:
    virtual ~SerialNumberSource() = default;
    // The number for the camera on `camera`, whose burn the station's
    // history keeps as `recordId` (empty without a history). None, with the
    // reason in `output`'s log, when no number can be given (then nothing
    // may be written to the camera).
    virtual std::optional<SerialNumberText> take(const platform::UsbAddress& camera,
                                                 const std::string& recordId,
                                                 SerialNumberOutput& output) = 0;
    // The camera that took `text` passed. False when the number could not be
    // recorded as used and might be handed out again: the camera then fails.
    virtual bool confirm(const SerialNumberText& text, SerialNumberOutput& output) = 0;
    // The camera that took `text` did not pass: the number is free again.
    virtual void release(const SerialNumberText& text) = 0;
    // Whether the camera that took `text` holds it cannot be known: the
    // number is never handed out again.
    virtual void voidNumber(const SerialNumberText& text) = 0;
    // How the operator knows the source ("sn.txt", "the line database ...").
    virtual const std::string& name() const = 0;
};

// The serial numbers of one serial-number file, shared by every download of
// the process. A number is reserved for one camera from the moment it is
// taken until that camera's download ends: two cameras burning at once never
// get the same number, the file moves on only for a pass (and never back),
// and a number that was burned is never handed out again.
class SerialNumberAllocator final : public SerialNumberSource {
public:
    SerialNumberAllocator(std::filesystem::path file, std::string name);

    // The first number at or after the file's that no camera holds now. None,
    // with the reason in `output`'s log, when the file is refused, its
    // counter has no number left, or the file could not be advanced after a
    // pass (then a pass would leave the number to be burned again).
    std::optional<SerialNumberText> take(SerialNumberOutput& output);
    std::optional<SerialNumberText> take(const platform::UsbAddress&, const std::string&,
                                         SerialNumberOutput& output) override {
        return take(output);
    }
    // The camera that took `text` passed: the file moves past its number.
    // False when the file could not be written; the number then stays
    // reserved, so this process never hands it out again.
    bool confirm(const SerialNumberText& text, SerialNumberOutput& output) override;
    // The camera that took `text` did not pass (or its station does not
    // advance the file): the number is free for the next camera.
    void release(const SerialNumberText& text) override;
    // The file moves past the number as for a pass; when it cannot, the
    // number stays reserved for the rest of the process.
    void voidNumber(const SerialNumberText& text) override;

    const std::string& name() const override { return name_; }
    const std::filesystem::path& file() const { return file_; }

private:
    bool reserved(std::string_view serial) const;
    void unreserve(std::string_view serial);

    std::filesystem::path file_;
    std::string name_;
    mutable std::mutex mutex_;
    std::vector<std::string> reserved_;
};

} // namespace tessell
