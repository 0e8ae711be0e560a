// Test pictures of simulated cameras and the bitmap font they are written with.

#include "download/image_synthesis.h"
#include "platform/sim/sim_frame_source.h"
#include "preview/bitmap_font.h"
#include "tests/support/sim_rig.h"
#include "tests/support/synthetic_image.h"

#include <gtest/gtest.h>

namespace tessell::testing {
namespace {

using preview::Frame;

// The glyph as rows of '#' and '.'.
std::vector<std::string> glyphRows(char c) {
    std::vector<std::string> rows;
    for (int row = 0; row < preview::kGlyphHeight; ++row) {
        std::string line;
        for (int column = 0; column < preview::kGlyphWidth; ++column)
            line += preview::glyphPixel(c, column, row) ? '#' : '.';
        rows.push_back(line);
    }
    return rows;
}

TEST(BitmapFont, GlyphsAreTheirCharacters) {
    EXPECT_EQ(glyphRows('1'), (std::vector<std::string>{"..#..", ".##..", "..#..", "..#..", "..#..",
                                                        "..#..", ".###."}));
    EXPECT_EQ(glyphRows('T'), (std::vector<std::string>{"#####", "..#..", "..#..", "..#..", "..#..",
                                                        "..#..", "..#.."}));
    EXPECT_EQ(glyphRows(' '), std::vector<std::string>(7, "....."));
    // Outside printable ASCII: the question mark.
    EXPECT_EQ(glyphRows('\x01'), glyphRows('?'));
    EXPECT_EQ(glyphRows('\xC3'), glyphRows('?'));
    EXPECT_FALSE(preview::glyphPixel('T', 5, 0));
    EXPECT_FALSE(preview::glyphPixel('T', 0, -1));

    // One advance per character, UTF-8 sequences counted once.
    EXPECT_EQ(preview::textWidth("ab", 1), 12);
    EXPECT_EQ(preview::textWidth("\xC3\xA9t\xC3\xA9", 2), 36);
}

TEST(BitmapFont, DrawingScalesAndClips) {
    Frame frame;
    frame.resize(20, 20, 0);
    preview::drawText(frame, 1, 2, "1", 0xFFFFFFFF, 2);
    // The top pixel of '1' (column 2, row 0) at scale 2.
    EXPECT_EQ(frame.at(1 + 4, 2), 0xFFFFFFFFu);
    EXPECT_EQ(frame.at(1 + 5, 3), 0xFFFFFFFFu);
    EXPECT_EQ(frame.at(1 + 6, 2), 0u);
    EXPECT_EQ(frame.at(0, 0), 0u);

    // Text running off every edge neither crashes nor wraps around.
    Frame small;
    small.resize(3, 3, 0);
    preview::drawText(small, -4, -4, "WWWWWW", 0xFFFFFFFF, 3);
    preview::drawText(small, 2, 2, "WWWWWW", 0xFFFFFFFF, 3);
    EXPECT_EQ(small.pixels.size(), 9u);
    preview::drawText(small, 0, 0, "W", 0xFFFFFFFF, 0); // no scale: nothing
}

std::size_t differingPixels(const Frame& a, const Frame& b) {
    std::size_t count = 0;
    for (std::size_t index = 0; index < a.pixels.size(); ++index)
        count += a.pixels[index] != b.pixels[index];
    return count;
}

TEST(TestPicture, ShowsNameAndVersionAndMoves) {
    Frame first, renamed, newVersion, later;
    preview::paintTestPicture(first, {"Line camera", 0x0100}, 0);
    preview::paintTestPicture(renamed, {"Bench camera", 0x0100}, 0);
    preview::paintTestPicture(newVersion, {"Line camera", 0x0102}, 0);
    preview::paintTestPicture(later, {"Line camera", 0x0100}, 5);
    ASSERT_EQ(first.width, preview::kTestPictureWidth);
    ASSERT_EQ(first.height, preview::kTestPictureHeight);

    // The name and the version are drawn in the lower third; each changes it.
    const auto lowerThirdOnly = [&](const Frame& other) {
        for (int y = 0; y < first.height; ++y)
            for (int x = 0; x < first.width; ++x)
                if (first.at(x, y) != other.at(x, y) && y < first.height * 2 / 3)
                    return false;
        return true;
    };
    EXPECT_GT(differingPixels(first, renamed), 100u);
    EXPECT_TRUE(lowerThirdOnly(renamed));
    EXPECT_GT(differingPixels(first, newVersion), 10u);
    EXPECT_TRUE(lowerThirdOnly(newVersion));
    // Pictures of a running stream differ from one another.
    EXPECT_GT(differingPixels(first, later), 0u);
}

TEST(SimFrameSources, PicturesOfTheStationsCamerasByPosition) {
    const auto image = synthesized(lineImage(ImageFamily::f));
    ASSERT_FALSE(image.empty());

    TempDir flashes;
    std::string flash(image.begin(), image.end());
    flash.resize(65536, '\xFF');
    const auto flashFile = flashes.write("cam1.flash", flash);

    SimRig rig(nlohmann::json::array(
        {{{"friendly_name", "Bench camera"}, {"chip_id", "0xC0"}},
         {{"friendly_name", "Line camera"},
          {"chip_id", "0xC0"},
          {"flash", {{"part", "0x79"}, {"file", flashFile.string()}}}},
         {{"friendly_name", "Sensor"}, {"list", "sensor"}, {"chip_id", "0xC0"}}}));
    ASSERT_TRUE(rig);
    preview::SimFrameSources sources(rig.platform());
    EXPECT_TRUE(sources.supported());
    const auto names = sources.enumerate();
    ASSERT_EQ(names.size(), 2u) << "video-input devices only";
    EXPECT_EQ(names[0], "Bench camera");
    EXPECT_EQ(names[1], "Line camera");
    EXPECT_EQ(sources.open(2), nullptr);

    auto source = sources.open(1);
    ASSERT_NE(source, nullptr);
    Frame frame;
    EXPECT_FALSE(source->read(frame)) << "no picture before start";
    ASSERT_TRUE(source->start());
    ASSERT_TRUE(source->read(frame));
    Frame expected;
    preview::paintTestPicture(expected, {"Line camera", 0x0102}, 0);
    EXPECT_EQ(differingPixels(frame, expected), 0u)
        << "the camera's name and the bcdDevice of the image in its flash";
    ASSERT_TRUE(source->read(frame));
    preview::paintTestPicture(expected, {"Line camera", 0x0102}, 1);
    EXPECT_EQ(differingPixels(frame, expected), 0u);

    EXPECT_TRUE(source->stop());
    EXPECT_FALSE(source->read(frame));
}

} // namespace
} // namespace tessell::testing
