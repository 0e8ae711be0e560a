#include "platform/sim/flash_part.h"
#include "support/test_env.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <initializer_list>
#include <vector>

using namespace std::chrono_literals;

namespace tessell::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

FlashPartConfig config(FlashCode code, std::size_t size = 0, std::filesystem::path file = {}) {
    FlashPartConfig result;
    result.code = code;
    result.size = size;
    result.file = std::move(file);
    return result;
}

std::unique_ptr<FlashPart> openPart(FlashCode code, bool protect = false, FlashTiming timing = {},
                                    std::filesystem::path file = {}, std::size_t size = 0) {
    std::string error;
    auto settings = config(code, size, std::move(file));
    settings.protectedAtStart = protect;
    settings.timing = timing;
    auto part = FlashPart::open(settings, error);
    EXPECT_TRUE(part) << error;
    return part;
}

Bytes sendToPart(FlashPart& part, std::initializer_list<std::uint8_t> out,
                 std::size_t readCount = 0) {
    const Bytes bytes(out);
    return part.command(bytes, readCount);
}

void writeEnable(FlashPart& part) {
    sendToPart(part, {0x06});
}

Bytes readPart(FlashPart& part, std::size_t address, std::size_t count) {
    return sendToPart(part,
                      {0x03, static_cast<std::uint8_t>(address >> 16),
                       static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)},
                      count);
}

