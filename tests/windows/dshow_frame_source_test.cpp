// Windows only: the Linux test program globs tests/ as a whole.
#ifdef _WIN32

#include "platform/windows/dshow_frame_source.h"

#include <gtest/gtest.h>
#include <vector>

namespace tessell::platform::windows {
namespace {

TEST(DirectShowPreview, PicturesComeTopRowFirstAndShortBuffersAreDropped) {
    // Two rows of two pixels, blue-green-red-unused, bottom row first.
    const std::vector<std::uint8_t> bottomUp = {
        0x01, 0x02, 0x03, 0x00, 0x04, 0x05, 0x06, 0x00,  // bottom row
        0x10, 0x20, 0x30, 0x7F, 0x40, 0x50, 0x60, 0x7F}; // top row
    preview::Frame frame;
    ASSERT_TRUE(copyRgb32Picture(bottomUp, {2, 2, true}, frame));
    EXPECT_EQ(frame.width, 2);
    EXPECT_EQ(frame.height, 2);
    EXPECT_EQ(frame.pixels,
              (std::vector<std::uint32_t>{0xFF302010, 0xFF605040, 0xFF030201, 0xFF060504}));
    ASSERT_TRUE(copyRgb32Picture(bottomUp, {2, 2, false}, frame));
    EXPECT_EQ(frame.at(0, 0), 0xFF030201u);

    // A buffer shorter than its format (or a format beyond any camera) is
    // never read past; the last picture stays.
    EXPECT_FALSE(copyRgb32Picture(std::span(bottomUp).first(15), {2, 2, true}, frame));
    EXPECT_FALSE(copyRgb32Picture(bottomUp, {1 << 20, 1, true}, frame));
    EXPECT_EQ(frame.at(0, 0), 0xFF030201u);

    // Without cameras (Wine) there is nothing to list or open.
    const auto sources = makeDirectShowFrameSources();
    EXPECT_TRUE(sources->supported());
    EXPECT_TRUE(sources->enumerate().empty());
    EXPECT_EQ(sources->open(0), nullptr);
}

} // namespace
} // namespace tessell::platform::windows

#endif // _WIN32
