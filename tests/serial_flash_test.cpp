#include "common/clock.h"
#include "common/trace.h"
#include "device/camera_link.h"
#include "device/xu_protocol.h"
#include "tests/support/fake_camera.h"

#include <gtest/gtest.h>
#include <numeric>

namespace tessell {
namespace {

using platform::PropertyOp;
using testing::FakeCamera;
using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;
using namespace std::chrono_literals;

// One camera of the given chip, opened through a fake device list.
struct Opened {
    std::shared_ptr<FakeCamera> camera;
    testing::FakeCaptureDevices devices;
    CameraLink link{devices};

    explicit Opened(std::uint8_t chipId = 0x80) : camera(std::make_shared<FakeCamera>(chipId)) {
        testing::FakeDevice device;
        device.path = testing::usbDevicePath("1234567");
        device.camera = camera;
        devices.add(device);
        if (link.OpenCamera(IcType::e, 0, 0).ok())
            camera->requests.clear();
    }
    CameraDevice& device() { return *link.device(); }
};

TEST(IdentifyFlash, NamesEveryPartOfTheTableByEitherPath) {
    for (const bool firmware : {true, false}) {
        for (const auto& row : flash::manufacturerIdTable()) {
            Opened cam;
            ASSERT_NE(cam.link.device(), nullptr);
            cam.camera->firmwareFlashId = firmware;
            cam.camera->flashIds = {{0x90, row.bytes}};
            FlashCode code = 0;
            EXPECT_EQ(cam.link.IdentifyFlash(code), status::kOk);
            EXPECT_EQ(code, row.code) << "firmware path " << firmware;
        }
    }

    struct Row {
        flash::IdBytes first, releasePowerDown, jedec;
        FlashCode code;
    };
    const Row rows[] = {
        {{0x00, 0x00, 0x00}, {0x9D, 0x7B, 0x7F}, {0x1F, 0x65, 0x00}, 0x7D},
        {{0xFF, 0xFF, 0xFF}, {0x12, 0x34, 0x56}, {0x1F, 0x65, 0x00}, 0x7E},
        {{0x00, 0x00, 0x00}, {0x00, 0x00, 0x00}, {0xC2, 0x22, 0x10}, 0x81},
        {{0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}, {0xC2, 0x22, 0x11}, 0x82},
        {{0x00, 0x00, 0x00}, {0x00, 0x00, 0x00}, {0x9D, 0x7B, 0x7F}, 0x78},
        {{0xC2, 0x05, 0xC3}, {0x9D, 0x7B, 0x7F}, {0x1F, 0x65, 0x00}, 0x78},
    };
    for (const bool firmware : {true, false}) {
        for (const auto& row : rows) {
            Opened cam;
            cam.camera->firmwareFlashId = firmware;
            cam.camera->flashIds = {
                {0x90, row.first}, {0xAB, row.releasePowerDown}, {0x9F, row.jedec}};
            FlashCode code = 0;
            EXPECT_EQ(cam.link.IdentifyFlash(code), status::kOk);
            EXPECT_EQ(code, row.code) << "firmware path " << firmware;
        }
    }
}

TEST(ReadFlashId, RegisterPathSendsAddressBytesExceptForJedec) {
    Opened cam;
    cam.camera->firmwareFlashId = false;
    cam.camera->flashIds = {{0x90, {0xC2, 0x05, 0xC2}}, {0x9F, {0xC2, 0x22, 0x10}}};
    flash::IdBytes id{};
    EXPECT_EQ(cam.device().ReadFlashId(0x90, id), status::kOk);
    EXPECT_EQ(id, (flash::IdBytes{0xC2, 0x05, 0xC2}));
    EXPECT_EQ(cam.device().ReadFlashId(0x9F, id), status::kOk);
    EXPECT_EQ(id, (flash::IdBytes{0xC2, 0x22, 0x10}));
    EXPECT_EQ(cam.camera->spiFrames, (Frames{{0x90, 0, 0, 0}, {0x9F}}));
    EXPECT_EQ(cam.camera->spiUnselectedBytes, (Bytes{0x04, 0x04})) << "write disable first";
    EXPECT_EQ(cam.camera->registers[0x2020], 0x80) << "the port stays on";
}

TEST(WriteRange4K, ReportsStageAndPercentBeforeEachBlock) {
    Opened cam(0x80);
    Bytes image(0x10000);
    std::iota(image.begin(), image.end(), 0);
    std::atomic<std::uint8_t> state{0}, percent{0};
    Bytes seen;
    cam.camera->onRequest = [&](const testing::RecordedRequest& request) {
        if (request.selector == XU_SF_SECTOR_ERASE) {
            EXPECT_EQ(state.load(), 22);
            seen.push_back(percent.load());
        }
    };
    EXPECT_EQ(cam.device().WriteRange4K(image, 0, 0x10000, &state, &percent), status::kOk);
    EXPECT_EQ(seen, (Bytes{5, 10, 16, 21, 27, 33, 38, 44, 50, 55, 61, 66, 72, 78, 83, 89}));
    EXPECT_EQ(percent.load(), 89) << "95 is the caller's";
    std::vector<std::uint16_t> sectors;
    for (std::uint32_t a = 0; a < 0x10000; a += 0x1000)
        sectors.push_back(static_cast<std::uint16_t>(a));
    EXPECT_EQ(cam.camera->sectorErases, sectors);
    EXPECT_EQ(cam.camera->blockWrites.size(), 32u);

    // Addresses are 16-bit, and every block must lie inside the image.
    EXPECT_EQ(cam.device().WriteRange4K(image, 0, 0x10001, nullptr, nullptr),
              status::kInvalidArgument);
    EXPECT_EQ(
        cam.device().WriteRange4K(std::span(image).first(0x1800), 0, 0x2000, nullptr, nullptr),
        status::kInvalidArgument);
    // A failing block ends the range.
    cam.camera->sectorErases.clear();
    cam.camera->fail(PropertyOp::Set, XU_SF_DATA_4K, status::kDeviceGone, 1, 3);
    EXPECT_EQ(cam.device().WriteRange4K(image, 0, 0x10000, &state, &percent), status::kDeviceGone);
    EXPECT_EQ(cam.camera->sectorErases.size(), 2u);
}

TEST(WriteBlock4K, SendsTheChunkHalvesInTwoInterleavedBlocks) {
    Opened cam(0x80);
    Bytes data(4096);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    EXPECT_EQ(cam.device().WriteBlock4K(data, 0x3000), status::kOk);
    EXPECT_EQ(cam.camera->sectorErases, (std::vector<std::uint16_t>{0x3000}));
    ASSERT_EQ(cam.camera->blockWrites.size(), 2u);
    const auto& [firstAddress, first] = cam.camera->blockWrites[0];
    const auto& [secondAddress, second] = cam.camera->blockWrites[1];
    EXPECT_EQ(firstAddress, 0x3000);
    EXPECT_EQ(secondAddress, 0x3020);
    ASSERT_EQ(first.size(), 4096u);
    for (std::size_t chunk = 0; chunk < 4096; chunk += 64)
        for (std::size_t i = 0; i < 32; ++i) {
            ASSERT_EQ(first[chunk + i], 0xFF);
            ASSERT_EQ(second[chunk + i], 0xFF);
            ASSERT_EQ(first[chunk + 32 + i], data[chunk + i]);
            ASSERT_EQ(second[chunk + 32 + i], data[chunk + 32 + i]);
        }
    EXPECT_EQ(cam.device().WriteBlock4K(std::span(data).first(4095), 0), status::kInvalidArgument);
}

TEST(SpiWriteStatus, WritesOnlyWhenTheValueDiffers) {
    Opened cam(0x80);
    cam.camera->flashStatus = 0x0C;
    EXPECT_EQ(cam.device().SpiWriteStatus(0x0C, false), status::kOk);
    EXPECT_EQ(cam.camera->spiFrames, (Frames{{0x05}}));

    cam.camera->spiFrames.clear();
    EXPECT_EQ(cam.device().SpiWriteStatus(0x00, false), status::kOk);
    EXPECT_EQ(cam.camera->spiFrames, (Frames{{0x05}, {0x06}, {0x01, 0x00}, {0x05}}));
    EXPECT_EQ(cam.camera->flashStatus, 0x00);

    cam.camera->spiFrames.clear();
    EXPECT_EQ(cam.device().SpiWriteStatus(0x0C, true), status::kOk);
    EXPECT_EQ(cam.camera->spiFrames, (Frames{{0x05}, {0x50}, {0x01, 0x0C}, {0x05}}));
}

TEST(SetFlashProtection, RefusesUnknownPartsAndFirmwareWrittenFamilies) {
    Opened cam(0x80); // 'h'
    EXPECT_EQ(cam.link.SetFlashProtection(flash::kUnknown, true), 160);
    EXPECT_EQ(cam.link.SetFlashProtection(7, true), 160);
    EXPECT_TRUE(cam.camera->requests.empty());

    EXPECT_EQ(cam.link.SetFlashProtection(0x7A, true), status::kOk);
    EXPECT_EQ(cam.camera->spiFrames, (Frames{{0x05}, {0x50}, {0x01, 0x0C}, {0x05}}));
    cam.camera->spiFrames.clear();
    EXPECT_EQ(cam.link.SetFlashProtection(2, false), status::kOk);
    EXPECT_EQ(cam.camera->spiFrames, (Frames{{0x05}, {0x06}, {0x01, 0x00}, {0x05}}));

    for (const std::uint8_t chip : {0xB0, 0xC0, 0xD0}) {
        Opened other(chip);
        EXPECT_EQ(other.link.SetFlashProtection(0x79, false), 160);
        EXPECT_TRUE(other.camera->requests.empty());
    }
}

TEST(Blocks64, CountByteOnJAndBoundsOnEveryFamily) {
    Bytes data(64);
    std::iota(data.begin(), data.end(), 1);

    Opened j(0xB0);
    EXPECT_EQ(j.device().WriteBlock64(0x1234, 63, data), status::kOk);
    ASSERT_EQ(j.camera->blockWrites.size(), 1u);
    const auto& [address, block] = j.camera->blockWrites[0];
    EXPECT_EQ(address, 0x1234);
    Bytes expected = {63};
    expected.insert(expected.end(), data.begin(), data.begin() + 63);
    EXPECT_EQ(block, expected) << "63 bytes fill the block exactly";
    EXPECT_EQ(j.device().WriteBlock64(0, 64, data), status::kInvalidArgument);

    Opened k(0xC0);
    EXPECT_EQ(k.device().WriteBlock64(0, 64, data), status::kOk);
    EXPECT_EQ(k.camera->blockWrites.back().second, data);
    EXPECT_EQ(k.device().WriteBlock64(0, 2, data), status::kOk);
    Bytes padded(64, 0xFF);
    padded[0] = 1;
    padded[1] = 2;
    EXPECT_EQ(k.camera->blockWrites.back().second, padded);
    EXPECT_EQ(k.device().WriteBlock64(0, 65, Bytes(65)), status::kInvalidArgument);
    EXPECT_EQ(k.device().WriteBlock64(0, 8, std::span(data).first(4)), status::kInvalidArgument);

    k.camera->flash[0x0100] = 0x89;
    k.camera->flash[0x0101] = 0x17;
    Bytes out(2);
    EXPECT_EQ(k.device().ReadBlock64(0x0100, 2, out), status::kOk);
    EXPECT_EQ(out, (Bytes{0x89, 0x17}));
    Bytes large(65);
    EXPECT_EQ(k.device().ReadBlock64(0, 65, large), status::kInvalidArgument);
    EXPECT_EQ(k.device().ReadBlock64(0, 4, out), status::kInvalidArgument);
    k.camera->fail(PropertyOp::Set, XU_SF_ADDRESS, status::kDeviceGone);
    EXPECT_EQ(k.device().ReadBlock64(0x0100, 2, out), status::kDeviceGone);
}

TEST(SpiPageProgram, SendsOneFramedCommandAndChecksEveryStep) {
    Opened cam(0x80);
    SpiProgramRecord record;
    record.address = {0x00, 0x12, 0x34};
    record.data[0] = 0xA1;
    record.data[1] = 0xB2;
    record.data[2] = 0xC3;
    record.count = 3;
    EXPECT_EQ(cam.device().SpiPageProgram(record), status::kOk);
    EXPECT_EQ(cam.camera->spiFrames,
              (Frames{{0x06}, {0x02, 0x00, 0x12, 0x34, 0xA1, 0xB2, 0xC3}, {0x05}}));
    EXPECT_EQ(cam.camera->registerWrites.back(),
              (std::pair<std::uint16_t, std::uint8_t>{0x2020, 0}));

    record.count = 34;
    const auto before = cam.camera->requests.size();
    EXPECT_EQ(cam.device().SpiPageProgram(record), status::kInvalidArgument);
    EXPECT_EQ(cam.camera->requests.size(), before);

    record.count = 3;
    // The opcode write fails with the flash selected: it is released all the same.
    cam.camera->fail(PropertyOp::Set, XU_REG_DATA, status::kDeviceGone, 1, 6);
    EXPECT_EQ(cam.device().SpiPageProgram(record), status::kDeviceGone);
    EXPECT_EQ(cam.camera->registers[0x2025], 2);
}

TEST(ResetChip, WritesTheSequenceAndStopsAtAFailure) {
    using Write = std::pair<std::uint16_t, std::uint8_t>;
    Opened cam(0xC0);
    EXPECT_EQ(cam.device().ResetChip(), status::kOk);
    EXPECT_EQ(
        cam.camera->registerWrites,
        (std::vector<Write>{
            {0x2034, 0}, {0x2030, 0xFF}, {0x2031, 0}, {0x2032, 0}, {0x2033, 2}, {0x2034, 1}}));
    cam.camera->registerWrites.clear();
    cam.camera->fail(PropertyOp::Set, XU_REG_DATA, status::kDeviceGone, 1, 2);
    EXPECT_EQ(cam.device().ResetChip(), status::kDeviceGone);
    EXPECT_EQ(cam.camera->registerWrites, (std::vector<Write>{{0x2034, 0}, {0x2030, 0xFF}}));
}

TEST(DumpFlash, ReadsTheWholeSixtyFourKilobytesThroughTheGivenRead) {
    Opened cam;
    Bytes buffer(kDumpSize);
    std::uint32_t askedEnd = 0;
    FlashCode askedCode = 0;
    const FlashRangeReader read = [&](std::span<std::uint8_t> out, FlashCode code,
                                      std::uint32_t start, std::uint32_t end) {
        askedCode = code;
        askedEnd = end;
        return start == 0 && out.size() >= end ? Result()
                                               : Result::failure(status::kFail, "wrong range");
    };
    EXPECT_TRUE(cam.link.DumpFlash(buffer, 0x79, read).ok());
    EXPECT_EQ(askedEnd, 0x10000u);
    EXPECT_EQ(askedCode, 0x79);
    const FlashRangeReader unreadable = [](auto, auto, auto, auto) {
        return Result::failure(status::kDeviceGone, "gone");
    };
    EXPECT_EQ(cam.link.DumpFlash(buffer, 0x79, unreadable).status(), status::kDeviceGone);
    EXPECT_EQ(cam.link.DumpFlash(std::span(buffer).first(100), 0x79, read).status(), 1);
}

TEST(DeadCamera, EveryPollFailsInBoundedTime) {
    ManualClock manual;
    ClockOverride use(manual);
    trace::Capture trace;

    // Gone from the bus: failures at once, never "idle" or "done".
    Opened gone(0x80);
    gone.camera->dead = true;
    EXPECT_EQ(gone.device().WaitSpiIdle(), status::kDeviceGone);
    EXPECT_EQ(gone.device().SpiReadStatusWait().status, status::kDeviceGone);
    EXPECT_NE(gone.device().SpiWriteStatus(0x0C, false), status::kOk);
    EXPECT_EQ(gone.device().SpiPageProgram(SpiProgramRecord{}), status::kDeviceGone);
    EXPECT_EQ(gone.device().ResetChip(), status::kDeviceGone);
    EXPECT_EQ(gone.device().WriteBlock4K(Bytes(4096), 0), status::kDeviceGone);
    FlashCode code = 0;
    EXPECT_NE(gone.link.IdentifyFlash(code), status::kOk);
    EXPECT_EQ(code, flash::kUnknown);
    EXPECT_EQ(manual.slept(), 0ms);

    // A busy read that fails is a failure, not an idle port.
    Opened flaky(0x80);
    flaky.camera->fail(PropertyOp::Get, XU_REG_DATA, status::kNotReady);
    EXPECT_EQ(flaky.device().WaitSpiIdle(), status::kNotReady);
    flaky.camera->fail(PropertyOp::Get, XU_REG_DATA, status::kDeviceGone, 1, 3);
    EXPECT_EQ(flaky.device().SpiReadStatusWait().status, status::kDeviceGone);

    // A port that never stops shifting.
    Opened stuck(0x80);
    stuck.camera->busyForever = true;
    auto before = manual.slept();
    EXPECT_EQ(stuck.device().WaitSpiIdle(), status::kTimeout);
    EXPECT_GE(manual.slept() - before, kSpiIdleBudget);
    EXPECT_LE(manual.slept() - before, kSpiIdleBudget + kBusyPollPause);
    EXPECT_TRUE(trace.contains("still busy"));

    // A flash that never finishes its write.
    Opened busy(0x80);
    busy.camera->writeInProgressReads = 1 << 30;
    before = manual.slept();
    const SpiStatusRead read = busy.device().SpiReadStatusWait();
    EXPECT_EQ(read.status, status::kTimeout);
    EXPECT_EQ(read.value & 1, 1);
    EXPECT_GE(manual.slept() - before, kFlashBusyBudget);
    EXPECT_LE(manual.slept() - before, kFlashBusyBudget + kBusyPollPause);
    EXPECT_EQ(busy.device().SpiPageProgram(SpiProgramRecord{}), status::kTimeout);
    EXPECT_TRUE(trace.contains("write still in progress"));

    // A flash that finishes after a few reads is waited for.
    Opened slow(0x80);
    slow.camera->writeInProgressReads = 10;
    EXPECT_EQ(slow.device().SpiReadStatusWait().status, status::kOk);
}

} // namespace
} // namespace tessell