void program(FlashPart& part, std::size_t address, const Bytes& data) {
    Bytes out = {0x02, static_cast<std::uint8_t>(address >> 16),
                 static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    out.insert(out.end(), data.begin(), data.end());
    part.command(out, 0);
}

std::uint8_t status(FlashPart& part) {
    return sendToPart(part, {0x05}, 1)[0];
}

// What the tool's identification does with the answers of a part.
std::optional<FlashCode> identify(FlashPart& part) {
    auto answer = [&](std::uint8_t command) {
        const auto bytes = command == 0x9F ? sendToPart(part, {command}, 3)
                                           : sendToPart(part, {command, 0, 0, 0}, 3);
        return flash::IdBytes{bytes[0], bytes[1], bytes[2]};
    };
    if (const auto first = flash::codeFromManufacturerId(answer(0x90)))
        return first;
    if (const auto code = flash::codeFromSecondRead(0xAB, answer(0xAB)))
        return code;
    return flash::codeFromSecondRead(0x9F, answer(0x9F));
}

TEST(SimFlashPart, EveryCodeIsNamedByItsIdentificationAnswers) {
    int parts = 0;
    for (int code = 0x78; code <= 0x8D; ++code) {
        std::string error;
        auto part = FlashPart::open(config(static_cast<FlashCode>(code)), error);
        const bool named =
            flash::findPartName(static_cast<FlashCode>(code)) || code == 0x7C || code == 0x89;
        if (!named) {
            EXPECT_FALSE(part) << "code " << code << " has no identification answer";
            EXPECT_NE(error.find("identification table"), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(part) << error;
        ++parts;
        EXPECT_EQ(identify(*part), code) << std::hex << code;
        EXPECT_EQ(part->size(), flash::defaultPartSize(static_cast<FlashCode>(code)));
        const bool secondRead = code == 0x7D || code == 0x7E || code == 0x81 || code == 0x82;
        if (secondRead) {
            EXPECT_EQ(sendToPart(*part, {0x90, 0, 0, 0}, 3), (Bytes{0xFF, 0xFF, 0xFF})) << code;
        }
    }
    EXPECT_EQ(parts, 19);

    // The register path clocks the answer out byte by byte after the address;
    // the answer repeats, and 0x9F needs no address.
    auto mx = openPart(0x79);
    EXPECT_EQ(sendToPart(*mx, {0x90, 0, 0, 0}, 6), (Bytes{0xC2, 0x05, 0xC2, 0xC2, 0x05, 0xC2}));
    EXPECT_EQ(sendToPart(*mx, {0x90}, 3), (Bytes{0xFF, 0xFF, 0xFF})) << "address bytes come first";
}

TEST(SimFlashPart, ProgramsOnlyClearBitsAndWrapInsideThePage) {
    auto part = openPart(0x79);
    writeEnable(*part);
    program(*part, 0x10, {0xF0, 0x0F});
    writeEnable(*part);
    program(*part, 0x10, {0x3C, 0xFF});
    EXPECT_EQ(readPart(*part, 0x10, 2), (Bytes{0x30, 0x0F}));

    // 32 bytes from 0x1F0: the upper 16 wrap to the start of the same page.
    Bytes data(32);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    writeEnable(*part);
    program(*part, 0x1F0, data);
    const auto page = readPart(*part, 0x100, 0x101);
    EXPECT_EQ(page[0xF0], 0);
    EXPECT_EQ(page[0xFF], 15);
    EXPECT_EQ(page[0x00], 16);
    EXPECT_EQ(page[0x0F], 31);
    EXPECT_EQ(page[0x10], 0xFF);
    EXPECT_EQ(page[0x100], 0xFF) << "the next page is untouched";

    // More than a page: the last 256 bytes sent are the ones kept.
    Bytes long_(300, 0xFF);
    long_[0] = 0x00;   // overwritten by byte 256 in the latch
    long_[299] = 0x11; // lands at offset 43
    writeEnable(*part);
    program(*part, 0x300, long_);
    const auto third = readPart(*part, 0x300, 256);
    EXPECT_EQ(third[0], 0xFF);
    EXPECT_EQ(third[43], 0x11);

    // Reads wrap at the end of the array; fast read skips one dummy byte.
    writeEnable(*part);
    program(*part, 0, {0xA5});
    EXPECT_EQ(readPart(*part, part->size() - 1, 2), (Bytes{0xFF, 0xA5}));
    EXPECT_EQ(sendToPart(*part, {0x0B, 0x00, 0x00, 0x00}, 2), (Bytes{0xFF, 0xA5}));
    EXPECT_EQ(part->contents()[0], 0xA5);
}

TEST(SimFlashPart, EraseGranularity) {
    auto part = openPart(0x82); // 128 KiB, table 6
    const auto fill = [&](std::size_t address) {
        writeEnable(*part);
        program(*part, address, {0x00});
    };
    for (std::size_t address : {0x0FFFu, 0x1000u, 0x1FFFu, 0x2000u, 0xFFFFu, 0x10000u, 0x1FFFFu})
        fill(address);
    writeEnable(*part);
    sendToPart(*part, {0x20, 0x00, 0x12, 0x34}); // sector 0x1000..0x1FFF
    const auto bytes = part->contents();
    EXPECT_EQ(bytes[0x0FFF], 0x00);
    EXPECT_EQ(bytes[0x1000], 0xFF);
    EXPECT_EQ(bytes[0x1FFF], 0xFF);
    EXPECT_EQ(bytes[0x2000], 0x00);

    writeEnable(*part);
    sendToPart(*part, {0xD8, 0x01, 0x00, 0x05}); // block 0x10000..0x1FFFF
    EXPECT_EQ(bytes[0xFFFF], 0x00);
    EXPECT_EQ(bytes[0x10000], 0xFF);
    EXPECT_EQ(bytes[0x1FFFF], 0xFF);

    writeEnable(*part);
    sendToPart(*part, {0xC7});
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0xFF), static_cast<long>(bytes.size()));
}

TEST(SimFlashPart, LatchAndProtectionRules) {
    auto part = openPart(0x79, /*protect=*/true);
    EXPECT_EQ(status(*part), 0x0C);

    // Protected: program and erase do nothing, even with the latch.
    writeEnable(*part);
    EXPECT_EQ(status(*part), 0x0E);
    program(*part, 0, {0x00});
    sendToPart(*part, {0x20, 0, 0, 0});
    sendToPart(*part, {0xC7});
    EXPECT_EQ(part->contents()[0], 0xFF);

    // The status write needs the latch and clears it.
    writeEnable(*part);
    sendToPart(*part, {0x04});
    EXPECT_EQ(status(*part), 0x0C) << "0x04 clears the latch";
    sendToPart(*part, {0x01, 0x00});
    EXPECT_EQ(status(*part), 0x0C) << "no latch: status unchanged";
    sendToPart(*part, {0x50});
    sendToPart(*part, {0x01, 0x00});
    EXPECT_EQ(status(*part), 0x0C) << "0x50 is no opcode of a table-0 part";
    writeEnable(*part);
    sendToPart(*part, {0x01, 0xF3});
    EXPECT_EQ(status(*part), 0x00) << "only the protect bits are written; latch cleared";

    // Program and erase need the latch, and clear it.
    program(*part, 0, {0x00});
    EXPECT_EQ(part->contents()[0], 0xFF);
    writeEnable(*part);
    program(*part, 0, {0x00});
    EXPECT_EQ(part->contents()[0], 0x00);
    EXPECT_EQ(status(*part), 0x00);
    sendToPart(*part, {0x20, 0, 0, 0});
    EXPECT_EQ(part->contents()[0], 0x00) << "the program used the latch up";
    writeEnable(*part);
    sendToPart(*part, {0x20, 0, 0, 0});
    EXPECT_EQ(part->contents()[0], 0xFF);
    EXPECT_EQ(status(*part), 0x00);

    // A program-mode-1 part also takes the status write after 0x50, which
    // does not allow programming.
    auto sst = openPart(0x7A, /*protect=*/true);
    sendToPart(*sst, {0x50});
    EXPECT_EQ(status(*sst), 0x0C) << "0x50 sets no visible latch";
    sendToPart(*sst, {0xAF, 0, 0, 0, 0x00});
    program(*sst, 0, {0x00});
    sendToPart(*sst, {0x01, 0x00});
    EXPECT_EQ(status(*sst), 0x00);
    EXPECT_EQ(sst->contents()[0], 0xFF);
    sendToPart(*sst, {0x01, 0x0C});
    EXPECT_EQ(status(*sst), 0x00) << "the 0x50 enable was used up";
}

TEST(SimFlashPart, AcceptsExactlyTheOpcodesOfItsTable) {
    auto generic = openPart(0x79);
    auto pmc = openPart(0x7B);
    for (auto* part : {generic.get(), pmc.get()}) {
        writeEnable(*part);
        program(*part, 0x1000, {0x00});
        writeEnable(*part);
        sendToPart(*part, {0xD7, 0, 0x10, 0});
        writeEnable(*part);
        sendToPart(*part, {0x20, 0, 0x10, 0});
    }
    // 0xD7 is the PMC part's sector erase; the generic part only knows 0x20.
    EXPECT_EQ(generic->contents()[0x1000], 0xFF);
    EXPECT_EQ(pmc->contents()[0x1000], 0xFF);
    writeEnable(*generic);
    program(*generic, 0x1000, {0x00});
    writeEnable(*generic);
    sendToPart(*generic, {0xD7, 0, 0x10, 0});
    EXPECT_EQ(generic->contents()[0x1000], 0x00) << "0xD7 on a table-0 part does nothing";
    EXPECT_EQ(status(*generic), 0x02) << "and leaves the latch alone";
    writeEnable(*pmc);
    program(*pmc, 0x1000, {0x00});
    writeEnable(*pmc);
    sendToPart(*pmc, {0x20, 0, 0x10, 0});
    EXPECT_EQ(pmc->contents()[0x1000], 0x00) << "0x20 is no opcode of the PMC part";

    // The SST part: no fast read, 0x52 block erase and 0x60 chip erase,
    // auto-increment programming until write disable.
    auto sst = openPart(0x7A);
    writeEnable(*sst);
    sendToPart(*sst, {0xAF, 0x00, 0x00, 0x10, 0x12});
    EXPECT_EQ(status(*sst), 0x02) << "the latch holds through the sequence";
    EXPECT_EQ(readPart(*sst, 0x10, 1), (Bytes{0xFF})) << "reads wait for the end of the sequence";
    sendToPart(*sst, {0xAF, 0x34});
    sendToPart(*sst, {0xAF, 0x56});
    sendToPart(*sst, {0x04});
    EXPECT_EQ(status(*sst), 0x00);
    EXPECT_EQ(readPart(*sst, 0x10, 4), (Bytes{0x12, 0x34, 0x56, 0xFF}));
    EXPECT_EQ(sendToPart(*sst, {0x0B, 0, 0, 0x10}, 2), (Bytes{0xFF, 0xFF}));
    writeEnable(*sst);
    sendToPart(*sst, {0xC7});
    EXPECT_EQ(sst->contents()[0x10], 0x12) << "0xC7 is no SST opcode";
    writeEnable(*sst);
    sendToPart(*sst, {0x52, 0, 0, 0});
    EXPECT_EQ(sst->contents()[0x10], 0xFF);
    writeEnable(*sst);
    program(*sst, 0x20, {0x00});
    writeEnable(*sst);
    sendToPart(*sst, {0x60});
    EXPECT_EQ(sst->contents()[0x20], 0xFF);

    EXPECT_EQ(sendToPart(*generic, {0xAF, 0, 0, 0}, 2), (Bytes{0xFF, 0xFF}))
        << "unknown opcode: nothing";
}

TEST(SimFlashPart, CommandsExecuteWhenChipSelectIsReleased) {
    auto part = openPart(0x79);
    part->exchange(0x06);
    EXPECT_EQ(part->statusRegister(), 0x00) << "a byte without chip select is ignored";

    part->select();
    part->exchange(0x06);
    EXPECT_EQ(part->statusRegister(), 0x00);
    part->deselect();
    EXPECT_EQ(part->statusRegister(), 0x02);

    part->select();
    for (const std::uint8_t byte : {0x02, 0x00, 0x00, 0x00, 0x00})
        part->exchange(byte);
    EXPECT_EQ(part->contents()[0], 0xFF) << "the program waits for chip select";
    part->select(); // already selected: the same command goes on
    part->exchange(0x00);
    part->deselect();
    EXPECT_EQ(part->contents()[0], 0x00);
    EXPECT_EQ(part->contents()[1], 0x00);

    part->select();
    part->exchange(0x05);
    EXPECT_EQ(part->exchange(0xFF), 0x00) << "status answers while selected";
    part->deselect();
}

TEST(SimFlashPart, WriteInProgressLastsTheFlashTime) {
    ManualClock manual;
    ClockOverride installed(manual);
    auto part = openPart(0x79, false, {700us, 40ms});

    writeEnable(*part);
    program(*part, 0, {0x00});
    EXPECT_TRUE(part->writeInProgress());
    EXPECT_EQ(status(*part), 0x01);
    writeEnable(*part);
    EXPECT_EQ(status(*part), 0x01) << "write enable is ignored while busy";
    EXPECT_EQ(readPart(*part, 0, 1), (Bytes{0xFF})) << "so is a read";
    manual.advance(699us);
    EXPECT_TRUE(part->writeInProgress());
    manual.advance(1us);
    EXPECT_FALSE(part->writeInProgress());
    EXPECT_EQ(readPart(*part, 0, 1), (Bytes{0x00}));

    writeEnable(*part);
    sendToPart(*part, {0x20, 0, 0, 0});
    manual.advance(39ms);
    EXPECT_EQ(status(*part) & 0x01, 0x01);
    manual.advance(1ms);
    EXPECT_EQ(status(*part), 0x00);

    writeEnable(*part);
    sendToPart(*part, {0xC7}); // 16 sectors of 64 KiB
    manual.advance(639ms);
    EXPECT_TRUE(part->writeInProgress());
    manual.advance(1ms);
    EXPECT_FALSE(part->writeInProgress());

    auto untimed = openPart(0x79);
    writeEnable(*untimed);
    program(*untimed, 0, {0x00});
    EXPECT_FALSE(untimed->writeInProgress()) << "no timing: no busy time";
}

TEST(SimFlashPart, BackingFileFollowsEveryChange) {
    testing::TempDir dir;
    const auto file = dir / "cam0.flash";
    auto part = openPart(0x79, false, {}, file);
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(testing::TempDir::readFile(file), std::string(65536, '\xFF')) << "created erased";

    writeEnable(*part);
    program(*part, 0x1234, {0x12, 0x34});
    // Seen in the file while the part is still open, as after a kill.
    auto onDisk = testing::TempDir::readFile(file);
    EXPECT_EQ(onDisk.substr(0x1234, 3), std::string("\x12\x34\xFF"));
    {
        auto second = openPart(0x79, false, {}, file);
        EXPECT_EQ(second->contents()[0x1235], 0x34);
    }
    writeEnable(*part);
    sendToPart(*part, {0x20, 0, 0x10, 0});
    onDisk = testing::TempDir::readFile(file);
    EXPECT_EQ(onDisk[0x1234], '\xFF');
    EXPECT_TRUE(part->fileError().empty()) << part->fileError();

    // A file of another size is refused, not resized.
    std::string error;
    EXPECT_FALSE(FlashPart::open(config(0x82, 0, file), error));
    EXPECT_NE(error.find("65536"), std::string::npos) << error;
    EXPECT_NE(error.find("131072"), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::file_size(file), 65536u);

    error.clear();
    EXPECT_FALSE(FlashPart::open(config(0x79, 0, dir / "no-folder" / "x.flash"), error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(FlashPart::open(config(0x79, 1000), error)) << "not whole sectors";
    EXPECT_FALSE(error.empty());

    // An explicit size; and without a file the flash lives in memory.
    auto big = openPart(0x79, true, {}, dir / "big.flash", 0x40000);
    EXPECT_EQ(big->size(), 0x40000u);
    EXPECT_EQ(std::filesystem::file_size(dir / "big.flash"), 0x40000u);
    auto memory = openPart(0x8C);
    EXPECT_EQ(memory->size(), 524288u);
    EXPECT_EQ(memory->statusRegister(), 0x00);
}

} // namespace
} // namespace tessell::sim
