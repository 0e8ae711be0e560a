#include "app/snapshot_command.h"

#include "app/camera_services.h"
#include "app/preview_sources.h"
#include "app/trace_output.h"
#include "common/clock.h"
#include "common/whole_number.h"

#include <cstdio>
#include <fstream>
#include <ostream>

namespace tessell {

namespace {

constexpr const char* kSnapshotUsage =
    "usage: tessell snapshot [--camera N] [--frames N] [--out FILE] [-v]\n";

void printProblems(const preview::FrameSources& sources, std::ostream& err) {
    for (const std::string& problem : sources.problems())
        err << "tessell snapshot: " << problem << "\n";
}

} // namespace

bool parseSnapshotArguments(const std::vector<std::string>& args, SnapshotOptions& options,
                            std::string& error) {
    options = {};
    for (std::size_t index = 0; index < args.size(); ++index) {
        const std::string& option = args[index];
        // The trace option is the caller's to act on; it is never a value.
        if (option == kTraceOption)
            continue;
        if (option != "--camera" && option != "--frames" && option != "--out") {
            error = "unknown argument \"" + option + "\"";
            return false;
        }
        if (index + 1 == args.size() || args[index + 1] == kTraceOption) {
            error = option + " needs a value";
            return false;
        }
        const std::string& value = args[++index];
        if (option == "--out") {
            if (value.empty()) {
                error = "--out needs a file name";
                return false;
            }
            options.out = std::filesystem::path(value);
            continue;
        }
        const auto parsed = parseWholeNumber<long long>(value);
        if (option == "--camera") {
            if (!parsed || *parsed < 0 || *parsed > 1000000) {
                error = "--camera takes a list position (0, 1, ...), not \"" + value + "\"";
                return false;
            }
            options.camera = static_cast<std::size_t>(*parsed);
        } else {
            if (!parsed || *parsed < 1 || *parsed > kSnapshotMaxFrames) {
                error = "--frames takes a count from 1 to " + std::to_string(kSnapshotMaxFrames) +
                        ", not \"" + value + "\"";
                return false;
            }
            options.frames = static_cast<int>(*parsed);
        }
    }
    return true;
}

std::string encodePpm(const preview::Frame& frame) {
    std::string bytes =
        "P6\n" + std::to_string(frame.width) + " " + std::to_string(frame.height) + "\n255\n";
    const std::size_t header = bytes.size();
    bytes.resize(header + frame.pixels.size() * 3);
    auto out = bytes.begin() + static_cast<std::ptrdiff_t>(header);
    for (const std::uint32_t pixel : frame.pixels) {
        *out++ = static_cast<char>((pixel >> 16) & 0xFF);
        *out++ = static_cast<char>((pixel >> 8) & 0xFF);
        *out++ = static_cast<char>(pixel & 0xFF);
    }
    return bytes;
}

bool writeWholeFile(const std::filesystem::path& file, const std::string& bytes,
                    std::string& error) {
    auto temporary = file;
    temporary += ".new";
    std::error_code ignored;
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        if (stream)
            stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        stream.close();
        if (!stream) {
            std::filesystem::remove(temporary, ignored);
            error = "cannot write " + file.string();
            return false;
        }
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, file, renamed);
    if (renamed) {
        std::filesystem::remove(temporary, ignored);
        error = "cannot write " + file.string() + ": " + renamed.message();
        return false;
    }
    return true;
}

int takeSnapshot(preview::FrameSources& sources, const SnapshotOptions& options, std::ostream& out,
                 std::ostream& err) {
    if (!sources.supported()) {
        err << "tessell snapshot: this system shows no camera pictures\n";
        return kSnapshotError;
    }
    const auto names = sources.enumerate();
    const std::string camera = "camera " + std::to_string(options.camera);
    if (options.camera >= names.size()) {
        printProblems(sources, err);
        err << "tessell snapshot: no " << camera << " (" << names.size()
            << (names.size() == 1 ? " video device)\n" : " video devices)\n");
        return kSnapshotNoPicture;
    }
    if (!names[options.camera]) {
        err << "tessell snapshot: " << camera << " has no name, so it is not offered\n";
        return kSnapshotNoPicture;
    }
    const std::string& name = *names[options.camera];
    const auto source = sources.open(options.camera);
    if (!source) {
        printProblems(sources, err);
        err << "tessell snapshot: " << camera << " (" << name << ") cannot be opened\n";
        return kSnapshotNoPicture;
    }

    const Clock::TimePoint begin = clock().now();
    int count = 0;
    preview::Frame last;
    if (source->start()) {
        preview::Frame next;
        while (count < options.frames && source->read(next)) {
            std::swap(last, next);
            ++count;
        }
    }
    const double seconds =
        std::chrono::duration_cast<std::chrono::duration<double>>(clock().now() - begin).count();
    const std::string problem = source->problem();
    source->stop();

    if (count > 0) {
        char line[64];
        std::snprintf(line, sizeof line, " %dx%d", last.width, last.height);
        char time[32];
        std::snprintf(time, sizeof time, " in %.2f s", seconds);
        out << "snapshot: " << count << (count == 1 ? " frame" : " frames") << line << " from "
            << name << time << "\n";
    }
    if (count < options.frames) {
        err << "tessell snapshot: " << camera << " (" << name << ") sent " << count << " of "
            << options.frames << " frames: " << (problem.empty() ? "no reason given" : problem)
            << "\n";
    }
    if (options.out && count > 0) {
        std::string error;
        if (!writeWholeFile(*options.out, encodePpm(last), error)) {
            err << "tessell snapshot: " << error << "\n";
            return kSnapshotError;
        }
    }
    return count == options.frames ? kSnapshotTaken : kSnapshotNoPicture;
}

int runSnapshotCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    SnapshotOptions options;
    std::string error;
    if (!parseSnapshotArguments(args, options, error)) {
        err << "tessell snapshot: " << error << "\n" << kSnapshotUsage;
        return kSnapshotError;
    }
    // Also loads a simulated station, with its time scale, and says why one
    // cannot be.
    if (!processCameraServices(error)) {
        err << "tessell snapshot: " << error << "\n";
        return kSnapshotError;
    }
    const auto sources = processFrameSources();
    return takeSnapshot(*sources, options, out, err);
}

} // namespace tessell
