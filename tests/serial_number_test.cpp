#include "device/xu_protocol.h"
#include "download/image_synthesis.h"
#include "download/isp_download.h"
#include "download/rework.h"
#include "download/serial_number.h"
#include "support/sim_link.h"
#include "support/test_env.h"
#include "tests/support/synthetic_image.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using nlohmann::json;

namespace tessell::testing {
namespace {

using image::SynthesisRequest;

SynthesisRequest kImage(std::optional<std::size_t> strings = std::nullopt) {
    SynthesisRequest request;
    request.family = ImageFamily::f; // 0x89 0x17, for 'k' cameras
    request.vid = 0x1209;
    request.pid = 0x000C;
    request.bcdDevice = 0x0917;
    request.typeNumber = 0x12AB;
    request.stringBlockOffset = strings;
    return request;
}

// A simulated camera of `chip` whose 64 KiB flash starts with `content`.
json serialCamera(const TempDir& dir, const char* chip, const Bytes& content,
                  const std::string& name = "cam.flash") {
    Bytes flash(0x10000, 0xFF);
    std::copy_n(content.begin(), std::min(content.size(), flash.size()), flash.begin());
    return json::array({{{"chip_id", chip},
                         {"flash", {{"part", "0x79"}, {"file", flashFile(dir, flash, name)}}}}});
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
}

Bytes at(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

// The block inject_serial writes for `serial` from its byte 1 (byte 0 is
// left as it was): L L 03 and the characters.
Bytes block(const std::string& serial, bool iSerial = false) {
    const auto length = static_cast<std::uint8_t>(2 * (serial.size() + (iSerial ? 2 : 1)));
    Bytes bytes{length, length, 0x03};
    if (iSerial)
        bytes.insert(bytes.end(), {0x07, 0x00});
    for (char c : serial)
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0x00});
    return bytes;
}

// A station folder holding the serial-number file, as the program folder.
class SerialNumberTest : public ::testing::Test {
protected:
    void writeSerialFile(const std::string& content) { home.write("sn.txt", content); }
    // The file's number into the image, as a download takes it.
    std::size_t inject(FirmwareImage& image, CameraLink& link, int snAddr) {
        const auto read = read_serial_file(home / "sn.txt", "sn.txt", output);
        if (!read)
            return 0;
        text = *read;
        return inject_serial(image, link, text, snAddr, output).value_or(0);
    }
    // The camera's strings into the image, with the work files of a camera
    // whose port is not known.
    std::size_t keep(FirmwareImage& image, CameraLink& link) {
        return keep_camera_strings(image, link, 0x79,
                                   reworkFiles(link.GetIcType(), temporary.path(), {}), output)
            .value_or(0);
    }

