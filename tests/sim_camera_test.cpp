// The simulated camera on its own: chip registers and the serial port, the
// Extension-Unit firmware, the download stream, faults and the state file.

#include "device/flash_parts.h"
#include "support/sim_rig.h"

#include <gtest/gtest.h>
#include <numeric>

using namespace std::chrono_literals;
using nlohmann::json;

namespace tessell::testing {
namespace {

Bytes image(std::size_t length, std::uint32_t seed = 7) {
    Bytes bytes(length);
    for (auto& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

std::uint8_t xorOfBytes(const Bytes& bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), std::uint8_t{0},
                           [](std::uint8_t sum, std::uint8_t b) { return sum ^ b; });
}

Bytes address4(std::uint32_t address) {
    return {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8), 0, 0};
}

// Streams `data` in blocks of the camera's size, padding the last with 0xFF.
void stream(XuClient& xu, const Bytes& data, std::size_t blockSize = 4096) {
    for (std::size_t sent = 0; sent < data.size(); sent += blockSize) {
        Bytes block(blockSize, 0xFF);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(sent),
                    std::min(blockSize, data.size() - sent), block.begin());
        ASSERT_EQ(xu.set(XU_DFU_ACCESS_CONTROL, block), status::kOk) << "block at " << sent;
    }
}

Bytes flashOf(SimRig& rig, std::size_t camera = 0) {
    return rig.platform().camera(camera).flashContents();
}

// --- Chip registers and the serial port ---------------------------------------

TEST(SimChip, SerialPortReachesTheFlashOnlyAsTheChipAllows) {
    SimRig rig(json::parse(R"([{"chip_id": "0xC2", "flash": {"part": "0x7A"}},
                               {"chip_id": "0x60"}])"));
    XuClient xu(rig.platform(), 0);

    // Identification: the tool's table names the part from what the port reads.
    const Bytes id = xu.spi({0x90, 0, 0, 0}, 3);
    EXPECT_EQ(flash::codeFromManufacturerId({id[0], id[1], id[2]}), std::optional<FlashCode>(0x7A));

    // The busy flag reads 1 once after each shift, then 0.
    xu.writeRegister(0x2020, 0x80);
    xu.writeRegister(0x2022, 0x04);
    EXPECT_EQ(xu.readRegister(0x2021), 1);
    EXPECT_EQ(xu.readRegister(0x2021), 0);
    // With the port off nothing shifts.
    xu.writeRegister(0x2020, 0);
    xu.writeRegister(0x2022, 0x04);
    EXPECT_EQ(xu.readRegister(0x2021), 0);

    auto status = [&] { return xu.spi({0x05}, 1)[0]; };
    EXPECT_EQ(status(), 0x0C) << "protected at start";
    // Program without the latch, then with the latch while protected: nothing.
    xu.spi({0x02, 0, 0x10, 0x00, 0x12}, 0);
    xu.spi({0x06}, 0);
    EXPECT_EQ(status(), 0x0E);
    xu.spi({0x02, 0, 0x10, 0x00, 0x12}, 0);
    EXPECT_EQ(flashOf(rig)[0x1000], 0xFF);
    // This SST part takes the status write after 0x50 (program mode 1).
    xu.spi({0x50}, 0);
    xu.spi({0x01, 0x00}, 0);
    EXPECT_EQ(status(), 0x00);
    xu.spi({0x02, 0, 0x10, 0x00, 0x12}, 0);
    EXPECT_EQ(flashOf(rig)[0x1000], 0xFF) << "the latch cleared with the status write";
    xu.spi({0x06}, 0);
    xu.spi({0x02, 0, 0x10, 0x00, 0x12, 0x34}, 0);
    EXPECT_EQ(flashOf(rig)[0x1000], 0x12);
    EXPECT_EQ(flashOf(rig)[0x1001], 0x34);
    xu.spi({0x06}, 0);
    xu.spi({0x02, 0, 0x10, 0x00, 0x0F}, 0);
    EXPECT_EQ(flashOf(rig)[0x1000], 0x02) << "programming only clears bits";
    EXPECT_EQ(xu.spi({0x03, 0, 0x10, 0x00}, 2), (Bytes{0x02, 0x34}));
    xu.spi({0x06}, 0);
    xu.spi({0x20, 0, 0x10, 0x00}, 0);
    EXPECT_EQ(flashOf(rig)[0x1001], 0xFF) << "sector erase";

    // Family 0x60 selects with 2: the value 0 releases, so nothing is read.
    XuClient f(rig.platform(), 1);
    EXPECT_EQ(f.spi({0x90, 0, 0, 0}, 3, 0), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(f.spi({0x90, 0, 0, 0}, 3, 2), (Bytes{0xC2, 0x05, 0xC2}));
}

TEST(SimChip, RegistersKeepWritesAndStartValues) {
    SimRig rig(json::parse(R"([{"chip_id": "0xA5", "variant": 16,
        "registers": {"0x2509": 7, "0x059A": "0x01", "0x059B": 2, "0x2C00": "0x02",
                      "0x20FF": 1}}])"));
    XuClient xu(rig.platform(), 0);
    EXPECT_EQ(xu.readRegister(0x20FF), 0xA5) << "chip_id wins over a start value";
    EXPECT_EQ(xu.readRegister(0x20D0), 0x10);
    EXPECT_EQ(xu.readRegister(0x2509), 7);
    EXPECT_EQ(xu.readRegister(0x059A), 1);
    EXPECT_EQ(xu.readRegister(0x059B), 2);
    EXPECT_EQ(xu.readRegister(0x2C00), 2);
    EXPECT_EQ(xu.readRegister(0x20EB), 0);
    EXPECT_EQ(xu.writeRegister(0x20EB, 0x80), status::kOk);
    EXPECT_EQ(xu.readRegister(0x20EB), 0x80);
    xu.writeRegister(0x20FF, 0x10);
    EXPECT_EQ(xu.readRegister(0x20FF), 0xA5) << "the identification register is read-only";
}

