// YUYV pictures as cameras send them: colours, shared chroma, odd sizes and
// padded rows, and buffers too short for the size they claim.

#include "platform/yuyv.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace tessell::preview {
namespace {

// Within 2 per channel, for rounding in the fixed-point conversion.
::testing::AssertionResult channelsNear(std::uint32_t actual, std::uint32_t expected) {
    for (const int shift : {24, 16, 8, 0}) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > 2)
            return ::testing::AssertionFailure()
                   << std::hex << "0x" << actual << " is not near 0x" << expected;
    }
    return ::testing::AssertionSuccess();
}

TEST(Yuyv, StudioRangeColoursBecomeFullRange) {
    // The 100 % colour bars in BT.601 studio range, as test cameras paint them.
    struct Row {
        std::uint8_t y, u, v;
        std::uint32_t argb;
    };
    const Row bars[] = {
        {235, 128, 128, 0xFFFFFFFF}, {210, 16, 146, 0xFFFFFF00},  {170, 166, 16, 0xFF00FFFF},
        {145, 54, 34, 0xFF00FF00},   {106, 202, 222, 0xFFFF00FF}, {81, 90, 240, 0xFFFF0000},
        {41, 240, 110, 0xFF0000FF},  {16, 128, 128, 0xFF000000},  {126, 128, 128, 0xFF808080},
    };
    for (const auto& bar : bars)
        EXPECT_TRUE(channelsNear(yuvToArgb(bar.y, bar.u, bar.v), bar.argb)) << int{bar.y};
    // Outside studio range the channels clamp instead of wrapping round.
    EXPECT_EQ(yuvToArgb(255, 128, 128), 0xFFFFFFFFu);
    EXPECT_EQ(yuvToArgb(0, 128, 128), 0xFF000000u);
    EXPECT_EQ(yuvToArgb(16, 0, 0) & 0x00FF00FF, 0u);
    EXPECT_EQ(yuvToArgb(235, 255, 255) & 0x00FF00FF, 0x00FF00FFu);
}

TEST(Yuyv, PairsShareTheirColourAndPaddingIsSkipped) {
    // Two rows of three pixels (an odd width still sends a whole pair), ten
    // bytes apart: eight of pixels, two of padding.
    const std::vector<std::uint8_t> picture = {
        235,  128,  16,   128, // white, black
        41,   240,  0xEE, 110, // blue, then the unused half of the last pair
        0xEE, 0xEE,            // padding
        16,   128,  235,  128, // black, white
        81,   90,   0xEE, 240, // red
    };
    Frame frame;
    ASSERT_TRUE(convertYuyv(picture, 3, 2, 10, frame));
    ASSERT_EQ(frame.width, 3);
    ASSERT_EQ(frame.height, 2);
    const std::uint32_t expected[] = {0xFFFFFFFF, 0xFF000000, 0xFF0000FF,
                                      0xFF000000, 0xFFFFFFFF, 0xFFFF0000};
    ASSERT_EQ(frame.pixels.size(), 6u);
    for (std::size_t index = 0; index < 6; ++index)
        EXPECT_TRUE(channelsNear(frame.pixels[index], expected[index])) << index;
}

TEST(Yuyv, BuffersShorterThanTheirPictureAreRefused) {
    const std::vector<std::uint8_t> full(160 * 120 * 2, 128);
    const std::span<const std::uint8_t> bytes(full);
    Frame frame;
    frame.resize(2, 2, 0xFF123456);
    const std::vector<std::uint32_t> before = frame.pixels;

    EXPECT_FALSE(convertYuyv(bytes.first(full.size() - 1), 160, 120, 320, frame));
    EXPECT_FALSE(convertYuyv({}, 160, 120, 320, frame));
    EXPECT_FALSE(convertYuyv(bytes, 160, 120, 400, frame)) << "rows further apart than it holds";
    // Sizes no driver should set.
    EXPECT_FALSE(convertYuyv(bytes, 0, 120, 320, frame));
    EXPECT_FALSE(convertYuyv(bytes, 160, -1, 320, frame));
    EXPECT_FALSE(convertYuyv(bytes, 160, 120, 318, frame)) << "rows closer than a row is long";
    EXPECT_FALSE(yuyvPictureBytes(kMaxPictureSide + 2, 1, std::size_t{1} << 20));
    EXPECT_FALSE(yuyvPictureBytes(2, 2, std::size_t{1} << 62)) << "would overflow";
    EXPECT_EQ(frame.width, 2);
    EXPECT_EQ(frame.pixels, before) << "a refused picture leaves the frame as it was";

    EXPECT_TRUE(convertYuyv(bytes, 160, 120, 320, frame));
    EXPECT_EQ(frame.pixels.size(), 160u * 120u);
}

} // namespace
} // namespace tessell::preview
