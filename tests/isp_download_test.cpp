// The ISP download against simulated cameras: what ends up in the flash, in
// which order the header signature is written, and how every fault ends.

#include "common/trace.h"
#include "device/xu_protocol.h"
#include "download/flash_access.h"
#include "download/isp_download.h"
#include "platform/sim/flash_identity.h"
#include "support/fake_link.h"
#include "support/sim_link.h"
#include "tests/support/synthetic_image.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace tessell::testing {
namespace {

using platform::PropertyOp;

// The header a family's images begin with.
Bytes headerFor(IcType camera, bool variant18 = false) {
    switch (camera) {
    case IcType::i:
    case IcType::j:
        return {0x89, 0x16};
    case IcType::k:
        return {0x89, static_cast<std::uint8_t>(variant18 ? 0x18 : 0x17)};
    case IcType::m:
        return {0x89, 0x26};
    default:
        return {0x55, 0x90};
    }
}

Bytes imageFor(IcType camera, std::size_t length, bool variant18 = false) {
    Bytes bytes = pattern(length, static_cast<std::uint32_t>(length) + chip::letter(camera));
    const Bytes header = headerFor(camera, variant18);
    std::copy(header.begin(), header.end(), bytes.begin());
    return bytes;
}

bool allBytes(const Bytes& bytes, std::size_t from, std::size_t to, std::uint8_t value) {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                       bytes.begin() + static_cast<std::ptrdiff_t>(to),
                       [value](std::uint8_t b) { return b == value; });
}

json stateOf(SimLink& sim) {
    return json::parse(sim.rig.dir.read("state.json"));
}

struct CameraRow {
    const char* chip;
    IcType type;
    const char* part;
    std::uint8_t flashType;
    std::size_t length;
    int blockSize;
    bool variant18 = false;
};

// The state file is rewritten after every request: only cameras whose
// state a test reads keep one.
json deviceFor(const CameraRow& row, json faults = json::array(), bool withState = false) {
    json device = {{"chip_id", row.chip},
                   {"flash", {{"part", row.part}}},
                   {"block_size", row.blockSize},
                   {"faults", std::move(faults)}};
    if (withState)
        device["state_file"] = "state.json";
    return json::array({device});
}

const CameraRow kCameras[] = {
    {"0x80", IcType::h, "0x79", 0, 0xC000, 4096},    // identity bytes at 0xB70A inside the image
    {"0x80", IcType::h, "0x85", 0x85, 0x5321, 1000}, // an odd number of pad bytes
    {"0x60", IcType::f, "0x7A", 1, 0x9000, 4096},    // SST: status write after 0x50; chip select 2
    {"0x90", IcType::g, "0x7F", 3, 0x2345, 512},     //
    {"0xA0", IcType::i, "0x7E", 0x7E, 0x7000, 4096}, // 0xF9 marker, 0x89 0x16 signature
    {"0xC0", IcType::k, "0x8C", 0x8C, 0x5321, 4096, true},
    {"0xC0", IcType::k, "0x7B", 2, 0x3000, 4096},    // PMC sector erase 0xD7
    {"0xD0", IcType::m, "0x83", 0x83, 0x8001, 4096}, // the firmware writes the header
    {"0xB0", IcType::j, "0x79", 0, 0x1800, 4096},
};

TEST(IspDownload, EveryFamilyEndsWithExactlyTheImageAndAValidHeader) {
    for (const auto& row : kCameras) {
        SCOPED_TRACE(std::string("camera ") + chip::letter(row.type) + " part " + row.part);
        SimLink sim(deviceFor(row));
        ASSERT_TRUE(sim.opened);
        const Bytes original = imageFor(row.type, row.length, row.variant18);
        FirmwareImage image;
        ASSERT_TRUE(image.assign(original));
        DownloadStatus status;

        EXPECT_EQ(outcomeOf(isp_download(image, sim.link, row.flashType, &status, true)), "passed");
        EXPECT_EQ(status.stage, stage::kFinished);
        EXPECT_EQ(status.progress, 100);
        EXPECT_EQ(status.computedChecksum.load(), status.cameraChecksum.load());

        const Bytes flash = sim.flash();
        const Bytes expected = expectedFlash(original, row.type, row.flashType);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
        const std::size_t block = static_cast<std::size_t>(row.blockSize);
        const std::size_t padded = (row.length + block - 1) / block * block;
        EXPECT_TRUE(allBytes(flash, row.length, padded, 0xFF)) << "the padding of the last block";
        EXPECT_TRUE(sim::isBootable(flash));

        // The caller's buffer keeps its header; it carries the flash type.
        EXPECT_TRUE(std::equal(original.begin(), original.begin() + 2, image.buffer().begin()));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.content().begin()))
            << "the buffer as sent";

        if (row.type == IcType::j || row.type == IcType::k || row.type == IcType::m) {
            EXPECT_FALSE(sim.camera().view().onBus) << "reset after leaving download mode";
        } else {
            EXPECT_TRUE(sim.camera().view().onBus);
            const auto flashStatus = sim.link.device()->SpiReadStatusWait();
            EXPECT_EQ(flashStatus.status, status::kOk);
            EXPECT_EQ(flashStatus.value & 0x0C, 0x0C) << "protected again";
        }
    }
}

