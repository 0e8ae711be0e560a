#include "device/flash_parts.h"
#include "platform/guid.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace tessell {
namespace {

// Every table below is written out literally, not read from the tables under
// test: a wrong entry there fails here.

TEST(FlashIdentificationTables, FirstAndSecondReadsNameEveryPart) {
    const std::vector<std::pair<flash::IdBytes, FlashCode>> firstReads = {
        {{0xC2, 0x05, 0xC2}, 0x79}, {{0xC2, 0x10, 0xC2}, 0x87}, {{0xC2, 0x12, 0xC2}, 0x8C},
        {{0xBF, 0x48, 0xBF}, 0x7A}, {{0x1C, 0x05, 0x1C}, 0x7F}, {{0x1C, 0x12, 0x1C}, 0x89},
        {{0x42, 0x05, 0xC2}, 0x80}, {{0x9D, 0x05, 0x7F}, 0x7B}, {{0x9D, 0x05, 0xC4}, 0x88},
        {{0x9D, 0x02, 0x7F}, 0x7C}, {{0xC8, 0x05, 0xC8}, 0x83}, {{0xA1, 0x05, 0xA1}, 0x84},
        {{0x51, 0x05, 0x51}, 0x85}, {{0x51, 0x10, 0x51}, 0x86}, {{0xEF, 0x05, 0xEF}, 0x8B},
    };
    for (const auto& [bytes, code] : firstReads)
        EXPECT_EQ(flash::codeFromManufacturerId(bytes), code) << int(code);
    EXPECT_EQ(flash::manufacturerIdTable().size(), firstReads.size());
    EXPECT_EQ(flash::codeFromManufacturerId({0x00, 0x00, 0x00}), std::nullopt);
    EXPECT_EQ(flash::codeFromManufacturerId({0xFF, 0xFF, 0xFF}), std::nullopt);
    EXPECT_EQ(flash::codeFromManufacturerId({0xC2, 0x05, 0xC3}), flash::kUnknown);
    EXPECT_EQ(flash::codeFromManufacturerId({0x00, 0x00, 0xFF}), flash::kUnknown);

    EXPECT_EQ(flash::codeFromSecondRead(0xAB, {0x9D, 0x7B, 0x7F}), 0x7D);
    EXPECT_EQ(flash::codeFromSecondRead(0x9F, {0x9D, 0x7B, 0x7F}), std::nullopt);
    EXPECT_EQ(flash::codeFromSecondRead(0x9F, {0x1F, 0x65, 0x00}), 0x7E);
    EXPECT_EQ(flash::codeFromSecondRead(0x9F, {0xC2, 0x22, 0x10}), 0x81);
    EXPECT_EQ(flash::codeFromSecondRead(0x9F, {0xC2, 0x22, 0x11}), 0x82);
    EXPECT_EQ(flash::codeFromSecondRead(0xAB, {0x1F, 0x65, 0x00}), std::nullopt);
    EXPECT_EQ(flash::secondReadTable().size(), 4u);
}

TEST(FlashPartNames, EveryKnownCodeWithItsNameAndIndexes) {
    struct Row {
        FlashCode code;
        const char* name;
        int family;
        int list;
    };
    const std::vector<Row> rows = {
        {0x79, "MX 25L512", 0, 0},
        {0x7A, "SST 25VF512", 1, 1},
        {0x7B, "PM25LD512/PM25LQ512", 2, 2},
        {0x7D, "PM25LV512D", 2, 2},
        {0x7E, "ATM AT25F512B", 5, 5},
        {0x7F, "EON EN25F05", 3, 3},
        {0x80, "AMIC A25LS512", 4, 4},
        {0x81, "MX(KH) 25L5121E", 6, 6},
        {0x82, "MX 25L1021E", 6, 6},
        {0x83, "GD25Q512/GD25D05B/GD25D10B", 0, 7},
        {0x84, "FM 25F005", 0, 8},
        {0x85, "MD25D512", 0, 8},
        {0x86, "MD25D10", 0, 8},
        {0x87, "MX25L1006E", 0, 8},
        {0x88, "GT25F512", 0, 8},
        {0x8B, "W25X05CL/W25E05MV", 0, 0},
        {0x8C, "MK25D40", 0, 8},
    };
    for (const Row& row : rows) {
        const auto* part = flash::findPartName(row.code);
        ASSERT_NE(part, nullptr) << int(row.code);
        EXPECT_EQ(part->name, row.name);
        EXPECT_EQ(part->familyIndex, row.family) << row.name;
        EXPECT_EQ(part->listIndex, row.list) << row.name;
    }
    EXPECT_EQ(flash::partNames().size(), rows.size());
    for (const FlashCode unnamed : {0x78, 0x7C, 0x89, 0x8A, 0x8D})
        EXPECT_EQ(flash::findPartName(unnamed), nullptr) << int(unnamed);

    EXPECT_FALSE(flash::isValidForProtection(0x78));
    EXPECT_TRUE(flash::isValidForProtection(6));
    EXPECT_FALSE(flash::isValidForProtection(7));
    EXPECT_TRUE(flash::isValidForProtection(0x8C));
    EXPECT_FALSE(flash::isValidForProtection(0x8D));

    // What a camera's flash of each part holds.
    for (const FlashCode code : {0x79, 0x7A, 0x7E, 0x81, 0x83, 0x85, 0x8B})
        EXPECT_EQ(flash::defaultPartSize(code), 65536u) << int(code);
    for (const FlashCode code : {0x82, 0x86, 0x87})
        EXPECT_EQ(flash::defaultPartSize(code), 131072u) << int(code);
    EXPECT_EQ(flash::defaultPartSize(0x8C), 524288u);
}

TEST(OpcodeTables, SelectionAndEveryTablesOpcodes) {
    const std::vector<std::pair<int, int>> selection = {
        {0x79, 0}, {0x7A, 1}, {0x7B, 2}, {0x7C, 2}, {0x7D, 2}, {0x7E, 5}, {0x7F, 3}, {0x80, 4},
        {0x81, 6}, {0x82, 6}, {0x83, 0}, {0x84, 0}, {0x85, 0}, {0x86, 0}, {0x87, 0}, {0x88, 0},
        {0x89, 3}, {0x8B, 0}, {0x8C, 0}, {0, 0},    {1, 1},    {2, 2},    {3, 3},    {4, 4},
        {5, 5},    {6, 6},    {7, 0},    {0x78, 0}, {0x8A, 0}, {254, 0},  {255, 0}};
    for (const auto& [code, table] : selection)
        EXPECT_EQ(flash::opcodeTableNumber(static_cast<std::uint8_t>(code)), table) << code;

    using Slots = std::array<std::uint8_t, 13>; // slots 1..12, then the program mode
    const Slots generic = {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8,
                           0xC7, 0x02, 0xFF, 0xFF, 0x01, 0};
    const std::array<Slots, 7> tables = {
        generic,
        Slots{0x03, 0xFF, 0x05, 0x06, 0x04, 0x20, 0x52, 0x60, 0x02, 0xAF, 0x50, 0x01, 1},
        Slots{0x03, 0x0B, 0x05, 0x06, 0x04, 0xD7, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0},
        generic,
        generic,
        generic,
        Slots{0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 2},
    };
    for (int number = 0; number < 7; ++number) {
        const auto& table = flash::opcodeTable(number);
        const Slots& expected = tables[static_cast<std::size_t>(number)];
        for (int slot = 1; slot <= 12; ++slot)
            EXPECT_EQ(table.slot(slot), expected[static_cast<std::size_t>(slot - 1)])
                << "table " << number << " slot " << slot;
        EXPECT_EQ(table.programMode, expected[12]) << "table " << number;
    }
}

TEST(ImageFlashTypeValue, EveryFamilyAndTable) {
    struct Row {
        std::vector<IcType> families;
        std::size_t offset;
        std::array<std::uint8_t, 7> values; // tables 0..6
    };
    const std::vector<Row> rows = {
        {{IcType::f, IcType::g}, 0xC006, {0, 1, 4, 5, 6, 3, 7}},
        {{IcType::h}, 0x501F, {0, 1, 4, 5, 6, 3, 7}},
        {{IcType::i}, 0x6010, {1, 2, 5, 6, 7, 4, 8}},
        {{IcType::j, IcType::k, IcType::m}, 2, {4, 1, 2, 9, 10, 8, 5}},
    };
    for (const Row& row : rows)
        for (const IcType family : row.families)
            for (int table = 0; table < 7; ++table) {
                const auto type = flash::imageFlashType(family, table);
                ASSERT_TRUE(type) << family;
                EXPECT_EQ(type->offset, row.offset) << family;
                EXPECT_EQ(type->value, row.values[static_cast<std::size_t>(table)])
                    << family << " table " << table;
            }
    for (const IcType other : {IcType::d, IcType::e, IcType::l})
        EXPECT_FALSE(flash::imageFlashType(other, 0)) << other;
}

TEST(GuidText, RoundTripsAndUsesTheDescriptorByteLayout) {
    const auto guid = Guid::parse("{63610682-5070-49AB-B8CC-B3855E8D221D}");
    ASSERT_TRUE(guid);
    EXPECT_EQ(guid->bytes[0], 0x82);
    EXPECT_EQ(guid->bytes[3], 0x63);
    EXPECT_EQ(guid->bytes[4], 0x70);
    EXPECT_EQ(guid->bytes[8], 0xB8);
    EXPECT_EQ(guid->toString(), "{63610682-5070-49AB-B8CC-B3855E8D221D}");
    EXPECT_EQ(Guid::parse("7d5a1d99-5b32-428b-8cad-671b8a65f37a")->toString(),
              "{7D5A1D99-5B32-428B-8CAD-671B8A65F37A}");
    EXPECT_FALSE(Guid::parse("{63610682-5070-49AB-B8CC-B3855E8D221}"));
    EXPECT_FALSE(Guid::parse("{63610682_5070-49AB-B8CC-B3855E8D221D}"));
    EXPECT_FALSE(Guid::parse("{6361068G-5070-49AB-B8CC-B3855E8D221D}"));
    EXPECT_TRUE(Guid{}.isNull());
}

} // namespace
} // namespace tessell