// --- The Extension-Unit firmware -------------------------------------------------

TEST(SimFirmware, ControlSizesDirectionsAndLengths) {
    SimRig rig(json::parse(R"([{"block_size": 512, "sf_block_size": "0x800"}])"));
    XuClient xu(rig.platform(), 0);
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {2, 2},  {3, 1},      {7, 1},  {8, 1},  {9, 1},   {10, 512}, {11, 1},  {12, 1}, {13, 4},
        {14, 4}, {15, 0x800}, {16, 1}, {20, 1}, {22, 64}, {23, 3},   {24, 27}, {26, 1}};
    for (const auto& [selector, expected] : sizes) {
        std::uint32_t length = 0;
        EXPECT_EQ(xu.size(selector, length), status::kOk) << selector;
        EXPECT_EQ(length, expected) << selector;
    }
    std::uint32_t length = 0;
    EXPECT_EQ(xu.size(99, length), status::kNotFound);
    Bytes one(1);
    EXPECT_EQ(xu.get(99, one), status::kNotFound);
    EXPECT_TRUE(status::failed(xu.get(XU_DFU_ENABLE_CONTROL, one))) << "a write-only control";
    EXPECT_TRUE(status::failed(xu.set(XU_SF_ID, {1, 2, 3}))) << "a read-only control";
    EXPECT_EQ(xu.set(XU_REG_ADDRESS, {0xFF}), status::kInvalidArgument) << "short write";
    Bytes two(2);
    EXPECT_EQ(xu.get(XU_REG_DATA, two), status::kInvalidArgument) << "long read";
    EXPECT_TRUE(status::failed(xu.set(XU_DFU_ACCESS_CONTROL, Bytes(512, 0))))
        << "a block outside download mode";
    EXPECT_EQ(xu.read(XU_DFU_CHECKSUM, 1), Bytes{0}) << "the probe outside a download";
    EXPECT_EQ(xu.set(XU_DFU_ENABLE_CONTROL, {2}), status::kFail);
    EXPECT_EQ(xu.set(XU_ISP_FW_DOWNLOAD_OK, {1}), status::kFail) << "no download to finish";
}

