#include "device/xu_protocol.h"
#include "download/flash_access.h"
#include "support/fake_link.h"
#include "support/sim_link.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace tessell::testing {
namespace {

using platform::PropertyOp;

// The opcode table a fake camera was given: slot/value pairs and the mode.
flash::OpcodeTable loadedTable(const FakeCamera& camera) {
    flash::OpcodeTable table{};
    int slot = 0;
    for (const auto& request : camera.requests) {
        if (request.op != PropertyOp::Set || request.data.empty())
            continue;
        if (request.selector == XU_SF_CMD_INDEX)
            slot = request.data[0];
        else if (request.selector == XU_SF_CMD_VALUE && slot >= 1 && slot <= 12)
            table.slots[static_cast<std::size_t>(slot - 1)] = request.data[0];
        else if (request.selector == XU_SF_CMD_FLAGS)
            table.programMode = request.data[0];
    }
    return table;
}

TEST(SelectFlash, LoadsTheTableOfACodeOrFamilyAndReportsTheBlockSize) {
    const std::pair<std::uint8_t, int> rows[] = {
        {0x7C, 2}, {3, 3},    {0x8C, 0}, {0x7A, 1}, {0x81, 6}, {0x82, 6}, {0x7E, 5},
        {0x80, 4}, {0x89, 3}, {6, 6},    {7, 0},    {0x78, 0}, {0xFE, 0}, {1, 1},
    };
    for (const auto& [code, tableNumber] : rows) {
        FakeLink fake;
        std::uint32_t size = 0;
        EXPECT_EQ(select_flash(fake.link, code, size), status::kOk);
        EXPECT_EQ(size, 4096u);
        const auto expected = flash::opcodeTable(tableNumber);
        const auto loaded = loadedTable(*fake.camera);
        EXPECT_EQ(loaded.slots, expected.slots) << "code 0x" << std::hex << int{code};
        EXPECT_EQ(loaded.programMode, expected.programMode) << "code 0x" << std::hex << int{code};
        EXPECT_EQ(fake.camera->countRequests(XU_SF_CMD_INDEX, PropertyOp::Set), 12u);
    }

    // A size the block buffer cannot take, or none, is a failed query and
    // leaves the caller's value alone.
    for (const std::uint32_t reported : {0u, 4097u, 65536u}) {
        FakeLink fake;
        fake.camera->sizes[15] = reported;
        std::uint32_t size = 77;
        EXPECT_TRUE(status::failed(select_flash(fake.link, 0, size))) << reported;
        EXPECT_EQ(size, 77u);
    }
    FakeCaptureDevices none;
    CameraLink closed(none);
    std::uint32_t size = 0;
    EXPECT_EQ(select_flash(closed, 0, size), status::kPointer);
}

TEST(ImageFlashType, ByteAndValueFollowTheCameraFamilyAndTable) {
    struct Row {
        IcType camera;
        std::uint8_t code;
        std::size_t offset;
        std::uint8_t value;
    };
    const Row rows[] = {
        {IcType::i, 0x7E, 0x6010, 4}, {IcType::k, 0x8C, 2, 4},      {IcType::h, 0x7A, 0x501F, 1},
        {IcType::f, 6, 0xC006, 7},    {IcType::g, 0x7F, 0xC006, 5}, {IcType::m, 0x81, 2, 5},
        {IcType::j, 4, 2, 10},        {IcType::i, 9, 0x6010, 1},
    };
    for (const auto& row : rows) {
        Bytes image(0x20000, 0xEE);
        set_image_flash_type(image, row.camera, row.code);
        EXPECT_EQ(image[row.offset], row.value) << row.camera << " 0x" << std::hex << int{row.code};
        EXPECT_EQ(std::count(image.begin(), image.end(), 0xEE), 0x20000 - 1) << "one byte only";
    }
    for (const IcType other : {IcType::d, IcType::e, IcType::l}) {
        Bytes image(0x20000, 0xEE);
        set_image_flash_type(image, other, 0);
        EXPECT_EQ(image, Bytes(0x20000, 0xEE)) << other;
    }
    Bytes shortImage(0x501F, 0xEE);
    set_image_flash_type(shortImage, IcType::h, 0);
    EXPECT_EQ(shortImage, Bytes(0x501F, 0xEE)) << "a byte beyond the buffer is not written";
}

TEST(ReadRange, CopiesExactlyTheRangeByEachKindOfBlock) {
    TempDir files;
    const Bytes content = pattern(0x10000, 5);
    const std::string start = flashFile(files, content);
    struct Row {
        const char* what;
        int blockSize;
    };
    // 4096: the camera advances its own address; 1000: an address per block;
    // 8192 cannot be trusted and the reads go 64 bytes at a time.
    for (const Row row : {Row{"4096", 4096}, Row{"1000", 1000}, Row{"8192", 8192}}) {
        SimLink sim(json::array({{{"chip_id", "0x80"},
                                  {"sf_block_size", row.blockSize},
                                  {"flash", {{"file", start}}}}}));
        // Whole window, then an unaligned piece into a buffer with guards.
        Bytes whole(0x10000, 0);
        EXPECT_TRUE(read_range(sim.link, whole, 0x79, 0, 0x10000).ok()) << row.what;
        EXPECT_EQ(whole, content) << row.what;

        Bytes part(0x3000, 0xA5);
        EXPECT_TRUE(read_range(sim.link, part, 0x79, 0x1010, 0x2F33).ok()) << row.what;
        EXPECT_TRUE(
            std::equal(content.begin() + 0x1010, content.begin() + 0x2F33, part.begin() + 0x1010))
            << row.what;
        EXPECT_TRUE(
            std::all_of(part.begin(), part.begin() + 0x1010, [](auto b) { return b == 0xA5; }));
        EXPECT_TRUE(
            std::all_of(part.begin() + 0x2F33, part.end(), [](auto b) { return b == 0xA5; }))
            << row.what << ": nothing is written past the end";
    }

    // One address for a whole 64 KiB read of a 4096-byte camera.
    FakeLink fake;
    Bytes whole(0x10000);
    EXPECT_TRUE(read_range(fake.link, whole, 0x79, 0, 0x10000).ok());
    EXPECT_EQ(fake.camera->countRequests(XU_SF_ADDRESS, PropertyOp::Set), 1u);
    EXPECT_EQ(fake.camera->countRequests(XU_SF_DATA_4K, PropertyOp::Get), 16u);
}

TEST(ReadRange, RefusesWhatDoesNotFitAndFailsOnAFailedRead) {
    FakeLink fake;
    Bytes buffer(0x1000);
    EXPECT_FALSE(read_range(fake.link, buffer, 0, 0, 0x1001).ok()) << "beyond the buffer";
    EXPECT_FALSE(read_range(fake.link, buffer, 0, 0x800, 0x400).ok()) << "start after end";
    Bytes large(0x20000);
    EXPECT_FALSE(read_range(fake.link, large, 0, 0, 0x10001).ok()) << "beyond the 16-bit addresses";
    EXPECT_FALSE(read_range(fake.link, {}, 0, 0, 0).ok());
    EXPECT_TRUE(fake.camera->requests.empty()) << "a refusal sends nothing";

    // A block read that fails part-way is a failure, whichever path reads.
    SimLink sim(json::parse(R"([{"chip_id": "0x80",
        "faults": [{"op": "get", "selector": 15, "nth": 3, "status": "0x8007001F"}]},
        {"chip_id": "0x80", "sf_block_size": 8192,
         "faults": [{"op": "get", "selector": 22, "nth": 10, "status": "0x80004005"}]}])"));
    Bytes whole(0x10000);
    EXPECT_FALSE(read_range(sim.link, whole, 0, 0, 0x10000).ok());
    CameraLink second(sim.rig.platform());
    ASSERT_EQ(second.OpenCamera(IcType::e, 1, 0).status(), 0);
    EXPECT_FALSE(read_range(second, whole, 0, 0, 0x10000).ok());
    EXPECT_TRUE(read_range(second, whole, 0, 0, 64 * 5).ok()) << "before the failing read";
}

