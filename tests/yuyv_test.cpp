// YUYV pictures as cameras send them: colours, shared chroma, odd sizes and
// padded rows, and buffers too short for the size they claim.

#include "preview/yuyv.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace tessell::preview {
namespace {

int channelOf(std::uint32_t pixel, int shift) {
    return static_cast<int>((pixel >> shift) & 0xFF);
}

// Within `tolerance` per channel, for rounding in the fixed-point conversion.
::testing::AssertionResult near(std::uint32_t actual, std::uint32_t expected, int tolerance = 2) {
    if ((actual >> 24) != 0xFF)
        return ::testing::AssertionFailure() << std::hex << actual << " is not opaque";
    for (const int shift : {16, 8, 0})
        if (std::abs(channelOf(actual, shift) - channelOf(expected, shift)) > tolerance)
            return ::testing::AssertionFailure()
                   << std::hex << "0x" << actual << " is not near 0x" << expected;
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
        EXPECT_TRUE(near(yuvToArgb(bar.y, bar.u, bar.v), bar.argb))
            << int{bar.y} << "," << int{bar.u} << "," << int{bar.v};

    // Values outside studio range clamp instead of wrapping round.
    EXPECT_EQ(yuvToArgb(255, 128, 128), 0xFFFFFFFFu);
    EXPECT_EQ(yuvToArgb(0, 128, 128), 0xFF000000u);
    const std::uint32_t saturated = yuvToArgb(16, 0, 0); // far below zero for red and blue
    EXPECT_EQ(channelOf(saturated, 16), 0);
    EXPECT_EQ(channelOf(saturated, 0), 0);
    EXPECT_EQ(channelOf(yuvToArgb(235, 255, 255), 16), 255);
    EXPECT_EQ(channelOf(yuvToArgb(235, 255, 255), 0), 255);
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
    ASSERT_EQ(frame.pixels.size(), 6u);
    EXPECT_TRUE(near(frame.at(0, 0), 0xFFFFFFFF));
    EXPECT_TRUE(near(frame.at(1, 0), 0xFF000000));
    EXPECT_TRUE(near(frame.at(2, 0), 0xFF0000FF));
    EXPECT_TRUE(near(frame.at(0, 1), 0xFF000000));
    EXPECT_TRUE(near(frame.at(1, 1), 0xFFFFFFFF));
    EXPECT_TRUE(near(frame.at(2, 1), 0xFFFF0000));
    // The last row needs no padding after it.
    EXPECT_EQ(yuyvPictureBytes(3, 2, 10), std::optional<std::size_t>(18));
    EXPECT_EQ(yuyvRowBytes(1), 4u);
    EXPECT_EQ(yuyvRowBytes(640), 1280u);
}

TEST(Yuyv, BuffersShorterThanTheirPictureAreRefused) {
    const std::vector<std::uint8_t> full(160 * 120 * 2, 128);
    Frame frame;
    frame.resize(2, 2, 0xFF123456);
    const Frame before = frame;
    const auto unchanged = [&] {
        return frame.width == before.width && frame.height == before.height &&
               frame.pixels == before.pixels;
    };

    const std::span<const std::uint8_t> bytes(full);
    EXPECT_FALSE(convertYuyv(bytes.first(full.size() - 1), 160, 120, 320, frame));
    EXPECT_TRUE(unchanged());
    EXPECT_FALSE(convertYuyv({}, 160, 120, 320, frame));
    // Rows further apart than the buffer allows.
    EXPECT_FALSE(convertYuyv(bytes, 160, 120, 400, frame));
    EXPECT_TRUE(unchanged());

    // Sizes no driver should set.
    struct Row {
        int width, height;
        std::size_t bytesPerLine;
    };
    const Row nonsense[] = {{0, 120, 320},
                            {160, 0, 320},
                            {-2, 120, 320},
                            {160, -1, 320},
                            {160, 120, 318},
                            {kMaxPictureSide + 2, 1, 1 << 20},
                            {2, kMaxPictureSide + 1, 4},
                            {2, 1, std::size_t{1} << 62}};
    for (const auto& row : nonsense) {
        EXPECT_FALSE(yuyvPictureBytes(row.width, row.height, row.bytesPerLine))
            << row.width << "x" << row.height << " / " << row.bytesPerLine;
        EXPECT_FALSE(convertYuyv(bytes, row.width, row.height, row.bytesPerLine, frame));
    }
    EXPECT_TRUE(unchanged());

    EXPECT_TRUE(convertYuyv(bytes, 160, 120, 320, frame));
    EXPECT_EQ(frame.pixels.size(), 160u * 120u);
}

} // namespace
} // namespace tessell::preview