TEST(SimFirmware, IdentifiesTheFlashThroughTheLoadedSlots) {
    SimRig rig(json::parse(R"([{"flash": {"part": "0x7D"}},
                               {"flash": {"part": "0x79"}, "firmware_flash_id": false}])"));
    XuClient xu(rig.platform(), 0);
    auto identify = [&](std::uint8_t command) {
        EXPECT_EQ(xu.set(XU_SF_CMD_INDEX, {13}), status::kOk);
        EXPECT_EQ(xu.set(XU_SF_CMD_VALUE, {command}), status::kOk);
        const Bytes id = xu.read(XU_SF_ID, 3);
        return flash::IdBytes{id[0], id[1], id[2]};
    };
    EXPECT_EQ(xu.read(XU_SF_ID, 3), (Bytes{0, 0, 0})) << "nothing latched yet";
    // A part named by the second read: FF FF FF to 0x90, its bytes to 0xAB.
    EXPECT_EQ(flash::codeFromManufacturerId(identify(0x90)), std::nullopt);
    EXPECT_EQ(flash::codeFromSecondRead(0xAB, identify(0xAB)), std::optional<FlashCode>(0x7D));

    XuClient old(rig.platform(), 1);
    EXPECT_TRUE(status::failed(old.set(XU_SF_CMD_INDEX, {13})));
    EXPECT_EQ(old.set(XU_SF_CMD_INDEX, {12}), status::kOk) << "the table slots still work";
    EXPECT_TRUE(status::failed(old.set(XU_SF_CMD_INDEX, {14})));
}

TEST(SimFirmware, SectorEraseAndDataBlocksOfSelectors13To22) {
    SimRig rig(json::parse(R"([{"chip_id": "0x80", "flash": {"protected": false}},
                               {"chip_id": "0xB0", "flash": {"protected": false}}])"));
    XuClient xu(rig.platform(), 0);
    xu.loadTable(flash::opcodeTable(0));

    // 4096 bytes on selector 15: the upper half of each 64-byte chunk goes to
    // the chunk's offset; the way the tool writes a sector as two such blocks.
    const Bytes data = image(4096);
    Bytes a(4096, 0xFF), b(4096, 0xFF);
    for (std::size_t k = 0; k < 64; ++k) {
        std::copy_n(data.begin() + 64 * k, 32, a.begin() + 64 * k + 32);
        std::copy_n(data.begin() + 64 * k + 32, 32, b.begin() + 64 * k + 32);
    }
    EXPECT_EQ(xu.set(XU_SF_SECTOR_ERASE, address4(0x3000)), status::kOk);
    EXPECT_EQ(xu.set(XU_SF_ADDRESS, address4(0x3000)), status::kOk);
    EXPECT_EQ(xu.set(XU_SF_DATA_4K, a), status::kOk);
    EXPECT_EQ(xu.set(XU_SF_ADDRESS, address4(0x3020)), status::kOk);
    EXPECT_EQ(xu.set(XU_SF_DATA_4K, b), status::kOk);
    auto flash = flashOf(rig);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + 0x3000));
    EXPECT_TRUE(status::failed(xu.set(XU_SF_DATA_4K, Bytes(2048, 0)))) << "writes are 4096 bytes";

    // Reads of selector 15 advance the address by the block size.
    xu.set(XU_SF_ADDRESS, address4(0x2000));
    EXPECT_EQ(xu.read(XU_SF_DATA_4K, 4096), Bytes(4096, 0xFF));
    const Bytes second = xu.read(XU_SF_DATA_4K, 4096);
    EXPECT_EQ(second, data);

    // Selector 22 writes and reads 64 bytes at the address.
    Bytes block(64);
    std::iota(block.begin(), block.end(), std::uint8_t{1});
    xu.set(XU_SF_ADDRESS, address4(0x30F0));
    EXPECT_EQ(xu.set(XU_SF_DATA_64, block), status::kOk) << "crosses a page boundary";
    flash = flashOf(rig);
    Bytes expected(64);
    for (std::size_t i = 0; i < 64; ++i)
        expected[i] = data[0xF0 + i] & block[i];
    EXPECT_EQ(xu.read(XU_SF_DATA_64, 64), expected);

    // Erase is of the whole 4 KiB sector around the address.
    EXPECT_EQ(xu.set(XU_SF_SECTOR_ERASE, address4(0x3ABC)), status::kOk);
    flash = flashOf(rig);
    EXPECT_TRUE(std::all_of(flash.begin() + 0x3000, flash.begin() + 0x4000,
                            [](std::uint8_t b) { return b == 0xFF; }));

    // The 7312 takes a count and the data after it.
    XuClient j(rig.platform(), 1);
    j.loadTable(flash::opcodeTable(0));
    Bytes counted(64, 0xFF);
    counted[0] = 3;
    counted[1] = 0x55;
    counted[2] = 0x90;
    counted[3] = 0x00;
    j.set(XU_SF_ADDRESS, address4(0));
    EXPECT_EQ(j.set(XU_SF_DATA_64, counted), status::kOk);
    const auto jFlash = flashOf(rig, 1);
    EXPECT_EQ(Bytes(jFlash.begin(), jFlash.begin() + 4), (Bytes{0x55, 0x90, 0x00, 0xFF}));
    counted[0] = 64;
    EXPECT_TRUE(status::failed(j.set(XU_SF_DATA_64, counted)));
}