TEST(IspDownload, RefusedFlashTypesAndMissingInputsSendNothing) {
    ManualClock clock;
    ClockOverride useClock(clock);
    for (const std::uint8_t type : {0x8D, 0x78, 7, 0x70, 0xFE, 0xFF}) {
        FakeLink fake(0x80);
        FirmwareImage image;
        image.assign(imageFor(IcType::h, 4096));
        DownloadStatus status;
        EXPECT_EQ(outcomeOf(isp_download(image, fake.link, type, &status, true)), "refused")
            << int{type};
        EXPECT_EQ(status.stage, stage::kFailed);
        EXPECT_EQ(status.progress, 100);
        EXPECT_TRUE(fake.camera->requests.empty()) << int{type};
    }

    trace::Capture trace;
    FakeLink fake(0x80);
    FirmwareImage empty;
    DownloadStatus status;
    EXPECT_EQ(outcomeOf(isp_download(empty, fake.link, 0, &status, true)), "failed");
    EXPECT_TRUE(trace.contains("Download Data is NULL!"));
    EXPECT_EQ(status.stage, stage::kFailed);
    Bytes buffer(16, 0);
    EXPECT_EQ(outcomeOf(isp_download(buffer, 17, false, fake.link, 0, &status, true)), "failed")
        << "a length beyond the buffer is no image";
    EXPECT_EQ(fake.camera->countRequests(XU_DFU_ENABLE_CONTROL, PropertyOp::Set), 0u);

    FakeCaptureDevices none;
    CameraLink closed(none);
    FirmwareImage image;
    image.assign(imageFor(IcType::h, 4096));
    EXPECT_EQ(outcomeOf(isp_download(image, closed, 0, &status, true)), "failed");
    EXPECT_TRUE(trace.contains("NULL pExt Pointer fail!"));
    EXPECT_EQ(outcomeOf(mx32_download(image, closed, 6, &status)), "failed");
}

