#include "device/flash_parts.h"
#include "platform/guid.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

TEST(FlashIdentificationTables, FirstReadNamesEveryRowAndDefersBlankAnswers) {
    for (const auto& row : flash::manufacturerIdTable())
        EXPECT_EQ(flash::codeFromManufacturerId(row.bytes), row.code);
    EXPECT_EQ(flash::codeFromManufacturerId({0x00, 0x00, 0x00}), std::nullopt);
    EXPECT_EQ(flash::codeFromManufacturerId({0xFF, 0xFF, 0xFF}), std::nullopt);
    EXPECT_EQ(flash::codeFromManufacturerId({0xC2, 0x05, 0xC3}), flash::kUnknown);
    EXPECT_EQ(flash::codeFromManufacturerId({0x00, 0x00, 0xFF}), flash::kUnknown);
}

TEST(FlashIdentificationTables, SecondReadsAreTiedToTheirCommand) {
    EXPECT_EQ(flash::codeFromSecondRead(0xAB, {0x9D, 0x7B, 0x7F}), 0x7D);
    EXPECT_EQ(flash::codeFromSecondRead(0x9F, {0x9D, 0x7B, 0x7F}), std::nullopt);
    EXPECT_EQ(flash::codeFromSecondRead(0x9F, {0x1F, 0x65, 0x00}), 0x7E);
    EXPECT_EQ(flash::codeFromSecondRead(0x9F, {0xC2, 0x22, 0x10}), 0x81);
    EXPECT_EQ(flash::codeFromSecondRead(0x9F, {0xC2, 0x22, 0x11}), 0x82);
    EXPECT_EQ(flash::codeFromSecondRead(0xAB, {0x1F, 0x65, 0x00}), std::nullopt);
}

TEST(OpcodeTableSelection, AcceptsCodesAndFamilyIndexes) {
    EXPECT_EQ(flash::opcodeTableNumber(0x7C), 2) << "0x7C has no name but a table";
    EXPECT_EQ(flash::opcodeTableNumber(3), 3);
    EXPECT_EQ(flash::opcodeTableNumber(0x8C), 0);
    EXPECT_EQ(flash::opcodeTableNumber(0x89), 3);
    EXPECT_EQ(flash::opcodeTableNumber(0x7E), 5);
    EXPECT_EQ(flash::opcodeTableNumber(0x82), 6);
    EXPECT_EQ(flash::opcodeTableNumber(7), 0);
    EXPECT_EQ(flash::opcodeTableNumber(254), 0);
    const auto& sst = flash::opcodeTable(1);
    EXPECT_EQ(sst.slot(flash::slot::kFastRead), flash::kNoOpcode);
    EXPECT_EQ(sst.slot(flash::slot::kEnableWriteStatus), 0x50);
    EXPECT_EQ(sst.programMode, 1);
    EXPECT_EQ(flash::opcodeTable(2).slot(flash::slot::kSectorErase), 0xD7);
    EXPECT_EQ(flash::opcodeTable(6).programMode, 2);
}

TEST(ImageFlashTypeValue, DependsOnFamilyAndTable) {
    auto i5 = flash::imageFlashType('i', flash::opcodeTableNumber(0x7E));
    ASSERT_TRUE(i5);
    EXPECT_EQ(i5->offset, 0x6010u);
    EXPECT_EQ(i5->value, 4);
    auto k0 = flash::imageFlashType('k', flash::opcodeTableNumber(0x8C));
    ASSERT_TRUE(k0);
    EXPECT_EQ(k0->offset, 2u);
    EXPECT_EQ(k0->value, 4);
    EXPECT_EQ(flash::imageFlashType('h', 6)->offset, 0x501Fu);
    EXPECT_EQ(flash::imageFlashType('g', 6)->value, 7);
    EXPECT_FALSE(flash::imageFlashType('d', 0));
    EXPECT_FALSE(flash::imageFlashType('l', 0));
}

TEST(FlashPartNames, CarryFamilyAndListIndexes) {
    const auto* gd = flash::findPartName(0x83);
    ASSERT_NE(gd, nullptr);
    EXPECT_EQ(gd->name, "GD25Q512/GD25D05B/GD25D10B");
    EXPECT_EQ(gd->familyIndex, 0);
    EXPECT_EQ(gd->listIndex, 7);
    EXPECT_EQ(flash::findPartName(0x7C), nullptr);
    EXPECT_EQ(flash::findPartName(0x89), nullptr);
    EXPECT_FALSE(flash::isValidForProtection(0x78));
    EXPECT_TRUE(flash::isValidForProtection(6));
    EXPECT_FALSE(flash::isValidForProtection(7));
    EXPECT_TRUE(flash::isValidForProtection(0x8C));
    EXPECT_FALSE(flash::isValidForProtection(0x8D));
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
