#pragma once

// Pictures of simulated cameras: a test picture that names the camera (its
// friendly name) and the firmware it runs (its bcdDevice, as read from the
// image in its flash), so that an operator watching a demonstration sees the
// new version appear after a download. A moving bar shows that the stream is
// live.

#include "platform/frame_source.h"

#include <cstdint>
#include <string>

namespace tessell::sim {
class SimPlatform;
}

namespace tessell::preview {

inline constexpr int kTestPictureWidth = 640;
inline constexpr int kTestPictureHeight = 360;

// What a test picture shows of its camera.
struct TestPictureText {
    std::string friendlyName;
    std::uint16_t bcdDevice = 0;
};

// Paints test picture number `sequence` (the bar moves with it).
void paintTestPicture(Frame& frame, const TestPictureText& text, std::uint64_t sequence);

class SimFrameSources final : public FrameSources {
public:
    explicit SimFrameSources(sim::SimPlatform& station) : station_(station) {}

    bool supported() const override { return true; }
    std::vector<std::optional<std::string>> enumerate() override;
    std::unique_ptr<FrameSource> open(std::size_t position) override;

private:
    sim::SimPlatform& station_;
    std::vector<std::string> devicePaths_; // of the last enumeration
};

} // namespace tessell::preview