TEST(IspDownload, OlderFamiliesMarkTheFlashInvalidRightAfterTheFirstBlock) {
    ManualClock clock;
    ClockOverride useClock(clock);
    trace::Capture trace;
    FakeLink fake(0x80);
    fake.camera->sizes[10] = 1000;
    std::vector<std::size_t> framesAtBlock;
    fake.camera->onRequest = [&](const RecordedRequest& request) {
        if (request.selector == XU_DFU_ACCESS_CONTROL && request.op == PropertyOp::Set)
            framesAtBlock.push_back(fake.camera->spiFrames.size());
    };
    const Bytes original = imageFor(IcType::h, 0xC000);
    FirmwareImage image;
    image.assign(original);
    DownloadStatus status;
    // The fake camera answers 0 for every checksum: the run fails there.
    EXPECT_EQ(outcomeOf(isp_download(image, fake.link, 0, &status, true)), "failed");
    EXPECT_EQ(status.stage, stage::kFailed);
    ASSERT_EQ(framesAtBlock.size(), 50u);

    auto programs = [&](std::size_t from, std::size_t to) {
        std::vector<Bytes> found;
        for (std::size_t i = from; i < to; ++i)
            if (!fake.camera->spiFrames[i].empty() && fake.camera->spiFrames[i][0] == 0x02)
                found.push_back(fake.camera->spiFrames[i]);
        return found;
    };
    EXPECT_TRUE(programs(0, framesAtBlock[0]).empty()) << "nothing programmed before the data";
    const auto afterFirst = programs(framesAtBlock[0], framesAtBlock[1]);
    ASSERT_EQ(afterFirst.size(), 2u);
    EXPECT_EQ(afterFirst[0], (Bytes{0x02, 0x00, 0x00, 0x00, 0xF5}));
    Bytes identity{0x02, 0x00, 0xB7, 0x0A};
    identity.insert(identity.end(), original.begin() + 0xB70A, original.begin() + 0xB710);
    EXPECT_EQ(afterFirst[1], identity);
    EXPECT_TRUE(programs(framesAtBlock[1], fake.camera->spiFrames.size()).empty())
        << "no signature after a checksum mismatch";

    EXPECT_EQ(fake.camera->countRequests(XU_DFU_ENABLE_CONTROL, PropertyOp::Set), 2u);
    for (const char* line :
         {"DL_INITIAL...5%", "CheckSum calculate ok", "SetFlashType ok", "software protect off...",
          "start burning...ok!", "get size ...", "get size ok", "XU_DFU_CHECKSUM incorrect."})
        EXPECT_TRUE(trace.contains(line)) << line;
    const auto lines = trace.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "buring data..."), 3) << "blocks 1, 21, 41";
    EXPECT_GE(clock.slept(), std::chrono::milliseconds(500)) << "the checksum is given its time";
    EXPECT_EQ(fake.camera->countRequests(XU_ISP_SERIAL_FLASH, PropertyOp::Set), 0u)
        << "'h' selects no serial flash";
    char mismatch[64];
    std::snprintf(mismatch, sizeof mismatch, "FW get checksum (0) != Code checksum(%x) ",
                  status.computedChecksum.load());
    EXPECT_TRUE(trace.contains(mismatch)) << mismatch;
}

// The fake camera answers 0 for every checksum: images whose bytes as sent
// XOR to 0 pass, and the requests show the order of the last steps.
TEST(IspDownload, FirmwareFamiliesSendAnInvalidHeaderAndSignAfterTheChecksum) {
    ManualClock clock;
    ClockOverride useClock(clock);
    for (const IcType type : {IcType::k, IcType::m}) {
        SCOPED_TRACE(std::string("camera ") + chip::letter(type));
        trace::Capture trace;
        FakeLink fake(type == IcType::k ? 0xC0 : 0xD0);
        Bytes bytes(4096, 0x00);
        bytes[0] = 0x89;
        bytes[1] = type == IcType::k ? 0x18 : 0x26;
        // F9 FF and the flash-type value 4 at byte 2 cancel with this.
        bytes[3] = 0x02;
        FirmwareImage image;
        image.assign(bytes);
        DownloadStatus status;
        EXPECT_EQ(outcomeOf(isp_download(image, fake.link, 0, &status, true)), "passed");
        EXPECT_EQ(image.buffer()[0], 0x89) << "the caller's header comes back";
        EXPECT_EQ(image.buffer()[1], bytes[1]);
        EXPECT_EQ(image.buffer()[2], 4);

        const auto& requests = fake.camera->requests;
        auto find = [&](std::uint32_t selector, PropertyOp op) {
            return std::find_if(requests.begin(), requests.end(), [&](const RecordedRequest& r) {
                return r.selector == selector && r.op == op;
            });
        };
        const auto block = find(XU_DFU_ACCESS_CONTROL, PropertyOp::Set);
        ASSERT_NE(block, requests.end());
        EXPECT_EQ(block->data[0], 0xF9);
        EXPECT_EQ(block->data[1], 0xFF);
        const auto checksum = find(XU_DFU_CHECKSUM, PropertyOp::Get);
        ASSERT_NE(checksum, requests.end());
        EXPECT_LT(block, checksum);
        if (type == IcType::k) {
            ASSERT_EQ(fake.camera->blockWrites.size(), 1u);
            EXPECT_EQ(fake.camera->blockWrites[0].first, 0);
            EXPECT_EQ(Bytes(fake.camera->blockWrites[0].second.begin(),
                            fake.camera->blockWrites[0].second.begin() + 3),
                      (Bytes{0x89, 0x18, 0xFF}));
            EXPECT_LT(checksum, find(XU_SF_DATA_64, PropertyOp::Set));
            EXPECT_EQ(fake.camera->countRequests(XU_ISP_FW_DOWNLOAD_OK, PropertyOp::Set), 0u);
        } else {
            EXPECT_TRUE(fake.camera->blockWrites.empty());
            EXPECT_LT(checksum, find(XU_ISP_FW_DOWNLOAD_OK, PropertyOp::Set));
            EXPECT_TRUE(trace.contains("for 7318 XU_ISP_SERIAL_FLASH ok!"));
            EXPECT_EQ(fake.camera->countRequests(XU_ISP_SERIAL_FLASH, PropertyOp::Set), 1u);
        }
        EXPECT_TRUE(trace.contains("checksum correct = 00 "));
        // Leaving download mode, then the six reset writes.
        EXPECT_EQ(fake.camera->countRequests(XU_DFU_ENABLE_CONTROL, PropertyOp::Set), 2u);
        EXPECT_EQ(fake.camera->registers[0x2034], 1);
    }
}

