#pragma once

// The four bytes a download procedure reports through while it runs on the
// worker thread; the dialog's timer (or a multi-camera slot) reads them. Each
// byte is written and read on its own, so plain atomics are enough.

#include <atomic>
#include <cstdint>

namespace tessell {

// Stage byte values, shared by every download procedure and the displays.
namespace stage {
constexpr std::uint8_t kInitialised = 21;
constexpr std::uint8_t kSending = 22;
constexpr std::uint8_t kChecking = 23; // all data sent, checksum being compared
constexpr std::uint8_t kFinished = 24;
constexpr std::uint8_t kBusyWait = 25; // waiting for the module's checksum-busy flag
constexpr std::uint8_t kFailed = 26;
} // namespace stage

struct DownloadStatus {
    std::atomic<std::uint8_t> stage{0};
    std::atomic<std::uint8_t> progress{0};
    std::atomic<std::uint8_t> computedChecksum{0};
    std::atomic<std::uint8_t> cameraChecksum{0};

    void reset() {
        stage = 0;
        progress = 0;
        computedChecksum = 0;
        cameraChecksum = 0;
    }
};

// Sets the stage and progress of a status block the caller may not have given.
inline void report(DownloadStatus* status, std::uint8_t stageValue, std::uint8_t progress) {
    if (status) {
        status->stage = stageValue;
        status->progress = progress;
    }
}

// Progress before a block: 5 at the start, growing to 95 after the last block.
constexpr std::uint8_t blockProgress(std::size_t sent, std::size_t length) {
    return length == 0 ? 5 : static_cast<std::uint8_t>(sent * 90 / length + 5);
}

} // namespace tessell
