#include "device/ic_type.h"
#include "device/xu_protocol.h"

#include <gtest/gtest.h>
#include <string_view>
#include <tuple>
#include <vector>

namespace tessell {
namespace {

TEST(IcTypeDetection, MapsFamilyBitsAndTheA0Variant) {
    EXPECT_EQ(chip::icTypeFromChip(0x61, 0), IcType::f);
    EXPECT_EQ(chip::icTypeFromChip(0x9F, 0), IcType::g);
    EXPECT_EQ(chip::icTypeFromChip(0x80, 0), IcType::h);
    EXPECT_EQ(chip::icTypeFromChip(0xA5, 0x10), IcType::d);
    EXPECT_EQ(chip::icTypeFromChip(0xA5, 0x11), IcType::i);
    EXPECT_EQ(chip::icTypeFromChip(0xB0, 0x10), IcType::j);
    EXPECT_EQ(chip::icTypeFromChip(0xC0, 0), IcType::k);
    EXPECT_EQ(chip::icTypeFromChip(0xE3, 0), IcType::k);
    EXPECT_EQ(chip::icTypeFromChip(0xD0, 0), IcType::m);
    for (int foreign : {0x00, 0x10, 0x38, 0x50, 0x70, 0xF0})
        EXPECT_EQ(chip::icTypeFromChip(static_cast<std::uint8_t>(foreign), 0), std::nullopt)
            << foreign;
}

TEST(IcTypeDetection, OnlyTheAnyFamilyFilterAcceptsE0) {
    EXPECT_TRUE(chip::familyFilterAccepts(IcType::e, 0xE0));
    EXPECT_FALSE(chip::familyFilterAccepts(IcType::k, 0xE0));
    EXPECT_TRUE(chip::familyFilterAccepts(IcType::k, 0xC0));
    EXPECT_TRUE(chip::familyFilterAccepts(IcType::i, 0xA0)); // 'd' cameras too: same bits
    EXPECT_FALSE(chip::familyFilterAccepts(IcType::l, 0xC0));
    EXPECT_FALSE(chip::familyFilterAccepts(IcType::e, 0x50));
}

// The chip-family table written out from the documents, row by row: the
// letter, the name shown, the chip select, and what the download, the
// serial numbers and a rework do differently per family.
TEST(IcTypeTable, EveryRowAsDocumented) {
    using chip::Procedure;
    using chip::ValidHeader;
    struct Row {
        IcType type;
        char letter;
        std::string_view name;
        int select; // -1: never detected, no chip to select
        Procedure procedure;
        ValidHeader header;      // what makes a verified ISP download valid
        int firmwareWrites;      // 1: the firmware's block controls write the flash (no protection)
        int mx32;                // 1: Macronix 5121E/1021E programmed sector by sector
        int invalidInData;       // 1: the image is sent with 0xF9 0xFF at its start
        int selector20;          // 1: XU_ISP_SERIAL_FLASH = 1 before the ISP download
        int invalidByte;         // written at 0 after the first block (tool-written flash)
        int identityAt;          // six bytes re-written after the first block
        int strings;             // fixed string sector, or the H-relative pointer field; 0 none
        int serialIndexAt;       // iSerialNumber in the image (fixed-sector families)
        int typeNumberAt;        // -2: H-2; 0: none
        std::string_view prefix; // rework work files
        int stationReset;        // 1: soft-reset when a station finishes
    };
    const Row rows[] = {
        {IcType::d, 'd', "", 0, Procedure::Isp, ValidHeader::Byte55, 0, 0, 0, 0, 0xF5, 0xF000, 0, 0,
         0, "", 0},
        {IcType::e, 'e', "", -1, Procedure::Isp, ValidHeader::Byte55, 0, 0, 0, 0, 0xF5, 0xF000, 0,
         0, 0, "", 0},
        {IcType::f, 'f', "ZLTA_7300BC", 2, Procedure::Isp, ValidHeader::Byte55, 0, 1, 0, 0, 0xF5,
         0x8008, 0, 0, 0, "", 0},
        {IcType::g, 'g', "ZLTA_7300D", 2, Procedure::Isp, ValidHeader::Byte55, 0, 1, 0, 0, 0xF5,
         0x8008, 0, 0, 0, "", 0},
        {IcType::h, 'h', "ZLTA_7310", 0, Procedure::Isp, ValidHeader::Byte55, 0, 1, 0, 0, 0xF5,
         0xB70A, 0xE000, 0xB712, 0x3FF8, "7310_", 0},
        {IcType::i, 'i', "ZLTA_7318", 0, Procedure::Isp, ValidHeader::Header8916, 0, 0, 0, 1, 0xF9,
         0x678A, 0xE000, 0x6792, 0x4FF8, "7318_", 0},
        {IcType::j, 'j', "ZLTA_7312", 0, Procedure::Dfu7312, ValidHeader::FirmwareFinishes, 1, 0, 0,
         0, 0xF5, 0xF000, 0x74, 0, -2, "7312_", 1},
        {IcType::k, 'k', "ZLTA_7315/23/13/17 series", 0, Procedure::ResetThenIsp,
         ValidHeader::Header89Kind, 1, 0, 1, 0, 0xF5, 0xF000, 0x7A, 0, -2, "7315_", 1},
        {IcType::l, 'l', "ZLTA_7330/76x0 series", -1, Procedure::Isp, ValidHeader::Byte55, 0, 0, 0,
         0, 0xF5, 0xF000, 0, 0, 0, "", 0},
        {IcType::m, 'm', "", 0, Procedure::ModuleOrIsp, ValidHeader::FirmwareFinishes, 1, 0, 1, 1,
         0xF5, 0xF000, 0x9C, 0, 0, "7610_", 0},
    };
    ASSERT_EQ(chip::families().size(), std::size(rows));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.letter);
        const chip::Family& f = chip::family(row.type);
        EXPECT_EQ(chip::letter(row.type), row.letter);
        EXPECT_EQ(chip::fromLetter(row.letter), row.type);
        EXPECT_EQ(chip::icTypeName(row.type), row.name);
        if (row.select >= 0) {
            EXPECT_EQ(chip::spiCsValue(row.type), row.select);
        }
        EXPECT_EQ(f.procedure, row.procedure);
        EXPECT_EQ(f.validHeader, row.header);
        EXPECT_EQ(f.firmwareWritesFlash, row.firmwareWrites == 1);
        EXPECT_EQ(f.countInBlock, row.type == IcType::j)
            << "only the 7312 firmware counts in byte 0";
        EXPECT_EQ(f.mx32, row.mx32 == 1);
        EXPECT_EQ(f.invalidHeaderInData, row.invalidInData == 1);
        EXPECT_EQ(f.selectsSerialFlash, row.selector20 == 1);
        if (!f.firmwareWritesFlash) {
            EXPECT_EQ(f.invalidByte, row.invalidByte);
            EXPECT_EQ(f.identityAt, row.identityAt);
        }
        switch (f.strings) {
        case chip::StringBlocks::Sector:
            EXPECT_EQ(f.stringSector, row.strings);
            EXPECT_EQ(f.serialIndexAt, row.serialIndexAt);
            break;
        case chip::StringBlocks::Pointer:
            EXPECT_EQ(f.stringPointerField, row.strings);
            break;
        case chip::StringBlocks::None:
            EXPECT_EQ(row.strings, 0);
            break;
        }
        EXPECT_EQ(f.typeNumber == chip::TypeNumberPlace::BeforeHeader, row.typeNumberAt == -2);
        EXPECT_EQ(f.typeNumber == chip::TypeNumberPlace::InSector ? int{f.typeNumberAt} : 0,
                  row.typeNumberAt > 0 ? row.typeNumberAt : 0);
        EXPECT_EQ(f.reworkPrefix, row.prefix);
        EXPECT_EQ(f.resetAfterStationFinish, row.stationReset == 1);
        EXPECT_EQ(f.showsImageVersion, row.type != IcType::l)
            << "the file's version is not shown for 'l'";
    }
    EXPECT_EQ(chip::fromLetter('c'), std::nullopt);
    EXPECT_EQ(chip::fromLetter('n'), std::nullopt);
    EXPECT_STREQ(xuSelectorName(XU_DFU_ACCESS_CONTROL), "XU_DFU_ACCESS_CONTROL");
}

} // namespace
} // namespace tessell
