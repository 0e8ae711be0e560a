// `tessell snapshot`: its options, the PPM it writes, a stream that gives
// out early, and the built program against a simulated station.

#include "app/snapshot_command.h"
#include "app/startup.h"
#include "platform/instance_guard.h"
#include "platform/sim/sim_frame_source.h"
#include "tests/support/process.h"
#include "tests/support/test_env.h"

#include <deque>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

namespace tessell {
namespace {

using preview::Frame;
using testing::TempDir;

TEST(SnapshotArguments, OptionsAndTheirRefusals) {
    SnapshotOptions options;
    std::string error;
    ASSERT_TRUE(parseSnapshotArguments({}, options, error));
    EXPECT_EQ(options.camera, 0u);
    EXPECT_EQ(options.frames, kSnapshotDefaultFrames);
    EXPECT_FALSE(options.out);

    // -v (the trace, started by the caller) may stand anywhere but in a value's place.
    ASSERT_TRUE(parseSnapshotArguments({"--out", "a.ppm", "-v", "--camera", "3", "--frames", "1"},
                                       options, error));
    EXPECT_EQ(options.camera, 3u);
    EXPECT_EQ(options.frames, 1);
    EXPECT_EQ(options.out, std::filesystem::path("a.ppm"));

    struct Row {
        std::vector<std::string> args;
        const char* error;
    };
    const Row refused[] = {
        {{"--json"}, "unknown argument \"--json\""},
        {{"--camera", "-1"}, "not \"-1\""},
        {{"--frames", "0"}, "from 1 to 100000"},
        {{"--frames", "99999999999999999999"}, "from 1 to 100000"},
        {{"--out", ""}, "--out needs a file name"},
        {{"--out", "-v"}, "--out needs a value"},
    };
    for (const auto& row : refused) {
        error.clear();
        EXPECT_FALSE(parseSnapshotArguments(row.args, options, error)) << row.error;
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
}

// A camera that sends `frames` pictures (picture n is one colour, n + 1 in
// every channel) and then nothing, or cannot start at all.
class ScriptedSources final : public preview::FrameSources {
public:
    int frames = 0;
    bool startFails = false;
    std::vector<std::optional<std::string>> names{"Bench camera"};

    bool supported() const override { return true; }
    std::vector<std::optional<std::string>> enumerate() override { return names; }
    std::unique_ptr<preview::FrameSource> open(std::size_t position) override {
        if (position >= names.size())
            return nullptr;
        return std::make_unique<Source>(*this);
    }

private:
    class Source final : public preview::FrameSource {
    public:
        explicit Source(const ScriptedSources& script) : script_(script) {}
        bool start() override { return !script_.startFails; }
        bool stop() override { return true; }
        bool read(Frame& frame) override {
            if (sent_ == script_.frames)
                return false;
            const auto level = static_cast<std::uint32_t>(++sent_);
            frame.resize(2, 1, 0xFF000000 | level << 16 | level << 8 | level);
            return true;
        }
        std::string problem() const override {
            return script_.startFails ? "another program is using the camera's picture"
                                      : "no picture from the camera for 2 s";
        }

    private:
        const ScriptedSources& script_;
        int sent_ = 0;
    };
};

TEST(SnapshotCommand, WritesTheLastPictureAndCountsWhatCame) {
    Frame two;
    two.resize(2, 1, 0);
    two.pixels = {0xFF102030, 0x00A0B0C0};
    EXPECT_EQ(encodePpm(two), std::string("P6\n2 1\n255\n\x10\x20\x30\xA0\xB0\xC0", 17));

    TempDir dir;
    SnapshotOptions options;
    options.frames = 5;
    options.out = dir / "frame.ppm";
    ScriptedSources sources;
    const auto run = [&] {
        std::ostringstream out, err;
        const int status = takeSnapshot(sources, options, out, err);
        return std::tuple{status, out.str(), err.str()};
    };

    sources.frames = 5;
    auto [status, out, err] = run();
    EXPECT_EQ(status, kSnapshotTaken) << err;
    EXPECT_TRUE(std::regex_match(out, std::regex("snapshot: 5 frames 2x1 from Bench camera in "
                                                 "[0-9]+\\.[0-9]{2} s\n")))
        << out;
    EXPECT_EQ(dir.read("frame.ppm"), std::string("P6\n2 1\n255\n\5\5\5\5\5\5", 17));

    // A stream that gives out early: exit 1, the reason, and the last
    // picture that did come.
    sources.frames = 3;
    std::tie(status, out, err) = run();
    EXPECT_EQ(status, kSnapshotNoPicture);
    EXPECT_NE(out.find("snapshot: 3 frames 2x1"), std::string::npos) << out;
    EXPECT_NE(err.find("sent 3 of 5 frames: no picture from the camera for 2 s"), std::string::npos)
        << err;
    EXPECT_EQ(dir.read("frame.ppm"), std::string("P6\n2 1\n255\n\3\3\3\3\3\3", 17));

    // A camera that cannot start leaves the older picture as it was.
    sources.startFails = true;
    std::tie(status, out, err) = run();
    EXPECT_EQ(status, kSnapshotNoPicture);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("sent 0 of 5 frames: another program is using"), std::string::npos) << err;
    EXPECT_EQ(dir.read("frame.ppm").size(), 17u);

    // A file that cannot be written is an error, even with every frame.
    sources.startFails = false;
    sources.frames = 5;
    options.out = dir / "missing" / "frame.ppm";
    std::tie(status, out, err) = run();
    EXPECT_EQ(status, kSnapshotError);
    EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

// The built program, as a station's script runs it.
TEST(SnapshotCommand, TheProgramAgainstASimulatedStation) {
    TempDir dir;
    TempDir runtime;
    const auto station =
        dir.write("station.json", nlohmann::json{{"devices",
                                                  {{{"friendly_name", "Line camera"}},
                                                   {{"usb", false}, {"friendly_name", ""}}}}}
                                      .dump());
    const auto run = [&](std::vector<std::string> arguments,
                         const std::filesystem::path& stationFile) {
        arguments.insert(arguments.begin(), "snapshot");
        return testing::runProcess(
            TESSELL_BINARY, arguments,
            {{"TESSELL_SIM", stationFile.string()}, {"XDG_RUNTIME_DIR", runtime.path().string()}});
    };

    const auto taken = run({"--frames", "3", "--out", (dir / "frame.ppm").string()}, station);
    ASSERT_TRUE(taken.finished);
    EXPECT_EQ(taken.status, kSnapshotTaken) << taken.err;
    EXPECT_TRUE(std::regex_match(
        taken.out, std::regex("snapshot: 3 frames 640x360 from Line camera in [0-9.]+ s\n")))
        << taken.out;
    // The test picture's bars, the first and the last, as the preview shows them.
    const std::string ppm = dir.read("frame.ppm");
    const std::string header = "P6\n640 360\n255\n";
    ASSERT_EQ(ppm.size(), header.size() + 640 * 360 * 3);
    EXPECT_EQ(ppm.substr(0, header.size()), header);
    Frame expected;
    preview::paintTestPicture(expected, {"Line camera", 0}, 2);
    for (const auto& [x, y] : {std::pair{10, 10}, std::pair{630, 10}, std::pair{320, 200}}) {
        const std::size_t at = header.size() + (static_cast<std::size_t>(y) * 640 + x) * 3;
        const std::uint32_t pixel = expected.at(x, y);
        EXPECT_EQ(static_cast<unsigned char>(ppm[at]), (pixel >> 16) & 0xFF) << x << "," << y;
        EXPECT_EQ(static_cast<unsigned char>(ppm[at + 1]), (pixel >> 8) & 0xFF) << x << "," << y;
        EXPECT_EQ(static_cast<unsigned char>(ppm[at + 2]), pixel & 0xFF) << x << "," << y;
    }

    const auto absent = run({"--camera", "2"}, station);
    EXPECT_EQ(absent.status, kSnapshotNoPicture);
    EXPECT_NE(absent.err.find("no camera 2 (2 video devices)"), std::string::npos) << absent.err;
    EXPECT_EQ(absent.out, "");

    const auto wrong = run({"--frames", "none"}, station);
    EXPECT_EQ(wrong.status, kSnapshotError);
    EXPECT_NE(wrong.err.find("usage: tessell snapshot"), std::string::npos) << wrong.err;
    const auto broken = run({}, dir.write("broken.json", "{\"devices\": ["));
    EXPECT_EQ(broken.status, kSnapshotError);
    EXPECT_NE(broken.err.find("TESSELL_SIM"), std::string::npos) << broken.err;

    // Streaming while another copy downloads would disturb it.
    const auto guard = platform::makeInstanceGuard(runtime.path(), kInstanceMutexName);
    ASSERT_EQ(guard->acquire().status, platform::InstanceStatus::Acquired);
    const auto locked = run({}, station);
    EXPECT_EQ(locked.status, kSnapshotError);
    EXPECT_NE(locked.err.find("another copy of the tool is running; not streaming"),
              std::string::npos)
        << locked.err;
    EXPECT_EQ(locked.out, "");
}

} // namespace
} // namespace tessell
