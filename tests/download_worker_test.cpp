// The download worker over simulated cameras: the family paths end to end,
// the early ends, the image-quality check, the rework, and two cameras
// burning side by side. Every end
// must leave the dialog able to complete: done set, busy cleared.

#include "device/usb_identity.h"
#include "download/burn_session.h"
#include "download/download_worker.h"
#include "download/image_synthesis.h"
#include "platform/sim/flash_identity.h"
#include "records/line_serials.h"
#include "support/sim_link.h"
#include "tests/support/synthetic_image.h"

#include <gtest/gtest.h>

using nlohmann::json;
using namespace std::chrono_literals;

namespace tessell::testing {
namespace {

class RecordingDialog final : public BurnObserver {
public:
    void appendLog(std::string_view text) override { log += text; }
    void burnLog(std::string_view message) override { burn.emplace_back(message); }
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    void leavePreviewForProgress() override { ++previewLeft; }
    void showIdleStatus() override { ++idle; }

    bool burned(std::string_view line) const {
        return std::find(burn.begin(), burn.end(), line) != burn.end();
    }

    std::string log;
    std::vector<std::string> burn;
    std::vector<std::string> messages;
    int previewLeft = 0;
    int idle = 0;
};

// One simulated camera, opened as the dialog opens it, and a job for it.
struct WorkerStation {
    explicit WorkerStation(json device)
        : rig(json::array({std::move(device)})), devices(rig.platform()) {
        job.devices = &devices;
        job.usb = &rig.platform();
        job.link = std::make_unique<CameraLink>(devices);
        EXPECT_TRUE(job.link->OpenCamera(chip::kAnyFamily, 0, 0).ok());
        job.camera = job.link->GetIcType();
        job.address = {"sim-hub-1", 1};
    }

    Bytes flash() { return rig.platform().camera(0).flashContents(); }
    int run() { return download_worker(job, shared, dialog); }