TEST(IspDownload, FaultsEndInFailureAndLeaveNoBootableFlash) {
    struct Fault {
        const char* what;
        json fault;
        int expected;
    };
    const json gone = "0x8007001F";
    const Fault faults[] = {
        {"a corrupted block", {{"corrupt_block", 2}}, 1},
        {"a block resent once",
         {{"op", "set"}, {"selector", 10}, {"nth", 3}, {"status", gone}, {"in_download", true}},
         1},
        {"a block refused twice",
         {{"op", "set"},
          {"selector", 10},
          {"nth", 2},
          {"times", 2},
          {"status", gone},
          {"in_download", true}},
         1},
        {"download mode entered on the second try",
         {{"op", "set"}, {"selector", 9}, {"nth", 1}, {"status", gone}},
         1},
        {"the block size answered on the third query",
         {{"op", "len"}, {"selector", 10}, {"nth", 2}, {"status", gone}, {"in_download", true}},
         1},
        {"the checksum read three times",
         {{"op", "get"},
          {"selector", 11},
          {"nth", 1},
          {"times", 2},
          {"status", gone},
          {"in_download", true}},
         1},
        // One failed checksum read is read again without counting as a resend.
        {"the checksum read twice",
         {{"op", "get"}, {"selector", 11}, {"nth", 1}, {"status", gone}, {"in_download", true}},
         0},
    };
    const CameraRow cameras[] = {{"0x80", IcType::h, "0x79", 0, 0x2345, 4096},
                                 {"0xC0", IcType::k, "0x79", 0, 0x2345, 4096},
                                 {"0xD0", IcType::m, "0x79", 0, 0x2345, 4096}};
    for (const auto& camera : cameras) {
        for (const auto& fault : faults) {
            SCOPED_TRACE(std::string(fault.what) + " on " + chip::letter(camera.type));
            SimLink sim(deviceFor(camera, json::array({fault.fault})));
            ASSERT_TRUE(sim.opened);
            const Bytes original = imageFor(camera.type, camera.length);
            FirmwareImage image;
            image.assign(original);
            DownloadStatus status;
            EXPECT_EQ(isp_download(image, sim.link, camera.flashType, &status, true).ok(),
                      fault.expected == 0);
            const Bytes flash = sim.flash();
            if (fault.expected == 0) {
                EXPECT_TRUE(sim::isBootable(flash));
                continue;
            }
            EXPECT_EQ(status.stage, stage::kFailed);
            EXPECT_FALSE(sim::isBootable(flash));
        }
    }
}

