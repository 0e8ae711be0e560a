// The preview's pictures from V4L2 capture nodes: the format asked for, the
// stream's life, what a driver's buffers are trusted with, and the bound on
// every wait for a picture.

#include "platform/linux/v4l2_frame_source.h"
#include "tests/support/fake_v4l2.h"
#include "tests/support/fake_v4l2_stream.h"
#include "tests/support/sysfs_fixture.h"

#include <gtest/gtest.h>

namespace tessell::platform {
namespace {

using preview::Frame;
using testing::Delivery;
using testing::FakeStreamNode;
using testing::FakeStreamScript;

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kBlue = 0xFF0000FF;

// A YUYV picture: the left half white, the right half blue; each row
// followed by `padding` bytes that would be dark green if read as pixels.
std::vector<std::uint8_t> halfWhiteHalfBlue(std::uint32_t width, std::uint32_t height,
                                            std::size_t padding = 0) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t row = 0; row < height; ++row) {
        for (std::uint32_t x = 0; x < width; x += 2) {
            if (x < width / 2)
                bytes.insert(bytes.end(), {235, 128, 235, 128});
            else
                bytes.insert(bytes.end(), {41, 240, 41, 110});
        }
        bytes.insert(bytes.end(), padding, 0x10);
    }
    return bytes;
}

struct StreamRig {
    std::shared_ptr<FakeStreamScript> script = std::make_shared<FakeStreamScript>();
    V4l2FrameSource source{std::make_unique<FakeStreamNode>(script)};
};

struct ManualTime {
    ManualClock manual;
    ClockOverride useManual{manual};
};

// A 160 x 120 stream on a manual clock that the source's own waits move; the
// clock outlives the source.
struct TimedRig : ManualTime, StreamRig {
    TimedRig() {
        script->clock = &manual;
        script->sizes = {FrameSizeRange::discrete(160, 120)};
    }
};

TEST(V4l2Format, LargestYuyvSizeWithinThePreviewWindow) {
    using Sizes = std::vector<FrameSizeRange>;
    const auto d = FrameSizeRange::discrete;
    struct Row {
        const char* what;
        Sizes sizes;
        std::uint32_t width, height;
    };
    const Row rows[] = {
        {"discrete, larger ones left out",
         {d(640, 480), d(1920, 1080), d(1280, 720), d(320, 240)},
         1280,
         720},
        {"an equal area goes to the wider", {d(720, 720), d(960, 540)}, 960, 540},
        {"too wide for the window", {d(1600, 600), d(800, 600)}, 800, 600},
        {"only larger sizes: the smallest", {d(3840, 2160), d(1920, 1080)}, 1920, 1080},
        {"a range, on its steps", {{160, 1920, 16, 120, 1080, 8}}, 1280, 720},
        {"a range whose steps miss the limit", {{150, 2000, 100, 100, 1000, 300}}, 1250, 700},
        {"nonsense sizes are passed over", {d(0, 480), d(640, 0), d(320, 240)}, 320, 240},
        {"no sizes: the driver fits the window's", {}, 1280, 720},
    };
    for (const auto& row : rows) {
        const StreamFormat format = chooseYuyvFormat(row.sizes);
        EXPECT_EQ(format.pixelFormat, kPixelFormatYuyv) << row.what;
        EXPECT_EQ(format.width, row.width) << row.what;
        EXPECT_EQ(format.height, row.height) << row.what;
    }

    EXPECT_EQ(missingYuyvProblem({kPixelFormatMjpeg, kPixelFormatYuyv}), "");
    const std::string mjpegOnly =
        missingYuyvProblem({kPixelFormatMjpeg, fourcc('H', '2', '6', '4')});
    EXPECT_NE(mjpegOnly.find("MJPG, H264"), std::string::npos) << mjpegOnly;
    EXPECT_NE(mjpegOnly.find("YUYV"), std::string::npos) << mjpegOnly;
}

