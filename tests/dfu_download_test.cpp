// The firmware-received downloads against simulated cameras: the 7312
// download, the module and serial-flash downloads of the 'm' family, and the
// module preparation. What the camera holds afterwards is compared with what
// was sent, and every injected fault must end as a failure.

#include "common/trace.h"
#include "download/builtin_image.h"
#include "download/dfu_download.h"
#include "support/sim_link.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using nlohmann::json;

namespace tessell::testing {
namespace {

// The rig's manual clock, telling the test about every sleep before it
// happens: what a procedure shows while it waits.
class WatchedClock final : public Clock {
public:
    WatchedClock(ManualClock& inner, std::function<void(Duration)> onSleep)
        : inner_(inner), onSleep_(std::move(onSleep)) {}
    TimePoint now() const override { return inner_.now(); }
    void sleepFor(Duration toolTime) override {
        onSleep_(toolTime);
        inner_.sleepFor(toolTime);
    }
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Duration toolTime,
                 const std::function<bool()>& ready) override {
        return inner_.waitFor(cv, lock, toolTime, ready);
    }
    double timeScale() const override { return 1.0; }
    void setTimeScale(double) override {}

private:
    ManualClock& inner_;
    std::function<void(Duration)> onSleep_;
};

// An image with a header the camera boots from once it is written whole.
Bytes bootableImage(std::size_t length, std::uint8_t kind, std::uint32_t seed = 11) {
    Bytes bytes = pattern(length, seed);
    bytes[0] = 0x89;
    bytes[1] = kind;
    return bytes;
}

std::uint8_t xorOf(const Bytes& bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t byte : bytes)
        sum ^= byte;
    return sum;
}

Bytes padded(Bytes bytes, std::size_t blockSize) {
    bytes.resize((bytes.size() + blockSize - 1) / blockSize * blockSize, 0xFF);
    return bytes;
}

bool bootable(const Bytes& flash) {
    return flash.size() >= 2 && ((flash[0] == 0x55 && flash[1] == 0x90) ||
                                 (flash[0] == 0x89 && flash[1] >= 0x10 && flash[1] <= 0x2F));
}

bool sameRange(const Bytes& memory, std::size_t from, const Bytes& expected, std::size_t begin,
               std::size_t end) {
    return memory.size() >= from + (end - begin) &&
           std::equal(expected.begin() + static_cast<std::ptrdiff_t>(begin),
                      expected.begin() + static_cast<std::ptrdiff_t>(end),
                      memory.begin() + static_cast<std::ptrdiff_t>(from));
}