    SimRig rig;
    ServicedDevices devices;
    DownloadJob job;
    FirmwareImage& image = job.image;
    DownloadShared shared;
    RecordingDialog dialog;
};

Bytes familyImage(ImageFamily family, std::uint16_t vid = 0x1209, std::uint16_t pid = 0x000C,
                  std::size_t size = 0) {
    image::SynthesisRequest request;
    request.family = family;
    request.vid = vid;
    request.pid = pid;
    request.bcdDevice = 0x0210;
    request.manufacturer = "Maker";
    request.size = size;
    return synthesized(request);
}

void expectPassed(WorkerStation& station, const Bytes& image) {
    EXPECT_EQ(station.shared.done, 1);
    EXPECT_EQ(station.shared.result, 1);
    EXPECT_EQ(station.shared.busy, 0);
    EXPECT_TRUE(station.dialog.burned(kLogStart));
    EXPECT_TRUE(station.dialog.burned(kLogSuccess));
    EXPECT_EQ(station.job.link, nullptr) << "the worker closes its camera";
    station.rig.pass(1s); // back on the bus after the final reset
    const Bytes flash = station.flash();
    EXPECT_TRUE(sim::isBootable(flash));
    // The image as sent: all but the header signature the family's procedure
    // writes and the flash-type byte it sets.
    std::size_t differing = 0;
    for (std::size_t i = 2; i < image.size(); ++i)
        differing += flash[i] != image[i];
    EXPECT_LE(differing, 1u);
}

TEST(DownloadWorker, EachFamilyPathPassesAndLeavesTheImage) {
    struct Row {
        const char* what;
        json device;
        ImageFamily family;
        std::uint8_t flashCode;
        bool romBurn;
        const char* familyLine;
        std::uint8_t familyIndex = 0;
    };
    const Row rows[] = {
        {"h: ISP",
         {{"chip_id", "0x80"}, {"flash", {{"part", "0x79"}}}},
         ImageFamily::d,
         0x79,
         false,
         nullptr},
        {"d: ISP",
         {{"chip_id", "0xA0"}, {"variant", 0x10}, {"flash", {{"part", "0x79"}}}},
         ImageFamily::d,
         0x79,
         false,
         nullptr},
        {"i: ISP",
         {{"chip_id", "0xA0"}, {"flash", {{"part", "0x7E"}}}},
         ImageFamily::e,
         0x7E,
         false,
         nullptr,
         5},
        {"f: MX32",
         {{"chip_id", "0x60"}, {"flash", {{"part", "0x81"}}}},
         ImageFamily::d,
         0x81,
         false,
         nullptr,
         6},
        {"g: MX32",
         {{"chip_id", "0x90"}, {"flash", {{"part", "0x82"}}}},
         ImageFamily::d,
         0x82,
         false,
         nullptr,
         6},
        {"k: reset, reopen, ISP",
         {{"chip_id", "0xC0"}, {"flash", {{"part", "0x79"}}}},
         ImageFamily::f,
         0x79,
         false,
         kLogSerialDownload},
        {"m: ISP",
         {{"chip_id", "0xD0"}, {"flash", {{"part", "0x83"}}}},
         ImageFamily::h,
         0x83,
         false,
         kLog7330},
        {"m: RomBurn reset first",
         {{"chip_id", "0xD0"}, {"flash", {{"part", "0x83"}}}},
         ImageFamily::h,
         0x83,
         true,
         kLog7330},
        {"j: DFU",
         {{"chip_id", "0xB0"}, {"flash", {{"part", "0x79"}}}},
         ImageFamily::g,
         0x79,
         false,
         kLog7312},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        WorkerStation station(row.device);
        const Bytes bytes = familyImage(row.family);
        ASSERT_TRUE(station.image.assign(bytes, station.job.camera));
        station.job.flashCode = row.flashCode;
        station.job.familyIndex = row.familyIndex;
        station.job.options.romBurn = row.romBurn;
        station.job.options.preview = true;
        EXPECT_EQ(station.run(), 0);
        expectPassed(station, bytes);
        EXPECT_EQ(station.dialog.previewLeft, 1);
        if (row.familyLine) {
            EXPECT_TRUE(station.dialog.burned(row.familyLine));
        }
        const bool reset = row.romBurn || station.job.camera == IcType::k;
        EXPECT_EQ(station.dialog.burned(kLogResetBefore), reset);
    }
}

TEST(DownloadWorker, ModuleDownloadsOfAnMCamera) {
    struct Case {
        const char* what;
        std::size_t length;
        bool moduleSetting;
        std::uint8_t familyIndex; // as chosen by the settings
        std::uint8_t expected;    // as the worker ends up using it
    };
    const Case cases[] = {
        {"a large image with isMCM 0", 70000, false, 0, flash::kModuleFamily0},
        {"isMCM 1", 0x8000, true, 0, flash::kModuleFamily0},
        {"family index 255", 0x8000, false, flash::kModuleFamily1, flash::kModuleFamily1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WorkerStation station(
            {{"chip_id", "0xD2"}, {"flash", {{"part", "0x83"}}}, {"module", {{"size", 131072}}}});
        Bytes bytes = pattern(c.length);
        bytes[0] = 0x89;
        bytes[1] = 0x26;
        ASSERT_TRUE(station.image.assign(bytes, IcType::m));
        station.job.flashCode = 0x83;
        station.job.familyIndex = c.familyIndex;
        station.job.options.moduleSetting = c.moduleSetting;
        station.run();
        EXPECT_EQ(station.job.familyIndex, c.expected);
        EXPECT_EQ(station.shared.result, 1);
        EXPECT_EQ(station.shared.done, 1);
        EXPECT_TRUE(station.dialog.burned(kLog7330));
        const Bytes module = station.rig.platform().camera(0).moduleContents();
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), module.begin()));
    }
}