    TempDir home;
    TempDir temporary;
    ScopedEnv homeVariable{"TESSELL_HOME", home.path().c_str()};
    ScopedEnv tmpVariable{"TMPDIR", temporary.path().c_str()};
    CollectedSerialNumberOutput output;
    SerialNumberText text;
};

TEST_F(SerialNumberTest, MalformedFilesAreRefusedWithTheirMessage) {
    const Bytes content = synthesized(kImage());
    SimLink sim(serialCamera(home, "0xC0", content));
    ASSERT_TRUE(sim.opened);
    FirmwareImage image;
    ASSERT_TRUE(image.assign(content));
    const Bytes before(image.buffer().begin(), image.buffer().end());

    struct Case {
        std::optional<std::string> file; // none: no file at all
        std::string log;
    };
    const Case cases[] = {
        {std::nullopt, "\r\nopen sn.txt fail\r\n"},
        {"SN**1*\r\nSN0011\r\n", "\r\n * must be continuity (  SN**1* )\r\n"},
        {std::string(28, 'A') + "***\r\n" + std::string(31, 'A') + "\r\n",
         "\r\nManufacturing string must <= 30\r\n"},
        {std::string(200, '*') + "\r\n", "\r\nManufacturing string must <= 30\r\n"},
        {"AB12****\r\nAB12003\r\n", "\r\nThe length of two line should be the same.\r\n"},
        {"AB12****\r\n", "\r\nThe length of two line should be the same.\r\n"},
        {"AB12****\r\n" + std::string(300, 'A') + "\r\n",
         "\r\nThe length of two line should be the same.\r\n"},
        {"AB**\r\nAB99\r\n", "\r\nReach max number(9999...) in sn.txt, stop burning! \r\n"},
        {"AB**\r\nAB0G\r\n", "\r\nThe  chars must be 0~f in sn.txt \r\n"},
        {"AB**\r\nAB*1\r\n", "\r\nThe  chars must be 0~f in sn.txt \r\n"},
        {"ABCD\r\nABCD\r\n", "\r\nNo * in the first line of sn.txt\r\n"},
        {"", "\r\nNo * in the first line of sn.txt\r\n"},
        {"AB**\r\nA\x01"
         "01\r\n",
         "\r\nUnreadable characters in sn.txt\r\n"},
        {"AB**" + std::string(0x20000, ' '), "\r\nThe length of two line should be the same.\r\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(home / "sn.txt");
        if (c.file)
            writeSerialFile(*c.file);
        output = {};
        EXPECT_EQ(inject(image, sim.link, 0), 0u) << c.log;
        EXPECT_EQ(output.log, c.log);
        EXPECT_TRUE(output.messages.empty());
        EXPECT_EQ(image.length(), content.size());
        EXPECT_TRUE(std::equal(before.begin(), before.end(), image.buffer().begin()))
            << "a refusal leaves the image as it was: " << c.log;
    }
}

TEST_F(SerialNumberTest, NewerChipsTakeTheNumberWhereTheCameraKeepsItsStrings) {
    // The camera's own image keeps its strings at 0x3000; the new image says
    // 0x6000. The camera is asked, and only when it cannot tell does the
    // image's own place count.
    SimLink sim(serialCamera(home, "0xC0", synthesized(kImage(0x3000))));
    ASSERT_TRUE(sim.opened);
    const Bytes content = synthesized(kImage());
    FirmwareImage image;
    ASSERT_TRUE(image.assign(content));

    writeSerialFile("SN********\r\nSN0000003F\r\n");
    EXPECT_EQ(inject(image, sim.link, 0), content.size() + 27)
        << "a 10-character number: bLength 22, the image grows by 27 bytes";
    EXPECT_EQ(image.length(), content.size() + 27);
    EXPECT_EQ(at(image.buffer(), 0x3001, 23), block("SN0000003F"));
    EXPECT_EQ(image.buffer()[0x6001], 0xFF) << "the image's own place is left alone";
    EXPECT_EQ(text.pattern, "SN********");
    EXPECT_EQ(text.serial, "SN0000003F");
    EXPECT_EQ(text.counter, "0000003F");
    EXPECT_EQ(output.log, "\r\n  Change SN to SN0000003F\r\n");
    EXPECT_TRUE(output.messages.empty());

    // iSerialNumber 3 with SNAddr 1: the serial-number block 0x1000 above,
    // after a 0x0007 character, and a message box naming the index.
    auto request = kImage();
    request.serialIndex = 3;
    const Bytes indexed = synthesized(request);
    ASSERT_TRUE(image.assign(indexed));
    output = {};
    EXPECT_EQ(inject(image, sim.link, 1), indexed.size() + 29);
    EXPECT_EQ(at(image.buffer(), 0x4001, 25), block("SN0000003F", true));
    EXPECT_EQ(output.messages, std::vector<std::string>{"WriteToiSerial = 1, iSerialIndex = 3"});

    // SNAddr 1 but an image without iSerialNumber: the first block, no message.
    ASSERT_TRUE(image.assign(content));
    output = {};
    EXPECT_EQ(inject(image, sim.link, 1), content.size() + 27);
    EXPECT_EQ(at(image.buffer(), 0x3001, 23), block("SN0000003F"));
    EXPECT_TRUE(output.messages.empty());

    // More than 20 counter characters are taken as they are.
    writeSerialFile("S" + std::string(21, '*') + "\r\nS" + std::string(21, 'Z') + "\r\n");
    output = {};
    const std::size_t before = image.length();
    EXPECT_EQ(inject(image, sim.link, 0), before + 2 * 23 + 5);
    EXPECT_EQ(text.counter, std::string(21, 'Z'));
}

TEST_F(SerialNumberTest, ACameraThatCannotTellUsesTheImagesPlaceOrRefuses) {
    SimLink sim(serialCamera(home, "0xC0", Bytes{})); // erased flash: no header
    ASSERT_TRUE(sim.opened);
    writeSerialFile("AB12****\r\nAB12003F\r\n");
    const Bytes content = synthesized(kImage());
    FirmwareImage image;
    ASSERT_TRUE(image.assign(content));
    EXPECT_EQ(inject(image, sim.link, 0), content.size() + 23);
    EXPECT_EQ(at(image.buffer(), image::kSynthStringBlockOffset + 1, 19), block("AB12003F"));

    // An image without a pointer table has no place either.
    SynthesisRequest older;
    older.family = ImageFamily::j;
    older.header = image::HeaderBytes{0x55, 0x90};
    ASSERT_TRUE(image.assign(synthesized(older)));
    output = {};
    EXPECT_EQ(inject(image, sim.link, 0), 0u);
    EXPECT_EQ(output.log, "cannot allocate serial number memory, download stop.\r\n");
}

TEST_F(SerialNumberTest, OlderChipsKeepTheNumberInsideTheImage) {
    SynthesisRequest request;
    request.family = ImageFamily::d; // 0x55 0x90, descriptor at 0xB700, for 'h' cameras
    request.serialIndex = 3;
    const Bytes content = synthesized(request);
    SimLink sim(serialCamera(home, "0x80", Bytes{}));
    ASSERT_TRUE(sim.opened);
    writeSerialFile("AB12****\r\nAB120039\r\n");
    FirmwareImage image;
    ASSERT_TRUE(image.assign(content));
    EXPECT_EQ(inject(image, sim.link, 0), content.size()) << "the length stays";
    EXPECT_EQ(at(image.buffer(), 0xE001, 19), block("AB120039"));

    // With SNAddr 1 the block 0x1000 above takes the number from byte 4: these
    // chips know no 0x0007 character.
    output = {};
    EXPECT_EQ(inject(image, sim.link, 1), content.size());
    EXPECT_EQ(at(image.buffer(), 0xF001, 19), block("AB120039"));
    EXPECT_EQ(output.messages, std::vector<std::string>{"WriteToiSerial = 1, iSerialIndex = 3"});

    // A block beyond the bytes sent would never reach the camera.
    request.size = 0xE000;
    ASSERT_TRUE(image.assign(synthesized(request)));
    output = {};
    EXPECT_EQ(inject(image, sim.link, 0), 0u);
    EXPECT_EQ(output.log, "cannot allocate serial number memory, download stop.\r\n");

    // An image of another layout does not take a serial number on these chips.
    SynthesisRequest other;
    other.family = ImageFamily::h; // 0x89 0x26
    FirmwareImage otherImage;
    ASSERT_TRUE(otherImage.assign(synthesized(other)));
    output = {};
    EXPECT_EQ(inject(otherImage, sim.link, 0), 0u);
    EXPECT_EQ(output.log, "\r\nThe image header does not take a serial number, download stop.\r\n");
    EXPECT_EQ(otherImage.buffer()[0xE001], 0xFF);
}

TEST(NextSerial, CountsInHexadecimalAtTheStarPositions) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"AB12****", "AB12003F", "AB120040"},
        {"AB12****", "AB120039", "AB12003A"},
        {"AB12****", "AB12FFFF", "AB120000"},
        {"AB12****", "AB12000E", "AB12000F"},
        {"**", "9A", "9B"},
        {"ab12****", "ab12003f", "ab120040"},
        {"A**B", "AF9B", "AFAB"},
        {"A**B", "A0FB", "A10B"},
        {"***", "1 F", "2 0"},
    };
    for (const auto& [pattern, serial, next] : rows)
        EXPECT_EQ(nextSerial(pattern, serial), next) << serial;
    EXPECT_EQ(nextSerial("AB12", "AB12"), std::nullopt) << "no counter";
    EXPECT_EQ(nextSerial("AB**", "AB1"), std::nullopt) << "lengths differ";
}

