// The rule every tool asks before writing an image into a camera: which
// image families fit which chips, written out pair by pair.

#include "download/image_fit.h"
#include "download/image_synthesis.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace tessell {
namespace {

constexpr IcType kChipFamilies[] = {'d', 'f', 'g', 'h', 'i', 'j', 'k', 'm'};

TEST(ImageFit, EachFamilyAndHeaderOnEachChip) {
    struct Case {
        ImageFamily family;
        std::optional<image::HeaderBytes> header;
        // The one chip the image is for; none: it fits every chip.
        std::optional<IcType> only;
        std::optional<IcType> expected; // the camera family the image names
    };
    const std::vector<Case> cases = {
        {'c', std::nullopt, std::nullopt, std::nullopt},
        {'d', std::nullopt, 'h', 'h'},
        {'e', image::HeaderBytes{0x55, 0x90}, std::nullopt, std::nullopt},
        {'e', image::HeaderBytes{0x89, 0x16}, 'i', 'i'},
        {'f', image::HeaderBytes{0x89, 0x17}, 'k', 'k'},
        {'f', image::HeaderBytes{0x89, 0x18}, 'k', 'k'},
        {'g', image::HeaderBytes{0x89, 0x16}, 'j', 'j'},
        {'h', image::HeaderBytes{0x89, 0x26}, std::nullopt, 'm'},
        {'h', image::HeaderBytes{0xF9, 0xFF}, 'm', 'm'},
        {'i', std::nullopt, std::nullopt, 'm'},
        {'j', image::HeaderBytes{0x89, 0x10}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        image::SynthesisRequest request;
        request.family = c.family;
        request.header = c.header;
        std::string error;
        const auto bytes = image::synthesizeImage(request, error);
        ASSERT_TRUE(bytes) << c.family << ": " << error;
        FirmwareImage loaded;
        ASSERT_TRUE(loaded.assign(*bytes));
        ASSERT_EQ(loaded.family(), c.family);
        EXPECT_EQ(loaded.expectedCamera(), c.expected) << c.family;
        for (const IcType camera : kChipFamilies)
            EXPECT_EQ(imageFitsChip(loaded, camera), !c.only || *c.only == camera)
                << "family " << c.family << " header " << int(bytes->at(0)) << " "
                << int(bytes->at(1)) << " on " << camera;
    }

    // A family 'j' image filling the whole buffer counts as 'i': it fits.
    image::SynthesisRequest whole;
    whole.family = 'j';
    whole.size = image::kBufferSize;
    std::string error;
    const auto big = image::synthesizeImage(whole, error);
    ASSERT_TRUE(big) << error;
    FirmwareImage bigImage;
    ASSERT_TRUE(bigImage.assign(*big));
    EXPECT_TRUE(imageFitsChip(bigImage, 'i'));

    // Bytes of no layout fit no chip.
    FirmwareImage stray;
    ASSERT_TRUE(stray.assign(std::vector<std::uint8_t>(4096, 0x00)));
    for (const IcType camera : kChipFamilies)
        EXPECT_FALSE(imageFitsChip(stray, camera)) << camera;

    EXPECT_EQ(imageNotForChipText("sf.bin", 'h'),
              "sf.bin is not made for this camera's chip (ZLTA_7310): not burned.");
    EXPECT_EQ(chipText('m'), "family 'm'");
}

} // namespace
} // namespace tessell