TEST(SimFirmware, ChecksumBusyFlagAndRequestTime) {
    SimRig rig(json::parse(R"([{"busy_ms": 1500, "request_us": 250}])"));
    XuClient xu(rig.platform(), 0);
    EXPECT_EQ(xu.read(XU_FW_CHECKSUM_TRIGGER, 1), Bytes{0});
    const auto slept = rig.clock.slept();
    EXPECT_EQ(xu.set(XU_FW_CHECKSUM_TRIGGER, {1}), status::kOk);
    EXPECT_EQ(rig.clock.slept() - slept, 250us) << "each request takes its transfer time";
    EXPECT_EQ(xu.read(XU_FW_CHECKSUM_TRIGGER, 1), Bytes{1});
    rig.clock.advance(1400ms);
    EXPECT_EQ(xu.read(XU_FW_CHECKSUM_TRIGGER, 1), Bytes{1});
    rig.clock.advance(100ms);
    EXPECT_EQ(xu.read(XU_FW_CHECKSUM_TRIGGER, 1), Bytes{0});
}

// --- The download stream -----------------------------------------------------------

TEST(SimStream, PlacementHeldBackByteAndChecksum) {
    SimRig rig(json::parse(R"([{"chip_id": "0xC0", "flash": {"file": "cam0.flash"},
                                "flash_timing": {"page_program_us": 700, "sector_erase_ms": 40}},
                               {"chip_id": "0xC0", "faults": [{"corrupt_block": 2}]},
                               {"chip_id": "0xC0", "flash": {"part": "0x79"}}])"));
    XuClient xu(rig.platform(), 0);
    // Data left from an earlier firmware: the stream must erase before it programs.
    xu.set(XU_DFU_ENABLE_CONTROL, {1});
    stream(xu, Bytes(4 * 4096, 0x00));
    xu.set(XU_DFU_ENABLE_CONTROL, {0});
    EXPECT_EQ(flashOf(rig)[5], 0x00);

    const Bytes data = image(10000); // two full blocks and a padded one
    Bytes padded = data;
    padded.resize(3 * 4096, 0xFF);
    xu.loadTable(flash::opcodeTable(0));
    const auto sleptBefore = rig.clock.slept();
    ASSERT_EQ(xu.set(XU_DFU_ENABLE_CONTROL, {3}), status::kOk) << "any odd value enters";
    stream(xu, data);
    // Three sector erases and 48 page programs, each waited for.
    EXPECT_GE(rig.clock.slept() - sleptBefore, 3 * 40ms + 48 * 700us);
    const auto flash = flashOf(rig);
    EXPECT_EQ(flash[0], 0xFF) << "the header byte is held back";
    EXPECT_TRUE(std::equal(padded.begin() + 1, padded.end(), flash.begin() + 1));
    EXPECT_EQ(flash[3 * 4096], 0x00) << "the next sector was never entered";
    EXPECT_EQ(xu.read(XU_DFU_CHECKSUM, 1)[0], xorOfBytes(padded))
        << "the held-back byte counts in place of address 0";
    // The backing file holds the flash as it stands.
    const std::string file = rig.dir.read("cam0.flash");
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), file.begin(), [](std::uint8_t a, char b) {
        return a == static_cast<std::uint8_t>(b);
    }));
    // Leaving download mode ends the stream.
    xu.set(XU_DFU_ENABLE_CONTROL, {0});
    EXPECT_EQ(xu.read(XU_DFU_CHECKSUM, 1)[0], 0);

    // A block received with its first byte inverted shows in the checksum.
    XuClient corrupt(rig.platform(), 1);
    corrupt.set(XU_DFU_ENABLE_CONTROL, {1});
    stream(corrupt, padded);
    EXPECT_EQ(corrupt.read(XU_DFU_CHECKSUM, 1)[0], xorOfBytes(padded) ^ 0xFF);
    EXPECT_EQ(flashOf(rig, 1)[4096], static_cast<std::uint8_t>(~padded[4096]));

    // A wrong opcode table (sector erase 0xD7 on a part without it) leaves
    // the old data under the new: the checksum tells.
    XuClient wrong(rig.platform(), 2);
    wrong.set(XU_DFU_ENABLE_CONTROL, {1});
    stream(wrong, Bytes(4096, 0x0F));
    wrong.set(XU_DFU_ENABLE_CONTROL, {0});
    wrong.loadTable(flash::opcodeTable(2));
    wrong.set(XU_DFU_ENABLE_CONTROL, {1});
    stream(wrong, Bytes(4096, 0xF0));
    EXPECT_EQ(flashOf(rig, 2)[1], 0x00);
    EXPECT_NE(wrong.read(XU_DFU_CHECKSUM, 1)[0], xorOfBytes(Bytes(4096, 0xF0)));
}

