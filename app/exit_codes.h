#pragma once

// Process exit codes of the single-camera tool. Factory scripts branch on
// these numbers, so they never change.

namespace tessell {

// No AC power at start-up in command-line mode, or the camera flagged by the
// identity check when Download runs in command-line mode.
inline constexpr int kExitRefused = -1;
// The last download or rework passed.
inline constexpr int kExitPassed = 0;
inline constexpr int kExitReworkFailed = 1;
inline constexpr int kExitDownloadFailed = 2;
// The last download with serial-number change failed.
inline constexpr int kExitSerialDownloadFailed = 3;
// Command-line mode: the camera failed the identity check at selection, or
// its PID/VID differ from the image's.
inline constexpr int kExitWrongCamera = 4;
// Command-line mode: no image loaded when the download was to start, or the
// image/chip mismatch question was answered No.
inline constexpr int kExitNoImage = 5;
inline constexpr int kExitImageLoadFailed = 10;
// 38, a download worker has started and no outcome has been stored since,
// is kExitWorkerRunning of download/download_worker.h: the worker sets it.
// Nothing has finished yet: the value `exitCode` starts with. A second copy
// of the tool also ends with it, since it did nothing.
inline constexpr int kExitNothingFinished = 99;

// The status the process ends with: the low 8 bits, as the system keeps them
// (-1 is seen by the caller as 255).
int processStatus(int exitCode);

// -1, 4 and 5 end the process at the point of failure; every other code is
// stored in `exitCode` and used when the tool ends.
bool endsProcessAtOnce(int exitCode);

} // namespace tessell