TEST_F(SerialNumberTest, AdvanceRewritesTheFileOrLeavesItAlone) {
    writeSerialFile("AB12****\nAB12003F\n");
    text = {"AB12****", "AB12003F", "003F", ""};
    EXPECT_TRUE(advance_serial(home / "sn.txt", "sn.txt", text, output));
    const Bytes written = readFile(home / "sn.txt");
    EXPECT_EQ(std::string(written.begin(), written.end()), "AB12****\r\nAB120040\r\n");
    EXPECT_TRUE(output.log.empty());
    EXPECT_FALSE(std::filesystem::exists(home / "sn.txt.new"));

    // Texts that do not fit together would lose the number: the file stays.
    text = {"AB12", "AB12", "", ""};
    EXPECT_FALSE(advance_serial(home / "sn.txt", "sn.txt", text, output));
    EXPECT_EQ(output.log, "\r\nThe serial number does not fit the pattern in sn.txt\r\n");
    EXPECT_EQ(readFile(home / "sn.txt"), written);

    output = {};
    text = {"AB12****", "AB120040", "0040", ""};
    EXPECT_FALSE(advance_serial(home / "no/such/sn.txt", "no/such/sn.txt", text, output));
    EXPECT_EQ(output.log, "open no/such/sn.txt fail\r\n");
}