TEST(DownloadWorker, EarlyEndsStillCompleteAsFailures) {
    {
        SCOPED_TRACE("a 'k' camera that never comes back after its reset");
        WorkerStation station({{"chip_id", "0xC0"},
                               {"flash", {{"part", "0x79"}}},
                               {"faults", json::array({{{"no_return", true}}})}});
        ASSERT_TRUE(station.image.assign(familyImage(ImageFamily::f), IcType::k));
        station.job.flashCode = 0x79;
        const auto start = station.rig.clock.now();
        station.run();
        EXPECT_TRUE(station.dialog.burned(kLogNotFound));
        EXPECT_EQ(station.shared.done, 1);
        EXPECT_EQ(station.shared.result, 0);
        EXPECT_EQ(station.shared.busy, 0);
        const auto waited = station.rig.clock.now() - start;
        EXPECT_GE(waited, 15s);
        EXPECT_LE(waited, 20s);
        EXPECT_FALSE(sim::isBootable(station.flash())) << "the header was invalidated first";
    }
    {
        SCOPED_TRACE("a reset that fails");
        WorkerStation station({{"chip_id", "0xC0"},
                               {"flash", {{"part", "0x79"}}},
                               {"faults", json::array({{{"op", "set"},
                                                        {"selector", 3},
                                                        {"register", "0x2034"},
                                                        {"nth", 1},
                                                        {"times", 10},
                                                        {"status", "0x80004005"}}})}});
        ASSERT_TRUE(station.image.assign(familyImage(ImageFamily::f), IcType::k));
        station.job.flashCode = 0x79;
        station.run();
        EXPECT_TRUE(station.dialog.burned(kLogResetFail));
        EXPECT_EQ(station.shared.done, 1);
        EXPECT_EQ(station.shared.result, 0);
        EXPECT_EQ(station.shared.busy, 0);
    }
    {
        SCOPED_TRACE("a serial-number file that is refused");
        WorkerStation station({{"chip_id", "0xC0"}, {"flash", {{"part", "0x79"}}}});
        ASSERT_TRUE(station.image.assign(familyImage(ImageFamily::f), IcType::k));
        const Bytes before(station.flash());
        TempDir dir;
        SerialNumberAllocator serials(dir.path() / "missing-sn.txt", "missing-sn.txt");
        station.job.serials = &serials;
        station.run();
        ASSERT_EQ(station.dialog.messages.size(), 1u);
        EXPECT_EQ(station.dialog.messages[0], "something wrong in missing-sn.txt");
        EXPECT_EQ(station.dialog.idle, 1);
        EXPECT_EQ(station.shared.done, 1);
        EXPECT_EQ(station.shared.result, 0);
        EXPECT_EQ(station.shared.busy, 0);
        EXPECT_EQ(station.flash(), before) << "nothing written";
    }
    {
        SCOPED_TRACE("a line database that cannot be reached");
        WorkerStation station({{"chip_id", "0xC0"}, {"flash", {{"part", "0x79"}}}});
        ASSERT_TRUE(station.image.assign(familyImage(ImageFamily::f), IcType::k));
        const Bytes before(station.flash());
        TempDir dir;
        dir.write("sn.txt", "AB12****\r\nAB120009\r\n");
        LineSerialSource serials("host=" + (dir.path() / "no-server").string() +
                                     " port=5999 dbname=line",
                                 "station-a", dir.path() / "sn.txt", "sn.txt");
        station.job.serials = &serials;
        station.run();
        EXPECT_NE(station.dialog.log.find("/line cannot be reached"), std::string::npos)
            << station.dialog.log;
        EXPECT_EQ(station.shared.result, 0);
        EXPECT_EQ(station.flash(), before) << "nothing written";
        EXPECT_EQ(dir.read("sn.txt"), "AB12****\r\nAB120009\r\n") << "no fallback to the file";
    }
}

TEST(DownloadWorker, TheImageQualityCheckOfTwoModels) {
    for (const auto& [b, passes] : {std::pair{"0x00", false}, std::pair{"0x40", true}}) {
        SCOPED_TRACE(b);
        WorkerStation station({{"chip_id", "0x80"},
                               {"flash", {{"part", "0x79"}}},
                               {"registers", {{"0x059A", "0x01"}, {"0x059B", b}}}});
        ASSERT_TRUE(station.image.assign(familyImage(ImageFamily::d), IcType::h));
        station.job.flashCode = 0x79;
        station.job.vid = 0x064E;
        station.job.pid = 0x812C;
        station.run();
        EXPECT_EQ(station.shared.result, passes ? 1 : 0);
        EXPECT_EQ(station.shared.done, 1);
        EXPECT_EQ(station.dialog.log, passes ? "" : kAeFail);
        EXPECT_EQ(station.dialog.burned(kLogSuccess), passes);
    }
}

