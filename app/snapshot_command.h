#pragma once

// `tessell snapshot [--camera N] [--frames N] [--out FILE]`: streams a few
// pictures from one camera of the list and keeps the last, so that a
// station or a script can check that a camera (freshly burned, or just
// plugged in) sends a picture, without a window.

#include "platform/frame_source.h"

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tessell {

// Exit statuses of the snapshot command.
constexpr int kSnapshotTaken = 0;     // every frame asked for came
constexpr int kSnapshotNoPicture = 1; // no such camera, or it sent fewer frames
constexpr int kSnapshotError = 2;     // bad arguments, no capture, file not written

constexpr int kSnapshotDefaultFrames = 10;
constexpr int kSnapshotMaxFrames = 100000;

struct SnapshotOptions {
    std::size_t camera = 0; // position in the video-input list
    int frames = kSnapshotDefaultFrames;
    std::optional<std::filesystem::path> out;
};

// args are the words after "snapshot". False with `error` for the operator.
bool parseSnapshotArguments(const std::vector<std::string>& args, SnapshotOptions& options,
                            std::string& error);

// A binary PPM (P6) of the picture: 8-bit RGB, the alpha left out.
std::string encodePpm(const preview::Frame& frame);

// Writes `bytes` to `file` whole or not at all (an older file stays as it
// was when writing fails). False with `error` set.
bool writeWholeFile(const std::filesystem::path& file, const std::string& bytes,
                    std::string& error);

// Reads the frames from the camera at the options' position of `sources`
// and writes the last one; the exit status.
int takeSnapshot(preview::FrameSources& sources, const SnapshotOptions& options, std::ostream& out,
                 std::ostream& err);

// The command over the process's cameras (the simulated station's when
// TESSELL_SIM is set).
int runSnapshotCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tessell