TEST_F(SerialNumberTest, TheAllocatorNeverHandsOneNumberToTwoCameras) {
    writeSerialFile("AB12****\r\nAB12000E\r\n");
    SerialNumberAllocator serials(home / "sn.txt", "sn.txt");
    const auto first = serials.take(output);
    const auto second = serials.take(output);
    ASSERT_TRUE(first && second) << output.log;
    EXPECT_EQ(first->serial, "AB12000E");
    EXPECT_EQ(second->serial, "AB12000F");
    EXPECT_EQ(second->counter, "000F");

    // The second camera passes first: the file moves past it at once, and the
    // first camera's pass later does not move it back.
    EXPECT_TRUE(serials.confirm(*second, output));
    EXPECT_EQ(home.read("sn.txt"), "AB12****\r\nAB120010\r\n");
    EXPECT_TRUE(serials.confirm(*first, output));
    EXPECT_EQ(home.read("sn.txt"), "AB12****\r\nAB120010\r\n");

    // A camera that fails gives its number back to the next one.
    const auto failed = serials.take(output);
    ASSERT_TRUE(failed);
    serials.release(*failed);
    EXPECT_EQ(serials.take(output)->serial, failed->serial);
    EXPECT_TRUE(output.log.empty()) << output.log;
}

TEST_F(SerialNumberTest, TheAllocatorRefusesNumbersItCouldNotKeep) {
    // The last number of the counter: counting on would repeat 0000.
    writeSerialFile("AB**\r\nABFF\r\n");
    SerialNumberAllocator serials(home / "sn.txt", "sn.txt");
    EXPECT_FALSE(serials.take(output));
    EXPECT_NE(output.log.find("Reach max number(FF) in sn.txt"), std::string::npos) << output.log;

    // A file that cannot be replaced (here its temporary file's place is
    // taken by a folder) would hand the number out again after a pass.
    writeSerialFile("AB**\r\nAB10\r\n");
    std::filesystem::create_directory(home / "sn.txt.new");
    output = {};
    EXPECT_FALSE(serials.take(output));
    EXPECT_NE(output.log.find("sn.txt cannot be written"), std::string::npos) << output.log;

    // The same after the number was taken: the pass is not recorded, and the
    // number is never handed out again by this process.
    std::filesystem::remove(home / "sn.txt.new");
    const auto taken = serials.take(output);
    ASSERT_TRUE(taken);
    std::filesystem::create_directory(home / "sn.txt.new");
    EXPECT_FALSE(serials.confirm(*taken, output));
    std::filesystem::remove(home / "sn.txt.new");
    const auto next = serials.take(output);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->serial, "AB11");
}

