#include "device/ic_type.h"
#include "device/xu_protocol.h"

#include <gtest/gtest.h>
#include <string_view>
#include <tuple>
#include <vector>

namespace tessell {
namespace {

TEST(IcTypeDetection, MapsFamilyBitsAndTheA0Variant) {
    EXPECT_EQ(chip::icTypeFromChip(0x61, 0), 'f');
    EXPECT_EQ(chip::icTypeFromChip(0x9F, 0), 'g');
    EXPECT_EQ(chip::icTypeFromChip(0x80, 0), 'h');
    EXPECT_EQ(chip::icTypeFromChip(0xA5, 0x10), 'd');
    EXPECT_EQ(chip::icTypeFromChip(0xA5, 0x11), 'i');
    EXPECT_EQ(chip::icTypeFromChip(0xB0, 0x10), 'j');
    EXPECT_EQ(chip::icTypeFromChip(0xC0, 0), 'k');
    EXPECT_EQ(chip::icTypeFromChip(0xE3, 0), 'k');
    EXPECT_EQ(chip::icTypeFromChip(0xD0, 0), 'm');
    for (int foreign : {0x00, 0x10, 0x38, 0x50, 0x70, 0xF0})
        EXPECT_EQ(chip::icTypeFromChip(static_cast<std::uint8_t>(foreign), 0), std::nullopt)
            << foreign;
}

TEST(IcTypeDetection, OnlyTheAnyFamilyFilterAcceptsE0) {
    EXPECT_TRUE(chip::familyFilterAccepts('e', 0xE0));
    EXPECT_FALSE(chip::familyFilterAccepts('k', 0xE0));
    EXPECT_TRUE(chip::familyFilterAccepts('k', 0xC0));
    EXPECT_TRUE(chip::familyFilterAccepts('i', 0xA0)); // 'd' cameras too: same bits
    EXPECT_FALSE(chip::familyFilterAccepts('l', 0xC0));
    EXPECT_FALSE(chip::familyFilterAccepts('e', 0x50));
}

// The chip-family table written out: chip-select value and the name shown.
TEST(IcTypeTable, ChipSelectValuesAndNames) {
    const std::vector<std::tuple<IcType, int, std::string_view>> rows = {
        {'d', 0, ""},
        {'f', 2, "ZLTA_7300BC"},
        {'g', 2, "ZLTA_7300D"},
        {'h', 0, "ZLTA_7310"},
        {'i', 0, "ZLTA_7318"},
        {'j', 0, "ZLTA_7312"},
        {'k', 0, "ZLTA_7315/23/13/17 series"},
        {'l', 0, "ZLTA_7330/76x0 series"},
        {'m', 0, ""},
    };
    for (const auto& [type, select, name] : rows) {
        if (type != 'l') { // never detected: no chip to select
            EXPECT_EQ(chip::spiCsValue(type), select) << type;
        }
        EXPECT_EQ(chip::icTypeName(type), name) << type;
    }
    EXPECT_EQ(chip::icTypeName('e'), "");
    EXPECT_STREQ(xuSelectorName(XU_DFU_ACCESS_CONTROL), "XU_DFU_ACCESS_CONTROL");
}

} // namespace
} // namespace tessell