TEST(V4l2FrameSource, StreamsTheChosenFormatAndGivesEveryBufferBack) {
    StreamRig rig;
    rig.script->sizes = {FrameSizeRange::discrete(640, 480), FrameSizeRange::discrete(160, 120),
                         FrameSizeRange::discrete(1920, 1080)};
    rig.script->deliveries = {Delivery::picture(halfWhiteHalfBlue(640, 480)),
                              Delivery::picture(halfWhiteHalfBlue(640, 480))};

    ASSERT_TRUE(rig.source.start()) << rig.source.problem();
    ASSERT_EQ(rig.script->askedFormats.size(), 1u);
    EXPECT_EQ(rig.script->askedFormats[0].width, 640u);
    EXPECT_EQ(rig.script->askedFormats[0].height, 480u);
    EXPECT_EQ(rig.script->askedBuffers, kPreviewBuffers);
    EXPECT_EQ(rig.script->queued.size(), kPreviewBuffers) << "every buffer queued before streaming";
    EXPECT_TRUE(rig.script->streaming);
    EXPECT_TRUE(rig.source.start()) << "a second start keeps the running stream";
    EXPECT_EQ(rig.script->askedFormats.size(), 1u);

    Frame frame;
    for (int picture = 0; picture < 2; ++picture) {
        ASSERT_TRUE(rig.source.read(frame)) << rig.source.problem();
        ASSERT_EQ(frame.width, 640);
        ASSERT_EQ(frame.height, 480);
        EXPECT_EQ(frame.at(0, 0), kWhite);
        EXPECT_EQ(frame.at(319, 479), kWhite);
        EXPECT_EQ(frame.at(320, 0), kBlue);
        EXPECT_EQ(frame.at(639, 479), kBlue);
        EXPECT_EQ(rig.script->queued.size(), kPreviewBuffers) << "the buffer went back";
    }

    EXPECT_TRUE(rig.source.stop());
    EXPECT_FALSE(rig.script->streaming);
    EXPECT_TRUE(rig.script->buffers.empty()) << "unmapped and released after the stream stopped";
    EXPECT_FALSE(rig.source.read(frame));

    // Started again, with the driver padding its rows and granting two buffers.
    rig.script->granted = 2;
    rig.script->driverFormat = [](StreamFormat& format) {
        format.bytesPerLine += 64;
        format.imageSize = format.bytesPerLine * format.height;
    };
    rig.script->deliveries = {Delivery::picture(halfWhiteHalfBlue(640, 480, 64))};
    ASSERT_TRUE(rig.source.start()) << rig.source.problem();
    EXPECT_EQ(rig.script->queued.size(), 2u);
    ASSERT_TRUE(rig.source.read(frame)) << rig.source.problem();
    EXPECT_EQ(frame.at(0, 1), kWhite);
    EXPECT_EQ(frame.at(639, 479), kBlue);
}

TEST(V4l2FrameSource, UntrustedBuffersAreNeverShown) {
    StreamRig rig;
    rig.script->sizes = {FrameSizeRange::discrete(160, 120)};
    rig.script->bufferLength = 160 * 120 * 2;
    const auto good = halfWhiteHalfBlue(160, 120);
    auto truncated = good;
    truncated.resize(good.size() - 1);
    auto overlong = Delivery::picture(good);
    overlong.bytesUsed = static_cast<std::uint32_t>(good.size() + 4096);
    auto damaged = Delivery::picture(good);
    damaged.damaged = true;
    rig.script->deliveries = {Delivery::picture(truncated), overlong, damaged,
                              Delivery::picture({}), Delivery::picture(good)};
    ASSERT_TRUE(rig.source.start());

    Frame frame;
    frame.resize(1, 1, 0xFF123456);
    ASSERT_TRUE(rig.source.read(frame)) << rig.source.problem();
    EXPECT_EQ(frame.width, 160);
    EXPECT_EQ(frame.at(0, 0), kWhite) << "the one good picture, after four refused";
    EXPECT_EQ(rig.script->queued.size(), kPreviewBuffers) << "refused buffers went back too";

    // A buffer that is not one of the source's cannot be given back: the
    // stream ends, and later reads ask the driver nothing more.
    auto stranger = Delivery::picture(good);
    stranger.index = 9;
    rig.script->deliveries = {stranger};
    EXPECT_FALSE(rig.source.read(frame));
    EXPECT_NE(rig.source.problem().find("buffer 9 of 4"), std::string::npos)
        << rig.source.problem();
    const int dequeues = rig.script->dequeues;
    EXPECT_FALSE(rig.source.read(frame));
    EXPECT_EQ(rig.script->dequeues, dequeues);
    EXPECT_TRUE(rig.source.stop());
    EXPECT_TRUE(rig.script->buffers.empty());
}

