#include "common/utf16_text.h"
#include "download/firmware_image.h"
#include "platform/sim/flash_identity.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace tessell::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

void putBigEndian16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<std::uint8_t>(value);
}
void putIdentity(Bytes& bytes, std::size_t at, std::uint16_t vid, std::uint16_t pid,
                 std::uint16_t bcd) {
    for (const std::uint16_t value : {vid, pid, bcd}) {
        bytes[at++] = static_cast<std::uint8_t>(value);
        bytes[at++] = static_cast<std::uint8_t>(value >> 8);
    }
}
void putBlock(Bytes& bytes, std::size_t at, const std::string& text) {
    const auto block = image::encodeStringBlock(utf8ToUtf16(text));
    ASSERT_TRUE(block);
    std::copy(block->begin(), block->end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

const RomIdentity kRom{0x1209, 0x0001, 0x0100, "Rom Maker", "Rom Camera", "ROM0001"};

// A 'k' camera's flash: 0x89 0x17 header, device descriptor through H+0x16,
// string blocks through the pointer at H+0x7A.
Bytes kFlash(std::uint16_t p = 0x3000) {
    Bytes flash(65536, 0xFF);
    std::fill(flash.begin(), flash.begin() + 16, 0x00); // bytes 6..10 of 0xFF would mean 'i'
    flash[0] = 0x89;
    flash[1] = 0x17;
    constexpr std::uint16_t h = 0x0100;
    putBigEndian16(flash, 4, h);
    putBigEndian16(flash, h + 0x16, 0x0200);
    putIdentity(flash, 0x020A, 0x1209, 0x000C, 0x0917);
    putBigEndian16(flash, h + 0x7A, p);
    return flash;
}

TEST(SimFlashIdentity, BootableSignatures) {
    EXPECT_TRUE(isBootable(Bytes{0x55, 0x90}));
    EXPECT_TRUE(isBootable(Bytes{0x89, 0x10}));
    EXPECT_TRUE(isBootable(Bytes{0x89, 0x2F, 0x00}));
    EXPECT_FALSE(isBootable(Bytes{0x89, 0x30}));
    EXPECT_FALSE(isBootable(Bytes{0x89, 0x0F}));
    EXPECT_FALSE(isBootable(Bytes{0xF9, 0xFF})) << "the signature invalidated during a download";
    EXPECT_FALSE(isBootable(Bytes{0x55, 0x91}));
    EXPECT_FALSE(isBootable(Bytes{0x55}));
    EXPECT_FALSE(isBootable(Bytes{}));
}

TEST(SimFlashIdentity, ReadsTheImageAndItsStringBlocks) {
    auto flash = kFlash();
    putBlock(flash, 0x4000, "Halvane");
    putBlock(flash, 0x5000, "AB120040");
    auto id = identityFromFlash(flash, IcType::k, kRom);
    EXPECT_EQ(id.vid, 0x1209);
    EXPECT_EQ(id.pid, 0x000C);
    EXPECT_EQ(id.bcdDevice, 0x0917);
    EXPECT_EQ(id.manufacturer, "Halvane");
    EXPECT_EQ(id.serial, "AB120040");
    EXPECT_EQ(id.product, "Rom Camera");

    // The same flash in a 'j' camera: its pointer at H+0x74 is 0xFFFF here.
    id = identityFromFlash(flash, IcType::j, kRom);
    EXPECT_EQ(id.pid, 0x000C);
    EXPECT_EQ(id.manufacturer, "Rom Maker");
    EXPECT_EQ(id.serial, "ROM0001");

    // An invalid serial block falls back alone; a zero field falls back alone.
    flash[0x5001] = 67;
    putIdentity(flash, 0x020A, 0x1209, 0x0000, 0x0917);
    id = identityFromFlash(flash, IcType::k, kRom);
    EXPECT_EQ(id.manufacturer, "Halvane");
    EXPECT_EQ(id.serial, "ROM0001");
    EXPECT_EQ(id.pid, 0x0001);
    EXPECT_EQ(id.bcdDevice, 0x0917);

    // Signature invalidated mid-download: the rom identity.
    flash[0] = 0xF9;
    flash[1] = 0xFF;
    id = identityFromFlash(flash, IcType::k, kRom);
    EXPECT_EQ(id.pid, 0x0001);
    EXPECT_EQ(id.bcdDevice, 0x0100);
    EXPECT_EQ(id.manufacturer, "Rom Maker");
}

TEST(SimFlashIdentity, FamiliesFindTheirStringBlocks) {
    // 'h' cameras keep their strings at 0xE000 whatever the header says.
    Bytes older(65536, 0x00);
    older[0] = 0x55;
    older[1] = 0x90;
    older[0xB701] = 0x12;
    putIdentity(older, 0xB70A, 0x1209, 0x0002, 0x0001);
    putBlock(older, 0xE000, "Maker");
    putBlock(older, 0xF000, "SN1");
    auto id = identityFromFlash(older, IcType::h, kRom);
    EXPECT_EQ(id.pid, 0x0002);
    EXPECT_EQ(id.manufacturer, "Maker");
    EXPECT_EQ(id.serial, "SN1");
    id = identityFromFlash(older, IcType::g, kRom);
    EXPECT_EQ(id.manufacturer, "Rom Maker") << "no string blocks known for 'g'";

    // A pointer that puts the serial block past a 64 KiB flash.
    auto flash = kFlash(0xEFC0); // F = 0xFFC0, serial block at 0x10FC0
    putBlock(flash, 0xFFC0, "Edge");
    id = identityFromFlash(flash, IcType::k, kRom);
    EXPECT_EQ(id.manufacturer, "Edge");
    EXPECT_EQ(id.serial, "ROM0001");
    // P = 0xFFFF names no block; a block that would run past the end is not valid.
    id = identityFromFlash(kFlash(0xFFFF), IcType::k, kRom);
    EXPECT_EQ(id.manufacturer, "Rom Maker");
    auto edge = kFlash(0xEFF0); // F = 0xFFF0: 16 bytes left
    edge[0xFFF1] = 30;
    id = identityFromFlash(edge, IcType::k, kRom);
    EXPECT_EQ(id.manufacturer, "Rom Maker");

    // A 512 KiB flash is read as an image of its first 0x20000 bytes.
    Bytes large(524288, 0xFF);
    std::copy(flash.begin(), flash.end(), large.begin());
    id = identityFromFlash(large, IcType::k, kRom);
    EXPECT_EQ(id.pid, 0x000C);
    EXPECT_EQ(id.serial, "ROM0001") << "0x10FC0 holds erased flash";
}

} // namespace
} // namespace tessell::sim
