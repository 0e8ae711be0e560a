#include "platform/sim/sim_frame_source.h"

#include "platform/sim/sim_platform.h"
#include "preview/bitmap_font.h"

#include <array>
#include <cstdio>

namespace tessell::preview {

namespace {

constexpr std::array<std::uint32_t, 7> kBars = {0xFFC0C0C0, 0xFFC0C000, 0xFF00C0C0, 0xFF00C000,
                                                0xFFC000C0, 0xFFC00000, 0xFF0000C0};
constexpr std::uint32_t kBlack = 0xFF000000;
constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr int kTextScale = 3;
constexpr int kMargin = 12;

// The camera at `devicePath`, if it is still on the bus there.
bool findCamera(sim::SimPlatform& station, const std::string& devicePath, sim::BusView& found) {
    for (std::size_t index = 0; index < station.cameraCount(); ++index) {
        sim::BusView view = station.camera(index).view();
        if (view.onBus && view.list == platform::DeviceListKind::VideoInput &&
            view.devicePath == devicePath) {
            found = std::move(view);
            return true;
        }
    }
    return false;
}

class SimFrameSource final : public FrameSource {
public:
    SimFrameSource(sim::SimPlatform& station, std::string devicePath)
        : station_(station), devicePath_(std::move(devicePath)) {}

    bool start() override {
        sim::BusView view;
        if (!findCamera(station_, devicePath_, view)) {
            problem_ = kGone;
            return false;
        }
        problem_.clear();
        running_ = true;
        return true;
    }
    bool stop() override {
        running_ = false;
        return true;
    }
    bool read(Frame& frame) override {
        if (!running_) {
            problem_ = "the stream is not started";
            return false;
        }
        sim::BusView view;
        // A camera that left the bus (unplugged, or resetting after a
        // download) sends nothing until it is opened again.
        if (!findCamera(station_, devicePath_, view)) {
            problem_ = kGone;
            return false;
        }
        paintTestPicture(frame, {view.friendlyName, view.identity.bcdDevice}, sequence_++);
        return true;
    }
    std::string problem() const override { return problem_; }

private:
    sim::SimPlatform& station_;
    std::string devicePath_;
    bool running_ = false;
    std::uint64_t sequence_ = 0;
    std::string problem_;

    static constexpr const char* kGone = "the camera has left the bus";
};

} // namespace

void paintTestPicture(Frame& frame, const TestPictureText& text, std::uint64_t sequence) {
    frame.resize(kTestPictureWidth, kTestPictureHeight, kBlack);
    const int barWidth = kTestPictureWidth / static_cast<int>(kBars.size());
    const int barHeight = kTestPictureHeight * 2 / 3;
    for (std::size_t bar = 0; bar < kBars.size(); ++bar)
        frame.fillRect(static_cast<int>(bar) * barWidth, 0,
                       bar + 1 == kBars.size()
                           ? kTestPictureWidth - static_cast<int>(bar) * barWidth
                           : barWidth,
                       barHeight, kBars[bar]);

    // The moving marker: one step of 8 pixels per picture.
    const int travel = kTestPictureWidth - 16;
    const int position = static_cast<int>((sequence * 8) % static_cast<std::uint64_t>(travel));
    frame.fillRect(position, barHeight - 12, 16, 12, kWhite);

    char version[32];
    std::snprintf(version, sizeof version, "bcdDevice %04X", text.bcdDevice);
    const int lineHeight = kGlyphHeight * kTextScale + 6;
    drawText(frame, kMargin, barHeight + kMargin, text.friendlyName, kWhite, kTextScale);
    drawText(frame, kMargin, barHeight + kMargin + lineHeight, version, kWhite, kTextScale);
}

std::vector<std::optional<std::string>> SimFrameSources::enumerate() {
    std::vector<platform::DeviceEntry> entries;
    station_.list(platform::DeviceListKind::VideoInput, entries);
    devicePaths_.clear();
    std::vector<std::optional<std::string>> names;
    for (const platform::DeviceEntry& entry : entries) {
        devicePaths_.push_back(entry.devicePath);
        if (entry.friendlyName.empty())
            names.emplace_back(std::nullopt);
        else
            names.emplace_back(entry.friendlyName);
    }
    return names;
}

std::unique_ptr<FrameSource> SimFrameSources::open(std::size_t position) {
    if (position >= devicePaths_.size())
        return nullptr;
    sim::BusView view;
    if (!findCamera(station_, devicePaths_[position], view))
        return nullptr;
    return std::make_unique<SimFrameSource>(station_, devicePaths_[position]);
}

} // namespace tessell::preview