// --- rework ---------------------------------------------------------------------------

// A 'k' camera whose flash holds an image with its own strings at 0x3000.
Bytes reworkedCameraFlash(const char* manufacturer = "Camera Maker",
                          const char* serial = "CAM-0001") {
    auto request = kImage(0x3000);
    request.manufacturer = manufacturer;
    request.serialNumber = serial;
    return synthesized(request);
}

// The new image: iSerialNumber 3, no strings, the strings' places in its header.
Bytes newImage(std::size_t size = 0) {
    auto request = kImage();
    request.serialIndex = 3;
    request.size = size;
    return synthesized(request);
}

TEST_F(SerialNumberTest, ReworkKeepsTheCamerasStringsAndSavesThem) {
    const Bytes flash = reworkedCameraFlash();
    SimLink sim(serialCamera(home, "0xC0", flash));
    ASSERT_TRUE(sim.opened);
    const Bytes content = newImage();
    FirmwareImage image;
    ASSERT_TRUE(image.assign(content));

    const Bytes first = at(flash, 0x3000, 2 + flash[0x3001]);
    const Bytes serial = at(flash, 0x4000, 2 + flash[0x4001]);
    const std::size_t length = keep(image, sim.link);
    EXPECT_EQ(length, content.size() + first.size() + serial.size());
    EXPECT_EQ(image.length(), length);
    EXPECT_EQ(at(image.buffer(), 0x6000, first.size()), first);
    EXPECT_EQ(at(image.buffer(), 0x7000, serial.size()), serial);
    EXPECT_EQ(image::decodeStringBlock(image.buffer(), 0x6000), "Camera Maker");
    EXPECT_EQ(at(image.buffer(), content.size(), length - content.size()),
              Bytes(length - content.size(), 0x00))
        << "the cleared work buffer beyond the image";
    EXPECT_EQ(readFile(temporary / "7315_HVSN.bin"), first);
    EXPECT_EQ(readFile(temporary / "7315_HVSN-2.bin"), serial);
    EXPECT_TRUE(output.log.empty());
}

TEST_F(SerialNumberTest, ReworkFallsBackToSavedThenDefaultBlocks) {
    const Bytes content = newImage();
    {
        SimLink sim(serialCamera(home, "0xC0", reworkedCameraFlash("Saved Maker", "SAVED-1")));
        ASSERT_TRUE(sim.opened);
        FirmwareImage image;
        ASSERT_TRUE(image.assign(content));
        ASSERT_NE(keep(image, sim.link), 0u);
    }
    // A camera whose blocks are not valid (erased strings, L = 0xFF).
    SimLink sim(serialCamera(home, "0xC0", synthesized(kImage(0x3000)), "lost.flash"));
    ASSERT_TRUE(sim.opened);
    FirmwareImage image;
    ASSERT_TRUE(image.assign(content));
    ASSERT_NE(keep(image, sim.link), 0u);
    EXPECT_EQ(image::decodeStringBlock(image.buffer(), 0x6000), "Saved Maker");
    EXPECT_EQ(image::decodeStringBlock(image.buffer(), 0x7000), "SAVED-1");

    // Without work files, or with ones that hold no valid block: the defaults.
    std::filesystem::remove(temporary / "7315_HVSN.bin");
    temporary.write("7315_HVSN-2.bin", std::string(100, '\x04'));
    ASSERT_TRUE(image.assign(content));
    const std::size_t length = keep(image, sim.link);
    EXPECT_EQ(length, content.size() + 32 + 6);
    EXPECT_EQ(at(image.buffer(), 0x6000, 32),
              Bytes(kDefaultFirstBlock.begin(), kDefaultFirstBlock.end()));
    EXPECT_EQ(image::decodeStringBlock(image.buffer(), 0x6000).value_or("").substr(0, 13),
              "HalvaneIT INC");
    EXPECT_EQ(at(image.buffer(), 0x7000, 6),
              Bytes(kDefaultSerialBlock.begin(), kDefaultSerialBlock.end()));
}