TEST(DownloadWorker, ReworkKeepsTheCameraStrings) {
    image::SynthesisRequest request;
    request.family = ImageFamily::f;
    request.manufacturer = "Old Maker";
    request.serialNumber = "OLD-1";
    Bytes oldFlash = synthesized(request);
    ASSERT_FALSE(oldFlash.empty());
    oldFlash.resize(0x10000, 0xFF);
    TempDir dir;
    WorkerStation station(
        {{"chip_id", "0xC0"}, {"flash", {{"part", "0x79"}, {"file", flashFile(dir, oldFlash)}}}});
    // A new image that names a serial-number string but carries none.
    image::SynthesisRequest freshRequest;
    freshRequest.family = ImageFamily::f;
    freshRequest.vid = 0x1209;
    freshRequest.pid = 0x000C;
    freshRequest.serialIndex = 3;
    const Bytes fresh = synthesized(freshRequest);
    ASSERT_FALSE(fresh.empty());
    ASSERT_TRUE(station.image.assign(fresh, IcType::k));
    station.job.flashCode = 0x79;
    station.job.options.rework = true;
    station.job.temporaryFolder = dir.path();
    station.run();
    EXPECT_TRUE(station.dialog.burned(kLogRework));
    EXPECT_EQ(station.shared.result, 1);
    // The camera's blocks are saved under its port, for a camera on that port
    // that has lost its own.
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "7315_sim-hub-1_1_HVSN.bin"));
    station.rig.pass(1s);
    const auto identity = sim::identityFromFlash(station.flash(), IcType::k, {});
    EXPECT_EQ(identity.manufacturer, "Old Maker");
    EXPECT_EQ(identity.serial, "OLD-1");
    EXPECT_EQ(identity.pid, 0x000C) << "the new image's identity";
}

TEST(BurnSession, TwoCamerasOnEqualPortsOfTwoHubsBurnSideBySide) {
    // Two 'k' cameras: each resets and must be found again on its own hub.
    TempDir dir;
    SimRig rig(json::array({
        {{"chip_id", "0xC0"}, {"hub", "1-1"}, {"port", 1}, {"flash", {{"part", "0x79"}}}},
        {{"chip_id", "0xC0"}, {"hub", "1-2"}, {"port", 1}, {"flash", {{"part", "0x79"}}}},
    }));
    ServicedDevices devices(rig.platform());
    dir.write("SN.txt", "AB12****\r\nAB120009\r\n");
    SerialNumberAllocator serials(dir.path() / "SN.txt", "SN.txt");

    const std::array<platform::UsbAddress, 2> ports{{{"1-1", 1}, {"1-2", 1}}};
    std::array<RecordingDialog, 2> observers;
    std::vector<std::unique_ptr<BurnSession>> sessions;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        DownloadJob job;
        job.devices = &devices;
        job.usb = &rig.platform();
        job.link = std::make_unique<CameraLink>(devices);
        ASSERT_EQ(OpenCameraAt(*job.link, rig.platform(), chip::kAnyFamily, ports[i]).status(), 0);
        job.camera = job.link->GetIcType();
        job.address = ports[i];
        job.flashCode = 0x79;
        job.serials = &serials;
        ASSERT_TRUE(job.image.assign(
            familyImage(ImageFamily::f, 0x1209, static_cast<std::uint16_t>(i + 1)), job.camera));
        sessions.push_back(std::make_unique<BurnSession>(std::move(job), observers[i]));
    }
    for (auto& session : sessions)
        session->start();
    for (auto& session : sessions)
        session->join();

    rig.pass(1s);
    std::vector<std::string> burned;
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        SCOPED_TRACE(ports[i].text());
        EXPECT_TRUE(sessions[i]->passed()) << observers[i].log;
        const Bytes flash = rig.platform().camera(i).flashContents();
        EXPECT_TRUE(sim::isBootable(flash));
        const auto identity = sim::identityFromFlash(flash, IcType::k, {});
        EXPECT_EQ(identity.pid, i + 1) << "each camera holds its own image";
        // With SNAddr 0 the number takes the place of the first string.
        burned.push_back(identity.manufacturer);
    }
    std::sort(burned.begin(), burned.end());
    EXPECT_EQ(burned, (std::vector<std::string>{"AB120009", "AB12000A"}));
    EXPECT_EQ(dir.read("SN.txt"), "AB12****\r\nAB12000B\r\n") << "advanced once per pass";
}

} // namespace
} // namespace tessell::testing