TEST(V4l2FrameSource, ASilentStreamEndsEachReadInBoundedToolTime) {
    TimedRig rig;
    ASSERT_TRUE(rig.source.start());

    // Nothing at all: the first picture gets its longer allowance.
    Frame frame;
    const auto begin = rig.manual.now();
    EXPECT_FALSE(rig.source.read(frame));
    EXPECT_EQ(rig.manual.now() - begin, kFirstPictureLimit);
    EXPECT_EQ(rig.script->waited,
              std::chrono::duration_cast<std::chrono::milliseconds>(kFirstPictureLimit));
    EXPECT_NE(rig.source.problem().find("no picture from the camera for 4 s"), std::string::npos)
        << rig.source.problem();
    // A window asking again once the time is spent is not held up again.
    const auto waited = rig.script->waited;
    EXPECT_FALSE(rig.source.read(frame));
    EXPECT_EQ(rig.script->waited, waited);

    // The stream recovers; then it stops after one picture.
    rig.script->deliveries = {Delivery::picture(halfWhiteHalfBlue(160, 120))};
    ASSERT_TRUE(rig.source.read(frame)) << rig.source.problem();
    const auto afterPicture = rig.manual.now();
    EXPECT_FALSE(rig.source.read(frame));
    EXPECT_EQ(rig.manual.now() - afterPicture, kPictureGapLimit);

    // Refused pictures do not keep a stream alive; the problem says what came.
    ASSERT_TRUE(rig.source.stop());
    ASSERT_TRUE(rig.source.start());
    std::vector<std::uint8_t> shortPicture(100, 128);
    for (int count = 0; count < 3; ++count)
        rig.script->deliveries.push_back(Delivery::picture(shortPicture));
    EXPECT_FALSE(rig.source.read(frame));
    EXPECT_NE(rig.source.problem().find("short pictures (100 bytes for 160 x 120)"),
              std::string::npos)
        << rig.source.problem();
}

// The window looks for a picture on every tick of its timer: a look never
// waits, says whether the stream is still alive, and ends it once the
// silence outlasts the same bound a read has.
TEST(V4l2FrameSource, AWindowsLookNeverWaits) {
    using preview::FrameRead;
    TimedRig rig;
    ASSERT_TRUE(rig.source.start());

    Frame frame;
    EXPECT_EQ(rig.source.poll(frame), FrameRead::NotYet);
    rig.script->deliveries = {Delivery::picture(halfWhiteHalfBlue(160, 120))};
    EXPECT_EQ(rig.source.poll(frame), FrameRead::Picture);
    EXPECT_EQ(frame.width, 160);
    EXPECT_EQ(rig.source.poll(frame), FrameRead::NotYet);
    EXPECT_EQ(rig.script->waited, std::chrono::milliseconds(0));

    rig.manual.advance(kPictureGapLimit - std::chrono::milliseconds(1));
    EXPECT_EQ(rig.source.poll(frame), FrameRead::NotYet);
    rig.manual.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(rig.source.poll(frame), FrameRead::Ended);
    EXPECT_NE(rig.source.problem().find("no picture from the camera for 2 s"), std::string::npos)
        << rig.source.problem();
    EXPECT_EQ(rig.script->waited, std::chrono::milliseconds(0));

    // A camera that leaves ends the stream at the next look.
    rig.script->deliveries = {Delivery::failure(ENODEV)};
    EXPECT_EQ(rig.source.poll(frame), FrameRead::Ended);
    EXPECT_EQ(rig.source.poll(frame), FrameRead::Ended);
    EXPECT_NE(rig.source.problem().find("left the bus"), std::string::npos) << rig.source.problem();
}

TEST(V4l2FrameSource, AStartThatFailsSaysWhyAndHoldsNothing) {
    struct Row {
        const char* what;
        std::function<void(FakeStreamScript&)> script;
        const char* problem;
        bool formatAsked;
    };
    const Row rows[] = {
        {"a camera that sends MJPEG only",
         [](FakeStreamScript& s) { s.formats = {kPixelFormatMjpeg}; }, "only MJPG", false},
        {"another program holds the stream", [](FakeStreamScript& s) { s.setFormatError = EBUSY; },
         "another program is using the camera", true},
        {"buffers refused while another program streams",
         [](FakeStreamScript& s) { s.mapError = EBUSY; }, "another program is using the camera",
         true},
        {"a driver that sets another format",
         [](FakeStreamScript& s) {
             s.driverFormat = [](StreamFormat& f) { f.pixelFormat = kPixelFormatMjpeg; };
         },
         "set MJPG instead of YUYV", true},
        {"rows closer than a row is long",
         [](FakeStreamScript& s) {
             s.driverFormat = [](StreamFormat& f) { f.bytesPerLine = 100; };
         },
         "rows 100 bytes apart", true},
        {"a camera unplugged as the stream starts",
         [](FakeStreamScript& s) { s.streamOnError = ENODEV; }, "the camera has left the bus",
         true},
    };
    for (const auto& row : rows) {
        StreamRig rig;
        rig.script->sizes = {FrameSizeRange::discrete(160, 120)};
        row.script(*rig.script);
        EXPECT_FALSE(rig.source.start()) << row.what;
        EXPECT_NE(rig.source.problem().find(row.problem), std::string::npos)
            << row.what << ": " << rig.source.problem();
        EXPECT_EQ(rig.script->askedFormats.empty(), !row.formatAsked) << row.what;
        EXPECT_FALSE(rig.script->streaming) << row.what;
        EXPECT_TRUE(rig.script->buffers.empty()) << row.what;
        // The format reserves a uvcvideo camera for its handle until the
        // buffers are released.
        if (row.formatAsked) {
            EXPECT_GE(rig.script->releases, 1) << row.what;
        }
        Frame frame;
        EXPECT_FALSE(rig.source.read(frame)) << row.what;
    }
}