TEST_F(SerialNumberTest, ReworkPlaceFollowsTheCamerasHeaderKind) {
    Bytes content = newImage();
    const std::size_t h = image::headerOffset(content);
    // Places for a camera whose flash is 0x89 0x17 differ from the others.
    content[h + 0x22] = 0x50;
    content[h + 0x23] = 0x00;
    content[h + 0x26] = 0x58;
    content[h + 0x27] = 0x00;
    for (const std::uint8_t kind : {0x17, 0x18}) {
        auto flash = reworkedCameraFlash();
        flash[1] = kind;
        SimLink sim(serialCamera(home, "0xC0", flash, "kind" + std::to_string(kind) + ".flash"));
        ASSERT_TRUE(sim.opened);
        FirmwareImage image;
        ASSERT_TRUE(image.assign(content));
        ASSERT_NE(keep(image, sim.link), 0u);
        const std::size_t first = kind == 0x17 ? 0x5000 : 0x6000;
        const std::size_t serial = kind == 0x17 ? 0x5800 : 0x7000;
        EXPECT_EQ(image::decodeStringBlock(image.buffer(), first), "Camera Maker") << int{kind};
        EXPECT_EQ(image::decodeStringBlock(image.buffer(), serial), "CAM-0001") << int{kind};
    }
}

TEST_F(SerialNumberTest, ReworkOfOlderChipsTakesTheWholeStringSector) {
    SynthesisRequest request;
    request.family = ImageFamily::d;
    request.manufacturer = "Older Maker";
    request.serialNumber = "OLD-7";
    const Bytes flash = synthesized(request);
    SimLink sim(serialCamera(home, "0x80", flash));
    ASSERT_TRUE(sim.opened);
    request.manufacturer.reset();
    request.serialNumber.reset();
    const Bytes content = synthesized(request);
    FirmwareImage image;
    ASSERT_TRUE(image.assign(content));
    EXPECT_EQ(keep(image, sim.link), content.size());
    EXPECT_EQ(at(image.buffer(), 0xE000, 0x1000), at(flash, 0xE000, 0x1000));
    EXPECT_EQ(image::decodeStringBlock(image.buffer(), 0xE000), "Older Maker");
    EXPECT_EQ(image.buffer()[0xF001], 0xFF) << "only the first string sector is taken";
    EXPECT_EQ(readFile(temporary / "7310_HVSN.bin"), at(flash, 0xE000, flash[0xE001] + 5u));
}

TEST_F(SerialNumberTest, ReworkRefusesWhatItCannotDoSafely) {
    struct Case {
        const char* what;
        Bytes content;
        json faults;
        const char* log;
    };
    Bytes farTarget = newImage();
    const std::size_t h = image::headerOffset(farTarget);
    for (const std::size_t field : {0x20, 0x22}) {
        farTarget[h + field] = 0xB0; // beyond the image's 0xA000 bytes
        farTarget[h + field + 1] = 0x00;
    }
    SynthesisRequest older;
    older.family = ImageFamily::j;
    older.header = image::HeaderBytes{0x55, 0x90};
    const Case cases[] = {
        {"image over 64 KiB", newImage(0x10001), json::array(), "larger than 64 KiB"},
        {"no pointer table", synthesized(older), json::array(), "no header"},
        {"block beyond the image", farTarget, json::array(), "string block does not fit"},
        {"flash reads fail", newImage(),
         json::array({{{"op", "get"},
                       {"selector", 15},
                       {"nth", 1},
                       {"times", 1000},
                       {"status", "0x8007001F"}}}),
         "could not be read"},
    };
    for (const auto& c : cases) {
        auto devices = serialCamera(home, "0xC0", reworkedCameraFlash());
        devices[0]["faults"] = c.faults;
        SimLink sim(devices);
        ASSERT_TRUE(sim.opened);
        FirmwareImage image;
        ASSERT_TRUE(image.assign(c.content));
        output = {};
        EXPECT_EQ(keep(image, sim.link), 0u) << c.what;
        EXPECT_NE(output.log.find(c.log), std::string::npos) << c.what << ": " << output.log;
        EXPECT_EQ(image.length(), c.content.size()) << c.what;
        EXPECT_EQ(image.buffer()[0x6001], c.content.size() > 0x6001 ? c.content[0x6001] : 0xFF)
            << c.what;
    }
}

