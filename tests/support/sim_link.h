#pragma once

// A `CameraLink` opened on a simulated station, for tests that run the
// download code against simulated cameras and look at the flash afterwards.

#include "device/camera_link.h"
#include "device/result.h"
#include "sim_rig.h"

#include <fstream>
#include <string>

namespace tessell::testing {

// A procedure's result as the tests compare it.
inline std::string outcomeOf(const Result& result) {
    return result.ok() ? "passed" : result.wasRefused() ? "refused" : "failed";
}

struct SimLink {
    explicit SimLink(const nlohmann::json& devices) : rig(devices), link(rig.platform()) {
        opened = rig && link.OpenCamera(IcType::e, 0, 0).ok();
        EXPECT_TRUE(opened) << "the simulated camera did not open";
    }

    sim::SimCamera& camera() { return rig.platform().camera(0); }
    Bytes flash() { return camera().flashContents(); }

    SimRig rig;
    CameraLink link;
    bool opened = false;
};

// Writes the starting content of a simulated flash to a file of its own
// folder (absolute, so that the station may live elsewhere).
inline std::string flashFile(const TempDir& dir, const Bytes& content,
                             const std::string& name = "start.flash") {
    return dir.write(name, std::string(content.begin(), content.end())).string();
}

// Bytes that differ from their neighbours, so that a misplaced block shows.
inline Bytes pattern(std::size_t length, std::uint32_t seed = 1) {
    Bytes bytes(length);
    for (auto& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

} // namespace tessell::testing