std::size_t count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// Each expected line appears, whole, in this order (other lines may come between).
::testing::AssertionResult inOrder(const std::vector<std::string>& lines,
                                   const std::vector<std::string>& expected) {
    auto at = lines.begin();
    for (const auto& line : expected) {
        at = std::find(at, lines.end(), line);
        if (at == lines.end()) {
            std::string seen;
            for (const auto& l : lines)
                seen += "\n  [" + l + "]";
            return ::testing::AssertionFailure()
                   << "missing or out of order: [" << line << "]; trace was:" << seen;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

std::string formatted(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One simulated station with the first camera opened on a link, the trace
// captured and the status block of the download.
struct Bench {
    explicit Bench(const json& cameras) : rig(cameras), devices(rig.platform()), link(devices) {
        EXPECT_EQ(link.OpenCamera(chip::kAnyFamily, 0, 0).status(), 0);
    }

    Bytes flash() { return rig.platform().camera(0).flashContents(); }
    // The module preparation of the camera on the station's first port.
    bool prepareModule() { return prepare_module(link, rig.platform(), {"sim-hub-1", 1}).ok(); }
    Bytes module() { return rig.platform().camera(0).moduleContents(); }
    bool onBus() { return rig.platform().camera(0).view().onBus; }
    std::uint8_t readRegister(std::uint16_t address) {
        std::uint8_t value = 0xEE;
        EXPECT_EQ(link.ReadRegister(address, value), status::kOk) << "register " << address;
        return value;
    }

    SimRig rig;
    ServicedDevices devices;
    CameraLink link;
    trace::Capture trace;
    DownloadStatus status;
};

json camera7312(const json& faults = json::array(), int blockSize = 4096) {
    return json::array({{{"chip_id", "0xB0"},
                         {"flash", {{"part", "0x79"}}},
                         {"block_size", blockSize},
                         {"faults", faults}}});
}

// --- download_7312 ------------------------------------------------------------

TEST(Download7312, WritesTheWholeImageAndLeavesABootableCamera) {
    Bench bench(camera7312());
    FirmwareImage image;
    // 10001 bytes in 4096-byte blocks: 2287 pad bytes, an odd count that
    // inverts the checksum.
    const Bytes file = bootableImage(10001, 0x16);
    ASSERT_TRUE(image.assign(file));
    std::array<std::uint8_t, 2> results{0xEE, 0xEE};
    bench.link.downloadSlot() = {1, results};

    std::vector<std::pair<Clock::Duration, int>> sleeps; // (length, progress shown)
    WatchedClock watched(bench.rig.clock, [&](Clock::Duration d) {
        sleeps.emplace_back(d, bench.status.progress.load());
    });
    ClockOverride useWatched(watched);
    EXPECT_EQ(outcomeOf(download_7312(image, bench.link, 0, &bench.status)), "passed");

    // The flash-type value of table 0 for a 7312 went into the image and was sent.
    Bytes sent = file;
    sent[2] = 4;
    EXPECT_EQ(image.buffer()[2], 4);
    const Bytes flash = bench.flash();
    EXPECT_TRUE(sameRange(flash, 0, sent, 0, sent.size()));
    EXPECT_TRUE(std::all_of(flash.begin() + 10001, flash.begin() + 12288,
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(bootable(flash));
    EXPECT_EQ(bench.status.stage, stage::kFinished);
    EXPECT_EQ(bench.status.progress, 100);
    const std::uint8_t checksum = xorOf(padded(sent, 4096));
    EXPECT_EQ(checksum, static_cast<std::uint8_t>(~xorOf(sent)));
    EXPECT_EQ(bench.status.computedChecksum, checksum);
    EXPECT_EQ(bench.status.cameraChecksum, checksum);
    EXPECT_EQ(results[1], 0) << "the outcome byte at the download value";
    EXPECT_FALSE(bench.onBus()) << "the chip is reset at the end";

    // A 10 ms pause after each block, with the progress of that block.
    std::vector<int> blockProgress;
    for (const auto& [length, progress] : sleeps)
        if (length == 10ms)
            blockProgress.push_back(progress);
    EXPECT_EQ(blockProgress, (std::vector<int>{5, 41, 78}));

    const auto lines = bench.trace.lines();
    EXPECT_TRUE(inOrder(
        lines, {"downloading...", "bin[2] = 4", "checksum is " + formatted("%x", xorOf(sent)),
                "flash type is 0", "get property size", "in transfer data.", "Get FW checksum",
                "retry counter 0",
                "FW checksum = 0x" + formatted("%02X", checksum) + " \r\nAP checksum = 0x" +
                    formatted("%02X", checksum) + " \r\n**Checksum Match!**\r\n",
                "end"}));
    EXPECT_EQ(count(lines, "in transfer data."), 1u);
}

TEST(Download7312, SmallBlocksTraceEveryTenthBlockAndAnExactFitNeedsNoPadding) {
    Bench bench(camera7312(json::array(), 512));
    FirmwareImage image;
    const Bytes file = bootableImage(512 * 21, 0x16, 5);
    ASSERT_TRUE(image.assign(file));
    EXPECT_EQ(outcomeOf(download_7312(image, bench.link, 0, &bench.status)), "passed");
    Bytes sent = file;
    sent[2] = 4;
    EXPECT_EQ(bench.status.computedChecksum, xorOf(sent)) << "no pad bytes";
    EXPECT_TRUE(sameRange(bench.flash(), 0, sent, 0, sent.size()));
    // Blocks 1, 11 and 21.
    EXPECT_EQ(count(bench.trace.lines(), "in transfer data."), 3u);
}

struct FaultCase {
    const char* name;
    json faults;
    std::vector<std::string> trace; // in order
};

TEST(Download7312, EveryFaultEndsAsAFailureAndTheCameraDoesNotBoot) {
    const FaultCase cases[] = {
        {"block put failing twice",
         json::array({{{"op", "set"},
                       {"selector", 10},
                       {"nth", 2},
                       {"times", 2},
                       {"status", "0x80004005"}}}),
         {"put_Property XU_DFU_ACCESS_CONTROL fail.", "Resend Command.\r\n",
          "put_Property XU_DFU_ACCESS_CONTROL fail."}},
        {"block put recovered on resend",
         json::array({{{"op", "set"}, {"selector", 10}, {"nth", 2}, {"status", "0x80004005"}}}),
         {"put_Property XU_DFU_ACCESS_CONTROL fail.", "Resend Command.\r\n",
          "put_Property XU_DFU_ACCESS_CONTROL has been recovered.", "retry counter 1", "end"}},
        {"corrupted block", json::array({{{"corrupt_block", 2}}}), {"retry counter 0", "end"}},
        {"checksum read failing three times",
         json::array({{{"op", "get"},
                       {"selector", 11},
                       {"nth", 1},
                       {"times", 3},
                       {"in_download", true},
                       {"status", "0x80004005"}}}),
         {"Get FW checksum", "get_Property XU_DFU_CHECKSUM fail.\r\n", "Resend Command fail.\r\n",
          "get_Property XU_DFU_CHECKSUM fail.\r\n"}},
        {"checksum read failing twice",
         json::array({{{"op", "get"},
                       {"selector", 11},
                       {"nth", 1},
                       {"times", 2},
                       {"in_download", true},
                       {"status", "0x80004005"}}}),
         {"get_Property XU_DFU_CHECKSUM has been recovered.\r\n", "retry counter 1"}},
        {"enable failing twice",
         json::array({{{"op", "set"},
                       {"selector", 9},
                       {"nth", 1},
                       {"times", 2},
                       {"status", "0x80004005"}}}),
         {"put_Property XU_DFU_ENABLE_CONTROL = 1 fail.", "Resend Command XU_DFU_ENABLE_CONTROL.",
          "put_Property XU_ISP_ENABLE = 1 fail again, goto reset chip"}},
        {"enable recovered on resend",
         json::array({{{"op", "set"}, {"selector", 9}, {"nth", 1}, {"status", "0x80004005"}}}),
         {"put_Property XU_ISP_ENABLE = 1 has been recovered.", "retry counter 1"}},
        {"block size unreadable",
         json::array({{{"op", "len"},
                       {"selector", 10},
                       {"nth", 2},
                       {"times", 2},
                       {"status", "0x80004005"}}}),
         {"get_PropertySize XU_DFU_ACCESS_CONTROL fail.", "Resend Command XU_DFU_ACCESS_CONTROL.",
          "get_PropertySize XU_DFU_ACCESS_CONTROL fail."}},
        {"finish refused",
         json::array({{{"op", "set"}, {"selector", 12}, {"nth", 1}, {"status", "0x80004005"}}}),
         {"DL_FINISH_PROCESS fail."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(camera7312(c.faults));
        FirmwareImage image;
        ASSERT_TRUE(image.assign(bootableImage(10000, 0x16)));
        std::array<std::uint8_t, 2> results{0, 0};
        bench.link.downloadSlot() = {1, results};
        EXPECT_EQ(outcomeOf(download_7312(image, bench.link, 0, &bench.status)), "failed");
        EXPECT_EQ(results[1], 1);
        EXPECT_EQ(bench.status.stage, stage::kFinished);
        EXPECT_EQ(bench.status.progress, 100);
        EXPECT_FALSE(bootable(bench.flash()));
        const auto lines = bench.trace.lines();
        EXPECT_TRUE(inOrder(lines, c.trace));
        EXPECT_EQ(count(lines, "**Checksum Match!**\r\n"), 0u);
    }
}

TEST(Download7312, AChecksumReadFailingOnceIsReadAgainWithoutBlame) {
    Bench bench(camera7312(json::array({{{"op", "get"},
                                         {"selector", 11},
                                         {"nth", 1},
                                         {"in_download", true},
                                         {"status", "0x80004005"}}})));
    FirmwareImage image;
    ASSERT_TRUE(image.assign(bootableImage(5000, 0x16)));
    EXPECT_EQ(outcomeOf(download_7312(image, bench.link, 0, &bench.status)), "passed");
    EXPECT_TRUE(bootable(bench.flash()));
    EXPECT_TRUE(inOrder(bench.trace.lines(), {"retry counter 0"}));
}

// --- Download_Fw ----------------------------------------------------------------

json moduleCamera(const json& faults = json::array(), int resetControl = 0,
                  const std::string& moduleFile = "module.bin") {
    return json::array({{{"chip_id", "0xD2"},
                         {"flash", {{"part", "0x79"}}},
                         {"module", {{"size", 131072}, {"file", moduleFile}}},
                         {"registers", {{"0x2C00", resetControl}, {"0x20E9", "0xFF"}}},
                         {"faults", faults}}});
}

TEST(DownloadFw, ModuleDownloadFillsTheModuleAfterTheChecksumBusyWait) {
    for (const std::uint8_t family : {std::uint8_t{254}, std::uint8_t{255}}) {
        SCOPED_TRACE(static_cast<int>(family));
        // Old content in the module: only the erase sequence clears it.
        TempDir folder;
        const auto moduleFile = folder.write("module.bin", std::string(131072, '\0'));
        Bench bench(moduleCamera(json::array(), family == 255 ? 2 : 0, moduleFile.string()));
        FirmwareImage image;
        const Bytes file = pattern(70001, family);
        ASSERT_TRUE(image.assign(file));

        std::vector<std::pair<Clock::Duration, int>> sleeps; // (length, stage)
        WatchedClock watched(bench.rig.clock, [&](Clock::Duration d) {
            sleeps.emplace_back(d, bench.status.stage.load());
        });
        ClockOverride useWatched(watched);
        EXPECT_EQ(outcomeOf(Download_Fw(image, bench.link, family, &bench.status, 30)), "passed");

        const Bytes module = bench.module();
        const Bytes expected = padded(file, 4096);
        EXPECT_TRUE(sameRange(module, 0, expected, 0, expected.size()));
        EXPECT_TRUE(std::all_of(module.begin() + static_cast<std::ptrdiff_t>(expected.size()),
                                module.end(), [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_EQ(bench.flash(), Bytes(65536, 0xFF)) << "the serial flash is not touched";
        EXPECT_EQ(bench.status.stage, stage::kFinished);
        EXPECT_EQ(bench.status.progress, 100);
        EXPECT_EQ(bench.status.computedChecksum, xorOf(expected));
        EXPECT_EQ(bench.status.cameraChecksum, xorOf(expected));

        // The camera is busy for 1.5 s: looked at after 0.8 s, then once a
        // second, with stage 25 shown meanwhile.
        const auto lines = bench.trace.lines();
        EXPECT_TRUE(inOrder(lines, {"--in Download_Fw, sftype=" + std::to_string(family) + " (MCM)",
                                    "--while start", "--while end",
                                    "trigger check sum calculate, the result = 0x0",
                                    "wait 1 second", "get the FW busy flag = 0x1", "wait 1 second",
                                    "get the FW busy flag = 0x0"}));
        EXPECT_EQ(count(lines, "get the FW busy flag = 0x1"), 1u);
        const auto busySleep = std::find_if(sleeps.begin(), sleeps.end(), [](const auto& s) {
            return s.first == 1000ms && s.second == stage::kBusyWait;
        });
        EXPECT_NE(busySleep, sleeps.end());

        if (family == 254) {
            // Reset-control bit 1 clear: the tool resets the camera.
            EXPECT_TRUE(inOrder(lines, {"AP do soft reset"}));
            EXPECT_FALSE(bench.onBus());
        } else {
            // Bit 1 set: the camera resets itself, the tool leaves it alone.
            EXPECT_EQ(count(lines, "AP do soft reset"), 0u);
            EXPECT_TRUE(bench.onBus());
            EXPECT_EQ(bench.readRegister(reg::kModuleChecksum), 0xDF) << "bit 5 cleared";
        }
    }
}

TEST(DownloadFw, SerialFlashDownloadLoadsTheFlashTableAndStreamsIntoTheFlash) {
    // A PMC part erases with 0xD7 only (table 2): without the table the old
    // content would stay under the new image. Chip 0xD2 with a flash family
    // does not wait for a module checksum.
    TempDir folder;
    Bench bench(
        json::array({{{"chip_id", "0xD2"},
                      {"flash", {{"part", "0x7B"}, {"file", flashFile(folder, Bytes(65536, 0))}}},
                      {"module", {{"size", 131072}}},
                      {"block_size", 1000}}}));
    FirmwareImage image;
    Bytes file = pattern(20001, 3);
    file[0] = 0xF9; // an image with its signature invalidated
    file[1] = 0xFF;
    ASSERT_TRUE(image.assign(file));
    EXPECT_EQ(outcomeOf(Download_Fw(image, bench.link, 2, &bench.status, 30)), "passed");

    const Bytes flash = bench.flash();
    // The firmware writes the 'm' header itself once the checksum matched.
    EXPECT_EQ(flash[0], 0x89);
    EXPECT_EQ(flash[1], 0x26);
    EXPECT_TRUE(sameRange(flash, 2, file, 2, file.size()));
    EXPECT_TRUE(std::all_of(flash.begin() + 20001, flash.begin() + 21000,
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(bootable(flash));
    EXPECT_EQ(bench.module(), Bytes(131072, 0xFF)) << "the module is not touched";
    EXPECT_EQ(bench.status.stage, stage::kFinished);
    EXPECT_EQ(bench.status.cameraChecksum, xorOf(padded(file, 1000)));
    const auto lines = bench.trace.lines();
    EXPECT_TRUE(inOrder(lines, {"--in Download_Fw, sftype=2 (SF)", "--while start", "--while end",
                                "AP do soft reset"}));
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("trigger check sum");
    }));
}

TEST(DownloadFw, EveryFaultEndsAsAFailure) {
    const json putFailsTwice = {
        {"op", "set"}, {"selector", 10}, {"nth", 3}, {"times", 2}, {"status", "0x80004005"}};
    const FaultCase cases[] = {
        {"block put failing twice",
         json::array({putFailsTwice}),
         {"--while start", "put_Property XU_DFU_ACCESS_CONTROL fail.\r\n",
          "put_Property XU_DFU_ENABLE_CONTROL = 0 fail.\r\n"}},
        {"block put recovered on resend",
         json::array({{{"op", "set"}, {"selector", 10}, {"nth", 3}, {"status", "0x80004005"}}}),
         {"put_Property XU_DFU_ACCESS_CONTROL has been recovered.\r\n", "--while end",
          "XU_DFU_CHECKSUM incorrect\r\n", "F=1,R=1"}},
        {"corrupted block",
         json::array({{{"corrupt_block", 5}}}),
         {"--while end", "XU_DFU_CHECKSUM incorrect\r\n", "F=1,R=0"}},
        {"checksum read failing three times",
         json::array({{{"op", "get"},
                       {"selector", 11},
                       {"nth", 1},
                       {"times", 3},
                       {"in_download", true},
                       {"status", "0x80004005"}}}),
         {"get_Property XU_DFU_CHECKSUM fail.\r\n", "get_Property XU_DFU_CHECKSUM fail.\r\n",
          "put_Property XU_DFU_ENABLE_CONTROL = 0 fail.\r\n"}},
        {"busy flag that never clears",
         json::array({{{"busy_forever", true}}}),
         {"trigger check sum calculate, the result = 0x0", " time out!!", "F=1,R=0"}},
        {"checksum trigger refused",
         json::array({{{"op", "set"}, {"selector", 26}, {"nth", 1}, {"status", "0x80004005"}}}),
         {"trigger check sum calculate, the result = 0x80004005", "F=1,R=0"}},
        {"busy flag unreadable",
         json::array({{{"op", "get"}, {"selector", 26}, {"nth", 1}, {"status", "0x80004005"}}}),
         {"get_Property XU_FW_CHECKSUM_TRIGGER fail.\r\n", "F=1,R=0"}},
        {"enable failing twice",
         json::array({{{"op", "set"},
                       {"selector", 9},
                       {"nth", 1},
                       {"times", 2},
                       {"status", "0x80004005"}}}),
         {"put_Property XU_ISP_ENABLE = 1 fail.\r\n",
          "put_Property XU_DFU_ENABLE_CONTROL = 0 fail.\r\n"}},
        {"module select refused",
         json::array({{{"op", "set"},
                       {"selector", 20},
                       {"nth", 1},
                       {"times", 2},
                       {"status", "0x80004005"}}}),
         {"put_Property XU_ISP_SERIAL_FLASH fail.\r\n",
          "put_Property XU_DFU_ENABLE_CONTROL = 0 fail.\r\n"}},
        {"module erase recovered on resend",
         json::array({{{"op", "set"}, {"selector", 24}, {"nth", 1}, {"status", "0x80004005"}}}),
         {"put_Property XU_SF_PARAM_BLOCK has been recovered.\r\n", "F=1,R=1"}},
        {"finish refused",
         json::array({{{"op", "set"}, {"selector", 12}, {"nth", 1}, {"status", "0x80004005"}}}),
         {"--while end", "F=1,R=0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(moduleCamera(c.faults));
        FirmwareImage image;
        const Bytes file = pattern(30000, 9);
        ASSERT_TRUE(image.assign(file));
        EXPECT_EQ(outcomeOf(Download_Fw(image, bench.link, 254, &bench.status, 30)), "failed");
        EXPECT_EQ(bench.status.stage, stage::kFailed);
        EXPECT_EQ(bench.status.progress, 100);
        EXPECT_TRUE(inOrder(bench.trace.lines(), c.trace));
    }
}

TEST(DownloadFw, ABusyFlagThatNeverClearsIsPolledTimeoutPlusOneTimes) {
    // A refused finish command would show in the trace: it must not be sent.
    Bench bench(moduleCamera(
        json::array({{{"busy_forever", true}},
                     {{"op", "set"}, {"selector", 12}, {"nth", 1}, {"status", "0x80004005"}}})));
    FirmwareImage image;
    ASSERT_TRUE(image.assign(pattern(9000, 4)));
    const auto before = bench.rig.clock.slept();
    EXPECT_EQ(outcomeOf(Download_Fw(image, bench.link, 255, &bench.status, 30)), "failed");
    const auto lines = bench.trace.lines();
    // One look after 0.8 s, then 31 one-second polls.
    EXPECT_EQ(count(lines, "get the FW busy flag = 0x1"), 32u);
    EXPECT_EQ(count(lines, " time out!!"), 1u);
    EXPECT_EQ(bench.status.cameraChecksum, bench.status.computedChecksum)
        << "the checksum itself agreed";
    EXPECT_EQ(bench.rig.platform().camera(0).requestCount(XU_ISP_FW_DOWNLOAD_OK,
                                                          platform::PropertyOp::Set),
              0u)
        << "an unconfirmed checksum does not finish the download";
    // 0.8 s + 31 s of polls + 1 s before the end.
    EXPECT_EQ(bench.rig.clock.slept() - before, 800ms + 31s + 1s);
    EXPECT_EQ(bench.status.stage, stage::kFailed);
    // A count of 0 gives up after the first one-second poll.
    Bench again(moduleCamera(json::array({{{"busy_forever", true}}})));
    EXPECT_EQ(outcomeOf(Download_Fw(image, again.link, 255, &again.status, 0)), "failed");
    EXPECT_EQ(count(again.trace.lines(), "get the FW busy flag = 0x1"), 2u);
}

TEST(DownloadFw, ACameraGoneAtTheDisableCommandShowsThreeSecondsOfProgressThenFails) {
    // The second put of the enable control is the disable at the end.
    Bench bench(moduleCamera(
        json::array({{{"op", "set"}, {"selector", 9}, {"nth", 2}, {"status", "0x8007001F"}}})));
    FirmwareImage image;
    ASSERT_TRUE(image.assign(pattern(9000, 4)));
    std::vector<std::pair<Clock::Duration, int>> sleeps; // (length, progress)
    WatchedClock watched(bench.rig.clock, [&](Clock::Duration d) {
        sleeps.emplace_back(d, bench.status.progress.load());
    });
    ClockOverride useWatched(watched);
    EXPECT_EQ(outcomeOf(Download_Fw(image, bench.link, 254, &bench.status, 30)), "failed");
    ASSERT_GE(sleeps.size(), 4u);
    const std::vector<std::pair<Clock::Duration, int>> last(sleeps.end() - 4, sleeps.end());
    EXPECT_EQ(last, (std::vector<std::pair<Clock::Duration, int>>{
                        {1000ms, 95}, {1000ms, 96}, {1000ms, 97}, {1000ms, 98}}));
    EXPECT_TRUE(inOrder(bench.trace.lines(),
                        {"0x800", "put_Property XU_DFU_ENABLE_CONTROL = 0 fail.\r\n"}));
    EXPECT_EQ(bench.status.stage, stage::kFailed);
    EXPECT_EQ(bench.status.progress, 100);
}

TEST(DfuDownloads, RefuseWithoutAnImageOrAnOpenCamera) {
    Bench bench(camera7312());
    FirmwareImage none;
    EXPECT_EQ(outcomeOf(download_7312(none, bench.link, 0, &bench.status)), "failed");
    EXPECT_EQ(outcomeOf(Download_Fw(none, bench.link, 254, &bench.status, 30)), "failed");
    FirmwareImage empty;
    ASSERT_TRUE(empty.assign(Bytes{}));
    EXPECT_EQ(outcomeOf(download_7312(empty, bench.link, 0, nullptr)), "failed");
    EXPECT_EQ(outcomeOf(Download_Fw(empty, bench.link, 3, nullptr, 30)), "failed");
    EXPECT_EQ(count(bench.trace.lines(), "Download Data is NULL!\r\n"), 4u);

    FirmwareImage image;
    ASSERT_TRUE(image.assign(bootableImage(5000, 0x16)));
    CameraLink closed(bench.devices);
    EXPECT_EQ(outcomeOf(download_7312(image, closed, 0, nullptr)), "failed");
    EXPECT_EQ(outcomeOf(Download_Fw(image, closed, 254, nullptr, 30)), "failed");
    EXPECT_EQ(count(bench.trace.lines(), "NULL pExt Pointer fail.\r\n"), 2u);
    EXPECT_EQ(bench.flash(), Bytes(65536, 0xFF)) << "nothing was sent";
    EXPECT_TRUE(bench.onBus());
}

// --- Module preparation -----------------------------------------------------------

TEST(PrepareModule, ChipD2RestartsTheFirmwareComesBackAndBurnsTheBuiltInImage) {
    Bench bench(json::array({{{"chip_id", "0xD2"},
                              {"flash", {{"part", "0x79"}}},
                              {"module", {{"size", 131072}}},
                              {"registers", {{"0x20EB", "0x01"}, {"0x20E9", "0x00"}}}}}));
    const auto before = bench.rig.clock.slept();
    EXPECT_TRUE(bench.prepareModule());
    EXPECT_GE(bench.rig.clock.slept() - before, 500ms);
    EXPECT_GT(bench.rig.platform().camera(0).view().generation, 0u) << "the firmware restarted";
    ASSERT_NE(bench.link.channel(), nullptr) << "the link is open on the camera again";
    EXPECT_EQ(bench.readRegister(reg::kModuleEnable), 0x81);
    EXPECT_EQ(bench.readRegister(reg::kModuleChecksum), 0x20);
    EXPECT_EQ(bench.readRegister(reg::kRestartArm), 0x01);

    // The built-in image is in the serial flash and the camera boots it.
    const Bytes flash = bench.flash();
    const auto builtin = builtinImage();
    ASSERT_EQ(builtin.size(), 8192u);
    EXPECT_TRUE(bootable(flash));
    EXPECT_TRUE(std::equal(builtin.begin(), builtin.end(), flash.begin()));

    EXPECT_TRUE(prepare_module_2(bench.link).ok());
    EXPECT_EQ(bench.readRegister(reg::kBootControl) & 0x02, 0);

    // The worker's module download then runs on the same link.
    FirmwareImage image;
    const Bytes file = pattern(70000, 21);
    ASSERT_TRUE(image.assign(file));
    EXPECT_EQ(outcomeOf(Download_Fw(image, bench.link, 254, &bench.status, 30)), "passed");
    EXPECT_TRUE(sameRange(bench.module(), 0, file, 0, file.size()));
    EXPECT_TRUE(std::equal(builtin.begin(), builtin.end(), bench.flash().begin()))
        << "the serial flash keeps the built-in image";
}

TEST(PrepareModule, ChipD0SetsTheModuleBitWithoutARestart) {
    Bench bench(json::array(
        {{{"chip_id", "0xD0"},
          {"flash", {{"part", "0x79"}}},
          {"registers", {{"0x20EB", "0x01"}, {"0x20E9", "0x00"}, {"0x2501", "0xFF"}}}}}));
    EXPECT_TRUE(bench.prepareModule());
    EXPECT_EQ(bench.readRegister(reg::kModuleEnable), 0x81);
    EXPECT_EQ(bench.readRegister(reg::kModuleChecksum), 0x00);
    EXPECT_EQ(bench.rig.platform().camera(0).view().generation, 0u) << "never left the bus";
    EXPECT_TRUE(prepare_module_2(bench.link).ok());
    EXPECT_EQ(bench.readRegister(reg::kBootControl), 0xFD) << "only bit 1 cleared";
}

TEST(PrepareModule, OtherFamiliesAreLeftAlone) {
    Bench bench(json::array({{{"chip_id", "0xB0"},
                              {"flash", {{"part", "0x79"}}},
                              {"registers", {{"0x20EB", "0x01"}}}}}));
    EXPECT_TRUE(bench.prepareModule());
    EXPECT_EQ(bench.readRegister(reg::kModuleEnable), 0x01);
    EXPECT_EQ(bench.flash(), Bytes(65536, 0xFF));
}

TEST(PrepareModule, ACameraThatDoesNotComeBackEndsTheWaitAfterFifteenSeconds) {
    Bench bench(json::array({{{"chip_id", "0xD2"},
                              {"flash", {{"part", "0x79"}}},
                              {"faults", json::array({{{"no_return", true}}})}}}));
    const auto before = bench.rig.clock.slept();
    EXPECT_FALSE(bench.prepareModule());
    const auto waited = bench.rig.clock.slept() - before;
    EXPECT_GE(waited, 15s);
    EXPECT_LE(waited, 16500ms);
    EXPECT_TRUE(inOrder(bench.trace.lines(),
                        {"prepare_module: camera did not come back, stop download. (timeout)"}));
    EXPECT_EQ(bench.link.channel(), nullptr);
}

} // namespace
} // namespace tessell::testing