TEST(SimStream, UnprotectingAndFinishingByFamily) {
    SimRig rig(json::parse(R"([{"chip_id": "0xB0"}, {"chip_id": "0xD0"}, {"chip_id": "0xC0"},
                               {"chip_id": "0xA0"}])"));
    const Bytes data = image(8192, 11);
    auto run = [&](std::size_t camera) {
        XuClient xu(rig.platform(), camera);
        xu.loadTable(flash::opcodeTable(0));
        EXPECT_EQ(xu.set(XU_DFU_ENABLE_CONTROL, {1}), status::kOk);
        stream(xu, data);
        const std::uint8_t checksum = xu.read(XU_DFU_CHECKSUM, 1)[0];
        EXPECT_EQ(xu.set(XU_ISP_FW_DOWNLOAD_OK, {1}), status::kOk);
        EXPECT_EQ(xu.set(XU_DFU_ENABLE_CONTROL, {0}), status::kOk);
        return checksum;
    };
    // 'j' programs the held-back byte when told the download is finished.
    EXPECT_EQ(run(0), xorOfBytes(data));
    EXPECT_EQ(flashOf(rig, 0)[0], data[0]);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flashOf(rig, 0).begin()));
    // 'm' streaming into flash writes its own header 0x89 0x26.
    EXPECT_EQ(run(1), xorOfBytes(data));
    EXPECT_EQ(flashOf(rig, 1)[0], 0x89);
    EXPECT_EQ(flashOf(rig, 1)[1], 0x26 & data[1]);
    // 'k' leaves address 0 to the tool.
    EXPECT_EQ(run(2), xorOfBytes(data));
    EXPECT_EQ(flashOf(rig, 2)[0], 0xFF);
    // 'i' does not unprotect by itself: nothing is written, the checksum fails.
    EXPECT_NE(run(3), xorOfBytes(data));
    EXPECT_EQ(flashOf(rig, 3), Bytes(65536, 0xFF));
}

TEST(SimStream, ModuleMemoryTakesEveryByte) {
    SimRig rig(json::parse(R"([{"chip_id": "0xD2", "module": {"size": 65536, "file": "mod0.bin"}},
                               {"chip_id": "0xD2"}])"));
    XuClient xu(rig.platform(), 0);
    const Bytes erase254 = {0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0x80,
                            0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0x10,
                            0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0xA0};
    // Old content in the module: the stream alone only clears bits.
    xu.set(XU_ISP_SERIAL_FLASH, {0});
    xu.set(XU_DFU_ENABLE_CONTROL, {1});
    stream(xu, Bytes(4096, 0x0F));
    xu.set(XU_DFU_ENABLE_CONTROL, {0});
    Bytes other = erase254;
    other[8] = 0x90;
    EXPECT_EQ(xu.set(XU_SF_PARAM_BLOCK, other), status::kOk);
    EXPECT_EQ(rig.platform().camera(0).moduleContents()[0], 0x0F) << "not an erase sequence";

    EXPECT_EQ(xu.set(XU_SF_PARAM_BLOCK, erase254), status::kOk);
    EXPECT_EQ(rig.platform().camera(0).moduleContents(), Bytes(65536, 0xFF));
    const Bytes data = image(6000, 3);
    Bytes padded = data;
    padded.resize(8192, 0xFF);
    xu.set(XU_DFU_ENABLE_CONTROL, {1});
    stream(xu, data);
    EXPECT_EQ(xu.read(XU_DFU_CHECKSUM, 1)[0], xorOfBytes(padded));
    const auto module = rig.platform().camera(0).moduleContents();
    EXPECT_TRUE(std::equal(padded.begin(), padded.end(), module.begin())) << "address 0 too";
    EXPECT_EQ(flashOf(rig), Bytes(65536, 0xFF)) << "the serial flash is untouched";
    EXPECT_EQ(rig.dir.read("mod0.bin").substr(0, 4),
              std::string(reinterpret_cast<const char*>(padded.data()), 4));

    // A camera without a module refuses a module download.
    XuClient none(rig.platform(), 1);
    none.set(XU_ISP_SERIAL_FLASH, {0});
    EXPECT_TRUE(status::failed(none.set(XU_DFU_ENABLE_CONTROL, {1})));
}