TEST_F(SerialNumberTest, ReworkOfAnMCameraTakesF9FFImagesLikeTheirTwins) {
    auto old = kImage(0x3000);
    old.family = ImageFamily::h;
    old.manufacturer = "Camera Maker";
    const Bytes flash = synthesized(old);
    std::vector<Bytes> reworked;
    for (const auto header : {image::HeaderBytes{0x89, 0x26}, image::HeaderBytes{0xF9, 0xFF}}) {
        SCOPED_TRACE(header.signature);
        SimLink sim(serialCamera(home, "0xD0", flash));
        ASSERT_TRUE(sim.opened);
        auto fresh = kImage();
        fresh.family = ImageFamily::h;
        fresh.header = header;
        const Bytes content = synthesized(fresh);
        FirmwareImage image;
        ASSERT_TRUE(image.assign(content));
        output = {};
        const std::size_t length = keep(image, sim.link);
        EXPECT_GT(length, content.size()) << output.log;
        reworked.push_back(at(image.buffer(), 2, length - 2));
    }
    EXPECT_EQ(reworked[0], reworked[1]) << "the same strings in the same places";
}

// The whole road on a simulated 'k' camera: the number (or the camera's own
// strings) placed, the image downloaded, and the camera presenting them
// when it arrives again.
TEST_F(SerialNumberTest, DownloadedCamerasPresentTheNumberAndTheKeptStrings) {
    auto present = [](SimLink& sim) {
        sim.rig.pass(std::chrono::seconds(1)); // the reset's re-enumeration
        std::vector<platform::UsbDeviceInfo> found;
        EXPECT_EQ(sim.rig.platform().imagingDevices(found), status::kOk);
        return found.empty() ? platform::UsbDeviceInfo{} : found[0];
    };
    auto oldImage = kImage();
    oldImage.manufacturer = "Old Maker";
    oldImage.serialNumber = "OLD-1";
    auto newImage = kImage();
    newImage.serialIndex = 3;
    newImage.bcdDevice = 0x0A00;
    const Bytes content = synthesized(newImage);
    {
        SimLink sim(serialCamera(home, "0xC0", synthesized(oldImage), "burn.flash"));
        ASSERT_TRUE(sim.opened);
        writeSerialFile("AB12****\r\nAB120001\r\n");
        FirmwareImage image;
        ASSERT_TRUE(image.assign(content));
        ASSERT_NE(inject(image, sim.link, 1), 0u) << output.log;
        DownloadStatus status;
        ASSERT_EQ(outcomeOf(isp_download(image, sim.link, 0x79, &status, true)), "passed");
        const auto found = present(sim);
        EXPECT_EQ(found.bcdDevice, 0x0A00);
        EXPECT_EQ(found.serialNumber, "\x07"
                                      "AB120001");
    }
    {
        SimLink sim(serialCamera(home, "0xC0", synthesized(oldImage), "rework.flash"));
        ASSERT_TRUE(sim.opened);
        FirmwareImage image;
        ASSERT_TRUE(image.assign(content));
        ASSERT_NE(keep(image, sim.link), 0u) << output.log;
        DownloadStatus status;
        ASSERT_EQ(outcomeOf(isp_download(image, sim.link, 0x79, &status, true)), "passed");
        const auto found = present(sim);
        EXPECT_EQ(found.bcdDevice, 0x0A00);
        EXPECT_EQ(found.manufacturer, "Old Maker");
        EXPECT_EQ(found.serialNumber, "OLD-1");
    }
}

} // namespace
} // namespace tessell::testing