// However early or late the camera goes away during the download, the run
// fails, and a flash that boots holds the whole image: the valid header is
// the last thing written.
TEST(IspDownload, AnUnplugAtAnyRequestFailsAndNeverLeavesAHalfImageBootable) {
    const CameraRow cameras[] = {{"0x80", IcType::h, "0x79", 0, 0x2100, 4096},
                                 {"0xA0", IcType::i, "0x79", 0, 0x2100, 4096},
                                 {"0xC0", IcType::k, "0x79", 0, 0x2100, 4096},
                                 {"0xD0", IcType::m, "0x79", 0, 0x2100, 4096}};
    for (const auto& camera : cameras) {
        const Bytes original = imageFor(camera.type, camera.length);
        const Bytes expected = expectedFlash(original, camera.type, camera.flashType);
        int failures = 0;
        int bootableFailures = 0;
        bool completed = false;
        for (int after = 0; after < 2000 && !completed; ++after) {
            SCOPED_TRACE(std::string("camera ") + chip::letter(camera.type) + " unplugged after " +
                         std::to_string(after));
            SimLink sim(
                deviceFor(camera, json::array({{{"unplug_after", after}, {"in_download", true}}})));
            ASSERT_TRUE(sim.opened);
            FirmwareImage image;
            image.assign(original);
            DownloadStatus status;
            const Result result = isp_download(image, sim.link, camera.flashType, &status, true);
            const Bytes flash = sim.flash();
            if (result.ok()) {
                // The unplug came after the download: the camera was whole.
                completed = true;
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
                continue;
            }
            ++failures;
            EXPECT_EQ(outcomeOf(result), "failed");
            EXPECT_EQ(status.stage, stage::kFailed);
            if (sim::isBootable(flash)) {
                ++bootableFailures;
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()))
                    << "a bootable flash with a partial image";
            }
        }
        EXPECT_TRUE(completed) << camera.type;
        EXPECT_GT(failures, 5) << camera.type;
        // Only unplugs after the signature (before leaving download mode) can
        // leave a bootable camera behind.
        EXPECT_LT(bootableFailures, failures / 2) << camera.type;
    }
}

TEST(IspDownload, WithoutFinishTheCameraStaysInDownloadMode) {
    for (const bool finish : {false, true}) {
        const CameraRow row{"0xC0", IcType::k, "0x79", 0, 0x3000, 4096};
        SimLink sim(deviceFor(row, json::array(), true));
        FirmwareImage image;
        image.assign(imageFor(IcType::k, row.length, true));
        DownloadStatus status;
        EXPECT_EQ(outcomeOf(isp_download(image, sim.link, 0x79, &status, finish)), "passed");
        EXPECT_TRUE(sim::isBootable(sim.flash())) << "the header is written before finishing";
        const json state = stateOf(sim);
        EXPECT_EQ(state["resets"], finish ? 1 : 0);
        if (!finish) {
            EXPECT_EQ(state["mode"], "download");
        }
    }
}

TEST(Mx32Download, ProgramsWholeSectorsVerifiesAndSignsLast) {
    // Each camera starts from its own copy: the simulator writes the flash back.
    TempDir files;
    int cameras = 0;
    auto device = [&](json faults) {
        const std::string start =
            flashFile(files, Bytes(0x10000, 0xA5), std::to_string(++cameras) + ".flash");
        json camera = {{"chip_id", "0x80"},
                       {"flash", {{"part", "0x81"}, {"file", start}}},
                       {"faults", std::move(faults)}};
        if (cameras == 1)
            camera["state_file"] = "state.json";
        return json::array({camera});
    };
    const Bytes original = imageFor(IcType::h, 5000);
    {
        SimLink sim(device(json::array()));
        FirmwareImage image;
        image.assign(original);
        DownloadStatus status;
        trace::Capture trace;
        EXPECT_EQ(outcomeOf(isp_download(image, sim.link, 6, &status, true)), "passed");
        EXPECT_TRUE(trace.contains("MX32 download..."));
        EXPECT_EQ(status.stage, stage::kFinished);
        EXPECT_EQ(status.computedChecksum.load(), status.cameraChecksum.load());
        const Bytes flash = sim.flash();
        const Bytes expected = expectedFlash(original, IcType::h, 6);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
        EXPECT_TRUE(allBytes(flash, 5000, 8192, 0x00)) << "two whole sectors, zero-padded";
        EXPECT_TRUE(allBytes(flash, 8192, 0x10000, 0xA5)) << "nothing beyond them";
        EXPECT_TRUE(sim::isBootable(flash));
        const json state = stateOf(sim);
        EXPECT_EQ(state["flash_status"].get<int>() & 0x0C, 0x0C);
        EXPECT_EQ(state["resets"], 1);
        EXPECT_EQ(image.buffer()[0], 0x55);
    }
    {
        // A sector write refused half-way: the flash keeps its invalid marker.
        SimLink sim(device(json::array(
            {{{"op", "set"}, {"selector", 15}, {"nth", 3}, {"status", "0x80004005"}}})));
        FirmwareImage image;
        image.assign(original);
        DownloadStatus status;
        EXPECT_EQ(outcomeOf(isp_download(image, sim.link, 0x82, &status, true)), "failed");
        EXPECT_EQ(status.stage, stage::kFailed);
        EXPECT_NE(status.computedChecksum.load(), status.cameraChecksum.load());
        EXPECT_FALSE(sim::isBootable(sim.flash()));
    }
    {
        // A read-back that fails is no verification.
        SimLink sim(device(json::array(
            {{{"op", "get"}, {"selector", 15}, {"nth", 1}, {"status", "0x8007001F"}}})));
        FirmwareImage image;
        image.assign(original);
        DownloadStatus status;
        EXPECT_EQ(outcomeOf(isp_download(image, sim.link, 0x81, &status, true)), "failed");
        EXPECT_EQ(status.stage, stage::kFailed);
        EXPECT_FALSE(sim::isBootable(sim.flash()));
        EXPECT_EQ(sim.flash()[0], 0xF5);
    }
    {
        // 70 000 bytes do not fit the 64 KiB window the addresses reach.
        SimLink sim(device(json::array()));
        FirmwareImage large;
        large.assign(imageFor(IcType::h, 70000));
        DownloadStatus status;
        EXPECT_EQ(outcomeOf(mx32_download(large, sim.link, 6, &status)), "failed");
        EXPECT_EQ(status.stage, stage::kFailed);
        EXPECT_EQ(sim.flash(), Bytes(0x10000, 0xA5)) << "nothing written";
    }
}