// A camera driven without the platform, by unit: what a USB host reaches.
TEST(SimCamera, UnitRequestsFollowTheFirmwareTableWithoutAPropertySet) {
    TempDir dir;
    ManualClock clock;
    ClockOverride override(clock);
    auto cameraFor = [&](const json& device) {
        std::string error;
        const auto station =
            sim::parseStation(json{{"devices", {device}}}.dump(), dir.path(), error);
        EXPECT_TRUE(station) << error;
        auto camera = sim::SimCamera::create(0, station->devices[0],
                                             std::make_shared<sim::EventQueue>(), error);
        EXPECT_TRUE(camera) << error;
        return camera;
    };

    auto fallback = cameraFor(json{{"xu", "fallback"}, {"block_size", 1024}});
    const std::uint64_t generation = fallback->view().generation;
    std::uint32_t returned = 0;
    // Every control answers its length; reads and writes go as the table says.
    const auto controls = fallback->extensionControls();
    ASSERT_EQ(controls.size(), 17u);
    for (const auto& control : controls) {
        SCOPED_TRACE(control.selector);
        EXPECT_EQ(fallback->unitRequest(generation, control.selector, platform::PropertyOp::Size,
                                        {}, returned),
                  status::kMoreData);
        EXPECT_EQ(returned, control.length);
        if (!control.get) {
            Bytes data(control.length, 0);
            EXPECT_EQ(fallback->unitRequest(generation, control.selector, platform::PropertyOp::Get,
                                            data, returned),
                      status::kFail);
        }
    }
    EXPECT_EQ(controls[5].selector, XU_DFU_ACCESS_CONTROL);
    EXPECT_EQ(controls[5].length, 1024u);
    Bytes address = {0xFF, 0x20};
    EXPECT_EQ(fallback->unitRequest(generation, XU_REG_ADDRESS, platform::PropertyOp::Set, address,
                                    returned),
              status::kOk);
    Bytes chip(1, 0);
    EXPECT_EQ(
        fallback->unitRequest(generation, XU_REG_DATA, platform::PropertyOp::Get, chip, returned),
        status::kOk);
    EXPECT_EQ(chip[0], 0xC0);
    EXPECT_EQ(fallback->unitRequest(generation + 1, XU_REG_DATA, platform::PropertyOp::Get, chip,
                                    returned),
              status::kDeviceGone)
        << "a binding of another arrival";

    // The probe of a firmware without a checksum control; no unit; another make.
    Bytes probe(1, 0);
    auto notFound = cameraFor(json{{"xu", "not_found"}});
    EXPECT_EQ(notFound->unitRequest(notFound->view().generation, XU_DFU_CHECKSUM,
                                    platform::PropertyOp::Get, probe, returned),
              status::kNotFound);
    auto none = cameraFor(json{{"xu", "none"}});
    EXPECT_TRUE(none->extensionControls().empty());
    EXPECT_EQ(none->unitRequest(none->view().generation, XU_DFU_CHECKSUM, platform::PropertyOp::Get,
                                probe, returned),
              status::kNotFound);
    auto other = cameraFor(json{{"chip_id", nullptr}});
    EXPECT_TRUE(other->extensionControls().empty());
    EXPECT_EQ(other->unitRequest(other->view().generation, XU_DFU_CHECKSUM,
                                 platform::PropertyOp::Get, probe, returned),
              status::kFail);
}

} // namespace
} // namespace tessell::testing
