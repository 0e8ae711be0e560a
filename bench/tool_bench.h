#pragma once

// What the benchmarks that run the tool itself share: where the executable
// is, the 64 KiB 'f' image they download, and the environment of a station.

#include "download/image_synthesis.h"
#include "tests/support/process.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessell::bench {

// The "tessell" executable next to the benchmark in the build folder, or the
// one TESSELL_BINARY names.
inline std::string programPath() {
    if (const char* named = std::getenv("TESSELL_BINARY"); named && *named)
        return named;
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (self.parent_path() / "tessell").string();
}

// A 64 KiB 'f' image for 1209:0002, bcdDevice 0102.
inline std::optional<std::vector<std::uint8_t>> downloadImage(std::string& error) {
    image::SynthesisRequest request;
    request.family = ImageFamily::f;
    request.vid = 0x1209;
    request.pid = 0x0002;
    request.bcdDevice = 0x0102;
    request.size = 64 * 1024;
    return image::synthesizeImage(request, error);
}

// The environment of a tool run on the simulated station in `home`: its
// station file, and every folder the tool writes kept inside `home`.
inline testing::EnvironmentChanges stationEnvironment(const std::filesystem::path& home) {
    return {{"TESSELL_SIM", (home / "station.json").string()},
            {"TESSELL_HOME", home.string()},
            {"XDG_RUNTIME_DIR", home.string()},
            {"XDG_CONFIG_HOME", home.string()},
            {"TMPDIR", home.string()}};
}

} // namespace tessell::bench