TEST(BuiltinImage, IsAnEightKibFamilyHImageWithItsStrings) {
    const auto image = builtinImage();
    ASSERT_EQ(image.size(), 8192u);
    EXPECT_EQ(image[0], 0x89);
    EXPECT_EQ(image[1], 0x26);
    EXPECT_EQ(image::classify(image), ImageFamily::h);
    const auto identity = image::readIdentity(image);
    EXPECT_EQ(identity.vid, builtin::kVendorId);
    EXPECT_EQ(identity.pid, builtin::kProductId);
    EXPECT_EQ(identity.bcdDevice, builtin::kBcdDevice);
    EXPECT_EQ(identity.typeNumber, builtin::kTypeNumber);
    const auto strings = image::imageStringBlockOffset(image, IcType::m);
    ASSERT_TRUE(strings);
    EXPECT_EQ(image::decodeStringBlock(image, *strings),
              std::optional<std::string>("HalvaneIT Inc"));
    EXPECT_EQ(image::decodeStringBlock(image, builtin::kProductBlock),
              std::optional<std::string>("ZLTA7330 PC Camera"));
    EXPECT_EQ(image::serialNumberIndex(image, IcType::m), std::optional<std::uint8_t>(0));
}

TEST(BuiltinImage, BurnsIntoAModuleCameraAndStaysInDownloadMode) {
    SimLink sim(json::parse(R"([{"chip_id": "0xD2", "flash": {"part": "0x83"},
                                 "state_file": "state.json"}])"));
    ASSERT_TRUE(sim.opened);
    EXPECT_EQ(outcomeOf(burn_builtin_image(sim.link, 0x83)), "passed");
    const Bytes flash = sim.flash();
    EXPECT_TRUE(std::equal(builtinImage().begin(), builtinImage().end(), flash.begin()));
    const auto identity = sim::identityFromFlash(flash, IcType::m, {});
    EXPECT_EQ(identity.manufacturer, "HalvaneIT Inc");
    EXPECT_EQ(identity.vid, builtin::kVendorId);
    const json state = stateOf(sim);
    EXPECT_EQ(state["resets"], 0) << "the module download follows on the same link";

    ManualClock clock;
    ClockOverride useClock(clock);
    trace::Capture trace;
    FakeLink fake(0xD2);
    EXPECT_EQ(outcomeOf(burn_builtin_image(fake.link, 0x78)), "refused");
    EXPECT_TRUE(trace.contains("Flash type error"));
    EXPECT_TRUE(fake.camera->requests.empty());

    // A corrupted block: no header written by the firmware.
    SimLink corrupt(json::parse(R"([{"chip_id": "0xD0", "faults": [{"corrupt_block": 1}]}])"));
    EXPECT_EQ(outcomeOf(burn_builtin_image(corrupt.link, 0x79)), "failed");
    EXPECT_FALSE(sim::isBootable(corrupt.flash()));
}

} // namespace
} // namespace tessell::testing