TEST(EraseAll, ErasesTheWindowAndStopsAtARefusedSector) {
    TempDir files;
    const std::string start = flashFile(files, Bytes(0x10000, 0x00));
    SimLink sim(json::array(
        {{{"chip_id", "0xC0"}, {"flash", {{"file", start}, {"protected", false}}}},
         {{"chip_id", "0xC0"},
          {"flash",
           {{"file", flashFile(files, Bytes(0x10000, 0x00), "second.flash")},
            {"protected", false}}},
          {"faults",
           json::array(
               {{{"op", "set"}, {"selector", 13}, {"nth", 5}, {"status", "0x8007001F"}}})}}}));
    EXPECT_TRUE(erase_all(sim.link, 0).ok());
    EXPECT_EQ(sim.flash(), Bytes(0x10000, 0xFF));

    CameraLink second(sim.rig.platform());
    ASSERT_EQ(second.OpenCamera(IcType::e, 1, 0).status(), 0);
    const Result refused = erase_all(second, 0);
    EXPECT_EQ(refused.status(), status::kDeviceGone) << "the camera's own status";
    EXPECT_NE(refused.reason().find("0x4000"), std::string::npos) << refused.reason();
    const Bytes flash = sim.rig.platform().camera(1).flashContents();
    EXPECT_TRUE(
        std::all_of(flash.begin(), flash.begin() + 0x4000, [](auto b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(flash.begin() + 0x4000, flash.end(), [](auto b) { return b == 0x00; }))
        << "sectors after the refused one are untouched";

    CameraLink closed(sim.rig.platform());
    EXPECT_FALSE(erase_all(closed, 0).ok());

    // A protected flash takes the commands and keeps its bytes: no success.
    SimLink guarded(json::array(
        {{{"chip_id", "0xC0"},
          {"flash", {{"file", flashFile(files, Bytes(0x10000, 0x00), "guarded.flash")}}}}}));
    EXPECT_FALSE(erase_all(guarded.link, 0).ok());
    EXPECT_EQ(guarded.flash(), Bytes(0x10000, 0x00));
}

TEST(WriteBytes, ProgramsThroughTheFamilysPathAndVerifySeesIt) {
    const Bytes data = pattern(64, 9);
    // 'h' and 'f' program through the serial port (chip select 0 and 2),
    // 'k' and 'j' through the firmware's 64-byte block.
    for (const char* chip : {"0x80", "0x60", "0xC0", "0xB0"}) {
        SimLink sim(json::array({{{"chip_id", chip}, {"flash", {{"protected", false}}}}}));
        // Crosses a 256-byte page and is longer than one page program takes.
        const std::uint16_t at = 0x10E0;
        const std::size_t count = std::string_view(chip) == "0xB0" ? 63 : 64;
        ASSERT_TRUE(write_bytes(sim.link, at, std::span(data).first(count)).ok()) << chip;
        const Bytes flash = sim.flash();
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(count),
                               flash.begin() + at))
            << chip;
        EXPECT_EQ(flash[at - 1], 0xFF) << chip;
        EXPECT_EQ(flash[at + count], 0xFF) << chip;

        Bytes expected(at + count, 0xFF);
        std::copy_n(data.begin(), count, expected.begin() + at);
        EXPECT_TRUE(verify(sim.link, 0, expected).ok()) << chip;
        expected[at + 3] ^= 0x01;
        const Result differs = verify(sim.link, 0, expected);
        EXPECT_NE(differs.reason().find("differs at 0x10E3"), std::string::npos)
            << chip << ": " << differs.reason();
        EXPECT_FALSE(write_bytes(sim.link, 0, Bytes(65, 0)).ok()) << chip << ": more than 64 bytes";
    }

    // A camera that stops answering half-way reports the failure.
    SimLink gone(json::parse(R"([{"chip_id": "0x80", "flash": {"protected": false},
                                  "faults": [{"unplug_after": 40}]}])"));
    EXPECT_FALSE(write_bytes(gone.link, 0x100, data).ok());

    SimLink sim(json::parse(R"([{"chip_id": "0x80"}])"));
    EXPECT_FALSE(verify(sim.link, 0, Bytes{}).ok()) << "nothing compared is no match";
    EXPECT_FALSE(verify(sim.link, 0, Bytes(0x10001, 0xFF)).ok()) << "beyond the reachable window";
}

TEST(ShowFlashName, KnownCodesFillTheChoiceOthersLeaveIt) {
    FlashChoice choice{"before", 9, 9};
    show_flash_name(0x7D, choice);
    EXPECT_EQ(choice.name, "PM25LV512D");
    EXPECT_EQ(choice.familyIndex, 2);
    EXPECT_EQ(choice.listIndex, 2);
    show_flash_name(0x86, choice);
    EXPECT_EQ(choice.name, "MD25D10");
    EXPECT_EQ(choice.familyIndex, 0);
    EXPECT_EQ(choice.listIndex, 8);
    for (const std::uint8_t unnamed : {0x7C, 0x78, 0x89, 0x8A, 0x00}) {
        show_flash_name(unnamed, choice);
        EXPECT_EQ(choice.name, "MD25D10");
        EXPECT_EQ(choice.listIndex, 8);
    }
}

} // namespace
} // namespace tessell::testing
