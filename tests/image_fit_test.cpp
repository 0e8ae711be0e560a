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

constexpr IcType kChipFamilies[] = {IcType::d, IcType::f, IcType::g, IcType::h,
                                    IcType::i, IcType::j, IcType::k, IcType::m};

TEST(ImageFit, EachFamilyAndHeaderOnEachChip) {
    struct Case {
        ImageFamily family;
        std::optional<image::HeaderBytes> header;
        // The one chip the image is for; none: it fits every chip.
        std::optional<IcType> only;
        std::optional<IcType> expected; // the camera family the image names
    };
    const std::vector<Case> cases = {
        {ImageFamily::c, std::nullopt, std::nullopt, std::nullopt},
        {ImageFamily::d, std::nullopt, IcType::h, IcType::h},
        {ImageFamily::e, image::HeaderBytes{0x55, 0x90}, std::nullopt, std::nullopt},
        {ImageFamily::e, image::HeaderBytes{0x89, 0x16}, IcType::i, IcType::i},
        {ImageFamily::f, image::HeaderBytes{0x89, 0x17}, IcType::k, IcType::k},
        {ImageFamily::f, image::HeaderBytes{0x89, 0x18}, IcType::k, IcType::k},
        {ImageFamily::g, image::HeaderBytes{0x89, 0x16}, IcType::j, IcType::j},
        {ImageFamily::h, image::HeaderBytes{0x89, 0x26}, std::nullopt, IcType::m},
        {ImageFamily::h, image::HeaderBytes{0xF9, 0xFF}, IcType::m, IcType::m},
        {ImageFamily::i, std::nullopt, std::nullopt, IcType::m},
        {ImageFamily::j, image::HeaderBytes{0x89, 0x10}, std::nullopt, std::nullopt},
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
    whole.family = ImageFamily::j;
    whole.size = image::kBufferSize;
    std::string error;
    const auto big = image::synthesizeImage(whole, error);
    ASSERT_TRUE(big) << error;
    FirmwareImage bigImage;
    ASSERT_TRUE(bigImage.assign(*big));
    EXPECT_TRUE(imageFitsChip(bigImage, IcType::i));

    // Bytes of no layout fit no chip.
    FirmwareImage stray;
    ASSERT_TRUE(stray.assign(std::vector<std::uint8_t>(4096, 0x00)));
    for (const IcType camera : kChipFamilies)
        EXPECT_FALSE(imageFitsChip(stray, camera)) << camera;

    EXPECT_EQ(imageNotForChipText("sf.bin", IcType::h),
              "sf.bin is not made for this camera's chip (ZLTA_7310): not burned.");
    EXPECT_EQ(chipText(IcType::m), "family 'm'");
}

} // namespace
} // namespace tessell
