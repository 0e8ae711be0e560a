#pragma once

// One camera burn as the station's history keeps it, and the sink the burn
// session reports it to. The session writes the record twice: as an intent
// before the first byte goes to the camera, and again, with the same id, once
// its outcome is known. A sink keeps the record or names why it could not;
// it never changes what the burn itself reports.
//
// The history (records/) implements the sink with SQLite; a line uploader
// reads the records back in the order they were created (their `sequence`).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tessell {

// Which tool started the download.
namespace record_tool {
inline constexpr const char* kWindow = "window";
inline constexpr const char* kUnattended = "unattended";
inline constexpr const char* kFlash = "flash";
inline constexpr const char* kMultiWindow = "multi-window";
inline constexpr const char* kBurn = "burn";
} // namespace record_tool

// The record's result. An intent has none until its outcome arrives; one
// that never gets it (the process was killed, the power went) is aborted.
namespace record_result {
inline constexpr const char* kPass = "pass";
inline constexpr const char* kFail = "fail";
inline constexpr const char* kAborted = "aborted";
} // namespace record_result

struct BurnRecord {
    std::string id;          // a random UUID (version 4), lower case: the record's key
    std::int64_t sequence{}; // order of creation in the history; filled when read back
    std::string station;     // `[LINE] Station=`, else the host name
    std::string tool;        // a record_tool name
    std::string toolVersion;
    int processId = 0; // of the tool that wrote the intent

    std::string hub; // the camera's USB port
    int port = 0;
    std::optional<int> row;  // multi-camera burns: the list row, 1 to 16
    std::optional<int> slot; // multi-camera burns: the port-memory slot, 1 to 16

    std::string chipFamily;       // the chip name the tool shows ("ZLTA_7312")
    std::optional<int> chipId;    // chip register 0x20FF
    std::optional<int> flashCode; // the flash part's code
    std::string flashName;

    // The camera's USB identity when the download started ...
    std::optional<int> vidBefore, pidBefore, bcdBefore;
    std::string serialBefore;
    // ... and the one the written image gives it from its next start (a
    // passed download only; none where the image leaves the camera's own).
    std::optional<int> vidAfter, pidAfter, bcdAfter;
    std::string serialAfter;
    std::string serialBurned; // the serial number written into this camera, if any

    std::string imageName; // the image file's name, without its folder
    std::uint64_t imageSize = 0;
    std::string imageSha256; // of the image file's bytes, lower-case hex

    std::string started; // UTC, ISO 8601 with milliseconds: 2026-12-09T03:04:05.678Z
    std::string ended;   // empty for an intent
    std::optional<std::int64_t> durationMs;
    std::string result;          // a record_result name; empty for an intent
    std::optional<int> exitCode; // the exit code the tool ended with (single-camera tools)
    std::string rowStatus;       // the row's status text (multi-camera burns)
    std::string error;           // what the operator was told when it did not pass
    // When a later start found the intent without an outcome and marked it
    // aborted (UTC, as above).
    std::string abortedFound;
};

class BurnRecordSink {
public:
    virtual ~BurnRecordSink() = default;
    // Before the first byte goes to the camera. Returns within a bounded time
    // whether or not the record could be written (the sink names a failure).
    virtual void recordIntent(const BurnRecord& record) = 0;
    // The same record, outcome fields filled: it completes the intent of the
    // same id. Returns once it is on disk, or after the same bound.
    virtual void recordOutcome(const BurnRecord& record) = 0;
};

// A new random record id.
std::string newRecordId();

// `instant` as the record's UTC time text.
std::string recordTime(std::chrono::system_clock::time_point instant);

} // namespace tessell