TEST(V4l2FrameSource, ACameraLeavingEndsTheStreamAtOnce) {
    TimedRig rig;
    rig.script->deliveries = {Delivery::picture(halfWhiteHalfBlue(160, 120)),
                              Delivery::failure(ENODEV)};
    ASSERT_TRUE(rig.source.start());
    Frame frame;
    ASSERT_TRUE(rig.source.read(frame));
    const auto before = rig.manual.now();
    EXPECT_FALSE(rig.source.read(frame));
    EXPECT_EQ(rig.manual.now(), before) << "no waiting for a camera that is gone";
    EXPECT_EQ(rig.source.problem(), "the camera has left the bus");
    EXPECT_FALSE(rig.source.read(frame));

    // Stopping a stream whose camera is gone is no failure.
    rig.script->streamOffError = ENODEV;
    EXPECT_TRUE(rig.source.stop());
    EXPECT_TRUE(rig.script->buffers.empty());
}

// The preview's devices are the device list's, in its order and under its
// names, whatever the node numbers.
TEST(V4l2FrameSources, TheDeviceListsCamerasInItsOrder) {
    testing::SysfsFixture sys;
    sys.addRootHub(1);
    const auto camera = [&sys](const std::string& name, const std::string& product) {
        sys.addDevice(name, {"3f2a", "0731", "0100", "Maker", product, "", "1",
                             testing::cameraDescriptors(0x3F2A, 0x0731, 0x0100, {})});
        sys.addInterface(name + ":1.0", "0e", "01");
        sys.addInterface(name + ":1.1", "0e", "02");
    };
    camera("1-10", "Far camera");
    sys.addVideoNode("1-10:1.0", "video0");
    sys.addVideoNode("1-10:1.0", "video1");
    camera("1-2", "Near camera");
    sys.addVideoNode("1-2:1.0", "video2");
    sys.addVideoNode("1-2:1.0", "video3");

    auto nodes = std::make_unique<testing::FakeOpener>();
    nodes->add("video0")->caps.card = "Far camera";
    nodes->add("video1")->caps.deviceCaps = kCapMetaCapture;
    nodes->add("video2")->caps.card = "Near camera";
    nodes->add("video3")->caps.deviceCaps = kCapMetaCapture;
    LinuxCameras cameras(sys.root(), "/dev", std::move(nodes));

    auto opener = std::make_unique<testing::FakeStreamOpener>();
    auto* streams = opener.get();
    V4l2FrameSources sources(cameras, std::move(opener));
    EXPECT_TRUE(sources.supported());
    const auto names = sources.enumerate();
    EXPECT_EQ(names, (std::vector<std::optional<std::string>>{"Near camera", "Far camera"}));
    EXPECT_NE(sources.open(0), nullptr);
    EXPECT_NE(sources.open(1), nullptr);
    EXPECT_EQ(streams->opened, (std::vector<std::string>{"video2", "video0"}));
    EXPECT_EQ(sources.open(2), nullptr);

    // A node the user may not open says what to do about it.
    streams->openErrors["video0"] = EACCES;
    EXPECT_EQ(sources.open(1), nullptr);
    ASSERT_EQ(sources.problems().size(), 1u);
    EXPECT_NE(sources.problems()[0].find("permission denied"), std::string::npos)
        << sources.problems()[0];

    // video2 now belongs to another device than the one enumerated.
    std::filesystem::remove(sys.root() / "class/video4linux/video2");
    EXPECT_EQ(sources.open(0), nullptr);
    ASSERT_EQ(sources.problems().size(), 1u);
    EXPECT_EQ(sources.problems()[0], "Near camera has left the bus");
}

} // namespace
} // namespace tessell::platform
