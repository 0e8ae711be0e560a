#include "common/path_text.h"
#include "common/utf16_text.h"
#include "download/firmware_image.h"
#include "download/image_synthesis.h"
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <vector>

namespace tessell {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A zero-filled image: no marker holds until a test sets it.
Bytes zeroImage(std::size_t size = image::kBufferSize) {
    return Bytes(size, 0x00);
}

void put(Bytes& bytes, std::size_t offset, std::initializer_list<std::uint8_t> values) {
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}
void putBe16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    put(bytes, offset, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
void putLe16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    put(bytes, offset, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
}
void putIds(Bytes& bytes, std::size_t vidOffset, std::uint16_t vid, std::uint16_t pid,
            std::uint16_t bcd) {
    putLe16(bytes, vidOffset, vid);
    putLe16(bytes, vidOffset + 2, pid);
    putLe16(bytes, vidOffset + 4, bcd);
}
std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(ImageClassification, EachRuleInItsOrder) {
    struct Case {
        const char* what;
        std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes;
        ImageFamily family;
    };
    const Case cases[] = {
        {"7630 wins over the 0x89 0x17 header",
         {{0, 0x89}, {1, 0x17}, {11, '7'}, {12, '6'}, {13, '3'}, {14, '0'}},
         ImageFamily::i},
        {"five 0xFF at 6..10 win over 0x89 0x18",
         {{0, 0x89}, {1, 0x18}, {6, 0xFF}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}, {10, 0xFF}},
         ImageFamily::i},
        {"four 0xFF are not enough", {{6, 0xFF}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}}, ImageFamily::j},
        {"0x89 0x17 wins over the older markers",
         {{0, 0x89}, {1, 0x17}, {0x8000, 0x12}},
         ImageFamily::f},
        {"0x89 0x18", {{0, 0x89}, {1, 0x18}, {0x6781, 0x12}}, ImageFamily::f},
        {"0x89 0x16 with a descriptor at 0x6781",
         {{0, 0x89}, {1, 0x16}, {0x6781, 0x12}},
         ImageFamily::e},
        {"0x89 0x16 without", {{0, 0x89}, {1, 0x16}, {0x8000, 0x12}}, ImageFamily::g},
        {"0xF9 0xFF wins over 0x8000", {{0, 0xF9}, {1, 0xFF}, {0x8000, 0x12}}, ImageFamily::h},
        {"0x89 0x26", {{0, 0x89}, {1, 0x26}}, ImageFamily::h},
        {"0x89 0x25 is no marker", {{0, 0x89}, {1, 0x25}}, ImageFamily::j},
        {"0x8000 wins over 0xB701", {{0x8000, 0x12}, {0xB701, 0x12}}, ImageFamily::c},
        {"0xB701 wins over 0x6781", {{0xB701, 0x12}, {0x6781, 0x12}}, ImageFamily::d},
        {"0x6781 alone", {{0x6781, 0x12}}, ImageFamily::e},
        {"0x55 0x90 carries no marker", {{0, 0x55}, {1, 0x90}}, ImageFamily::j},
    };
    for (const auto& c : cases) {
        auto bytes = zeroImage();
        for (const auto& [offset, value] : c.bytes)
            bytes[offset] = value;
        EXPECT_EQ(image::classify(bytes), c.family) << c.what;
    }
    // Markers that would lie beyond short byte ranges are absent.
    EXPECT_EQ(image::classify(Bytes{}), ImageFamily::j);
    EXPECT_EQ(image::classify(Bytes(10, 0xFF)), ImageFamily::j);
    EXPECT_EQ(image::classify(Bytes(11, 0xFF)), ImageFamily::i);
}

TEST(ImageIdentity, EachFamilyReadsItsOwnFields) {
    {
        auto bytes = zeroImage();
        bytes[0xB701] = 0x12;
        putIds(bytes, 0xB70A, 0x1209, 0x0002, 0x0102);
        putBe16(bytes, 0x3FF8, 0xABCD);
        const auto id = image::readIdentity(bytes);
        EXPECT_EQ(id.family, ImageFamily::d);
        EXPECT_EQ(id.vid, 0x1209);
        EXPECT_EQ(id.pid, 0x0002);
        EXPECT_EQ(id.bcdDevice, 0x0102);
        EXPECT_EQ(id.expectedCamera, IcType::h);
        EXPECT_EQ(image::formatTypeNumber(id.typeNumber), "abcd");
    }
    for (const bool newHeader : {true, false}) { // 'e' names its camera only with 0x89 0x16
        auto bytes = zeroImage();
        if (newHeader)
            put(bytes, 0, {0x89, 0x16});
        bytes[0x6781] = 0x12;
        putIds(bytes, 0x678A, 0x1209, 0x0003, 0x0333);
        putBe16(bytes, 0x4FF8, 0x0042);
        const auto id = image::readIdentity(bytes);
        EXPECT_EQ(id.family, ImageFamily::e);
        EXPECT_EQ(id.vid, newHeader ? 0x1209 : 0);
        EXPECT_EQ(id.pid, newHeader ? 0x0003 : 0);
        EXPECT_EQ(id.bcdDevice, newHeader ? 0x0333 : 0);
        EXPECT_EQ(id.expectedCamera, newHeader ? std::optional<IcType>(IcType::i) : std::nullopt);
        EXPECT_EQ(id.typeNumber, 0x0042);
    }
    struct PointerCase {
        std::uint8_t kind0, kind1;
        std::size_t pointerField; // relative to H
        std::size_t typeDistance; // type number at H - distance
        ImageFamily family;
        IcType expected;
    };
    for (const auto& c : {PointerCase{0x89, 0x17, 0x16, 2, ImageFamily::f, IcType::k},
                          PointerCase{0x89, 0x16, 0x16, 2, ImageFamily::g, IcType::j},
                          PointerCase{0xF9, 0xFF, 0x1A, 4, ImageFamily::h, IcType::m},
                          PointerCase{0x89, 0x26, 0x1A, 4, ImageFamily::h, IcType::m}}) {
        auto bytes = zeroImage();
        put(bytes, 0, {c.kind0, c.kind1});
        constexpr std::uint16_t h = 0x0300;
        constexpr std::uint16_t d = 0x0840;
        putBe16(bytes, 4, h);
        putBe16(bytes, h + c.pointerField, d);
        putIds(bytes, d + 0x0A, 0x1209, 0x000C, 0x0917);
        putBe16(bytes, h - c.typeDistance, 0x7315);
        const auto id = image::readIdentity(bytes);
        EXPECT_EQ(id.family, c.family);
        EXPECT_EQ(id.vid, 0x1209) << c.family;
        EXPECT_EQ(id.pid, 0x000C) << c.family;
        EXPECT_EQ(id.bcdDevice, 0x0917) << c.family;
        EXPECT_EQ(id.expectedCamera, c.expected);
        EXPECT_EQ(image::formatTypeNumber(id.typeNumber), "7315");
    }
    for (const std::size_t marker : {std::size_t{0x8000}, std::size_t{0}}) { // 'c' and 'j'
        auto bytes = zeroImage();
        bytes[marker] = 0x12;
        putIds(bytes, 0xB70A, 1, 2, 3);
        const auto id = image::readIdentity(bytes);
        EXPECT_EQ(id.vid, 0);
        EXPECT_EQ(id.expectedCamera, std::nullopt);
        EXPECT_EQ(image::formatTypeNumber(id.typeNumber), "0000");
    }
}

TEST(ImageIdentity, FamilyIPrefersTheUsb3DescriptorAndFallsBackToThePointer) {
    const auto usb3 = [](Bytes& bytes, std::size_t at, std::uint16_t vid, std::uint16_t pid,
                         std::uint16_t bcd) {
        put(bytes, at, {0x12, 0x01, 0x00, 0x03, 0xEF, 0x02, 0x01, 0x09});
        putIds(bytes, at + 8, vid, pid, bcd);
    };
    auto base = zeroImage();
    put(base, 11, {'7', '6', '3', '0'});
    putBe16(base, 4, 0x0400);
    putBe16(base, 0x0400 + 0x1A, 0x0900);
    putIds(base, 0x0900 + 0x0A, 0x1209, 0x0001, 0xCCCC);

    auto found = base;
    usb3(found, 0x2000, 0x1209, 0x0002, 0x0203);
    usb3(found, 0x3000, 0x1209, 0x0003, 0x1111); // a later hit does not count
    auto id = image::readIdentity(found);
    EXPECT_EQ(id.family, ImageFamily::i);
    EXPECT_EQ(id.vid, 0x1209);
    EXPECT_EQ(id.pid, 0x0002);
    EXPECT_EQ(id.bcdDevice, 0x0203);
    EXPECT_EQ(id.expectedCamera, IcType::m);

    id = image::readIdentity(base);
    EXPECT_EQ(id.pid, 0x0001) << "no descriptor: the pointer at H+0x1A";
    EXPECT_EQ(id.bcdDevice, 0xCCCC);

    auto zeros = base;
    usb3(zeros, 0x1800, 0, 0, 0);
    EXPECT_EQ(image::readIdentity(zeros).pid, 0x0001) << "an all-zero descriptor is no hit";

    auto outside = base;
    usb3(outside, 0x0F00, 0x1209, 0x0004, 0x1234);
    usb3(outside, 0x5000, 0x1209, 0x0004, 0x1234);
    EXPECT_EQ(image::readIdentity(outside).pid, 0x0001) << "only 0x1000..0x4FFF is searched";

    auto last = base;
    usb3(last, 0x4FFF, 0x1209, 0x0005, 0x0002);
    EXPECT_EQ(image::readIdentity(last).pid, 0x0005) << "a hit starting at 0x4FFF counts";
}

TEST(ImageChecksum, PaddingInvertsOncePerPadByte) {
    const Bytes ten = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x11, 0x22};
    const std::uint8_t xorTen = 0xFF ^ 0x11 ^ 0x22;
    EXPECT_EQ(image::checksum(ten, 8), xorTen) << "6 pad bytes";
    const std::span<const std::uint8_t> nine(ten.data(), 9);
    EXPECT_EQ(image::checksum(nine, 8), static_cast<std::uint8_t>(~(0xFF ^ 0x11))) << "7 pad bytes";
    EXPECT_EQ(image::checksum(std::span(ten).first(8), 8), 0xFF) << "whole blocks: no padding";
    EXPECT_EQ(image::checksum(nine, 0), 0xFF ^ 0x11) << "no block size: no padding";
    EXPECT_EQ(image::checksum({}, 4096), 0);
    // The 0xFF padding counted byte by byte gives the same.
    Bytes padded(nine.begin(), nine.end());
    padded.resize(4096, 0xFF);
    EXPECT_EQ(image::checksum(nine, 4096), image::checksum(padded, 0));
}

TEST(ImageStringBlocks, OffsetIndexAndValidity) {
    auto bytes = zeroImage();
    put(bytes, 0, {0x89, 0x26});
    constexpr std::uint16_t h = 0x0200;
    putBe16(bytes, 4, h);
    putBe16(bytes, h + 0x74, 0x3000);
    putBe16(bytes, h + 0x7A, 0x4000);
    putBe16(bytes, h + 0x9C, 0x5000);
    EXPECT_EQ(image::imageStringBlockOffset(bytes, IcType::j), 0x4000u);
    EXPECT_EQ(image::imageStringBlockOffset(bytes, IcType::k), 0x5000u);
    EXPECT_EQ(image::imageStringBlockOffset(bytes, IcType::m), 0x6000u);
    EXPECT_EQ(image::imageStringBlockOffset(bytes, IcType::h), std::nullopt);
    EXPECT_EQ(image::cameraStringBlockOffset(bytes, IcType::h), 0xE000u);
    EXPECT_EQ(image::cameraStringBlockOffset(bytes, IcType::i), 0xE000u);
    EXPECT_EQ(image::cameraStringBlockOffset(bytes, IcType::k), 0x5000u);
    EXPECT_EQ(image::cameraStringBlockOffset(bytes, IcType::f), std::nullopt);
    putBe16(bytes, h + 0x7A, 0xFFFF);
    EXPECT_EQ(image::imageStringBlockOffset(bytes, IcType::k), std::nullopt)
        << "P = 0xFFFF is none";
    for (const std::uint8_t kind : {0x0F, 0x30, 0xFF}) {
        bytes[1] = kind;
        EXPECT_EQ(image::imageStringBlockOffset(bytes, IcType::j), std::nullopt) << int{kind};
    }

    // iSerialNumber: fixed bytes for 'h' and 'i', the device descriptor for 'j', 'k', 'm'.
    bytes[0xB712] = 3;
    bytes[0x6792] = 4;
    putBe16(bytes, h + 0x16, 0x0700);
    bytes[0x0712] = 5;
    EXPECT_EQ(image::serialNumberIndex(bytes, IcType::h), 3);
    EXPECT_EQ(image::serialNumberIndex(bytes, IcType::i), 4);
    EXPECT_EQ(image::serialNumberIndex(bytes, IcType::m), 5);
    EXPECT_EQ(image::serialNumberIndex(bytes, IcType::l), std::nullopt);
    EXPECT_EQ(image::serialNumberIndex(bytes, IcType::d), std::nullopt);

    // Validity: L <= 66 and the whole block inside the bytes.
    Bytes area(80, 0x00);
    area[1] = 66;
    EXPECT_TRUE(image::isValidStringBlock(area, 0));
    area[1] = 67;
    EXPECT_FALSE(image::isValidStringBlock(area, 0));
    area[11] = 66; // block at 10 would need 78 bytes: 10 + 68 = 78 fits
    EXPECT_TRUE(image::isValidStringBlock(area, 10));
    area[13] = 66; // at 12 it would end at 80: fits exactly
    EXPECT_TRUE(image::isValidStringBlock(area, 12));
    area[14] = 66; // at 13 it runs past the end
    EXPECT_FALSE(image::isValidStringBlock(area, 13));
    EXPECT_FALSE(image::isValidStringBlock(area, 79)) << "no length byte";
    EXPECT_FALSE(image::isValidStringBlock(area, 5000));
    EXPECT_FALSE(image::isValidStringBlock(Bytes(0x20, 0xFF), 0)) << "erased flash";
}

TEST(ImageStringBlocks, DecodeAndEncode) {
    // The built-in first block: bLength 0x1E covers 14 characters, the two
    // bytes after the name included.
    Bytes block = {0x00, 0x1E, 0x1E, 0x03};
    for (const char c : std::string("HalvaneIT INC"))
        block.insert(block.end(), {static_cast<std::uint8_t>(c), 0x00});
    block.insert(block.end(), {0x2E, 0x88});
    EXPECT_EQ(image::decodeStringBlock(block, 0), "HalvaneIT INC\xE8\xA0\xAE");

    // A bLength larger than the block does not reach past it; a NUL ends the text.
    Bytes shortBlock = {0x00, 0x06, 0x40, 0x03, 'A', 0, 'B', 0, 'C', 0};
    EXPECT_EQ(image::decodeStringBlock(shortBlock, 0), "AB");
    Bytes withNul = {0x00, 0x08, 0x08, 0x03, 'A', 0, 0, 0, 'C', 0};
    EXPECT_EQ(image::decodeStringBlock(withNul, 0), "A");
    EXPECT_EQ(image::decodeStringBlock(Bytes{0x00, 0x00}, 0), "") << "L = 0 is valid and empty";
    EXPECT_EQ(image::decodeStringBlock(Bytes{0x00, 0x43}, 0), std::nullopt);

    for (const std::string value :
         {"AB12003F", "Kamera \xC3\xBC \xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        const auto encoded = image::encodeStringBlock(utf8ToUtf16(value));
        ASSERT_TRUE(encoded) << value;
        EXPECT_EQ((*encoded)[1], encoded->size() - 2);
        EXPECT_EQ((*encoded)[2], (*encoded)[1]);
        EXPECT_EQ((*encoded)[3], 0x03);
        EXPECT_EQ(image::decodeStringBlock(*encoded, 0), value);
    }
    const auto serial = image::encodeStringBlock(u"AB12003F");
    ASSERT_TRUE(serial);
    EXPECT_EQ(text(*serial), std::string("\x00\x12\x12\x03"
                                         "A\0B\0"
                                         "1\0"
                                         "2\0"
                                         "0\0"
                                         "0\0"
                                         "3\0"
                                         "F\0",
                                         20));
    EXPECT_TRUE(image::encodeStringBlock(std::u16string(32, u'x')));
    EXPECT_FALSE(image::encodeStringBlock(std::u16string(33, u'x'))) << "L would be 68";
}

TEST(ImageParsing, HostileHeadersStayInsideTheBytes) {
    // Every parser over every combination of extreme pointers and short
    // ranges: the sanitizer build catches any read outside.
    const std::uint16_t extremes[] = {0x0000, 0x0001, 0x0002, 0x0003, 0x0004,
                                      0x7FFF, 0xFFF0, 0xFFFE, 0xFFFF};
    const std::size_t sizes[] = {0,    1,      2,      5,      6,       12,
                                 0x40, 0x1001, 0x6790, 0xB710, 0x10000, image::kBufferSize};
    const std::uint8_t kinds[][2] = {
        {0x89, 0x16}, {0x89, 0x17}, {0xF9, 0xFF}, {0x89, 0x26}, {0x55, 0x90}};
    for (const auto size : sizes) {
        for (const auto& kind : kinds) {
            for (const auto pointer : extremes) {
                Bytes bytes(size, 0);
                for (std::size_t i = 0; i + 1 < size; i += 2) { // every word is the pointer
                    bytes[i] = static_cast<std::uint8_t>(pointer >> 8);
                    bytes[i + 1] = static_cast<std::uint8_t>(pointer);
                }
                for (std::size_t i = 0; i < std::min<std::size_t>(2, size); ++i)
                    bytes[i] = kind[i];
                const auto id = image::readIdentity(bytes);
                (void)id;
                (void)image::fitsItsLayout(bytes);
                for (const IcType camera :
                     {IcType::h, IcType::i, IcType::j, IcType::k, IcType::m}) {
                    (void)image::serialNumberIndex(bytes, camera);
                    if (const auto offset = image::cameraStringBlockOffset(bytes, camera)) {
                        (void)image::decodeStringBlock(bytes, *offset);
                        (void)image::decodeStringBlock(bytes,
                                                       *offset + image::kSerialBlockDistance);
                    }
                }
            }
        }
    }
    // Fields beyond the range read as absent: a small H gives type number 0,
    // a pointer past the end gives identity 0.
    Bytes small = {0xF9, 0xFF, 0, 0, 0x00, 0x02, 0, 0};
    EXPECT_EQ(image::readIdentity(small).typeNumber, 0) << "H - 4 before the start";
    Bytes beyond(0x100, 0);
    put(beyond, 0, {0x89, 0x17, 0, 0, 0x00, 0x10});
    putBe16(beyond, 0x10 + 0x16, 0x00F8); // D + 0x0A lies past 0x100
    const auto id = image::readIdentity(beyond);
    EXPECT_EQ(id.vid, 0);
    EXPECT_EQ(id.pid, 0);
    EXPECT_EQ(image::serialNumberIndex(beyond, IcType::k), std::nullopt);
}

// Every layout the image tool makes is an image; a file that starts with no
// known signature, or is cut before the fields its layout reads, is not.
TEST(ImageLayout, RealImagesFitAndCutOrForeignFilesDoNot) {
    struct Layout {
        ImageFamily family;
        std::optional<image::HeaderBytes> header;
        bool usb3 = true;
    };
    const Layout layouts[] = {{ImageFamily::c, {}},
                              {ImageFamily::d, {}},
                              {ImageFamily::e, {}},
                              {ImageFamily::e, image::HeaderBytes{0x89, 0x16}},
                              {ImageFamily::f, {}},
                              {ImageFamily::f, image::HeaderBytes{0x89, 0x18}},
                              {ImageFamily::g, {}},
                              {ImageFamily::h, {}},
                              {ImageFamily::h, image::HeaderBytes{0xF9, 0xFF}},
                              {ImageFamily::i, {}},
                              {ImageFamily::i, {}, false},
                              {ImageFamily::j, {}},
                              {ImageFamily::j, image::HeaderBytes{0x55, 0x90}}};
    for (const Layout& layout : layouts) {
        image::SynthesisRequest request;
        request.family = layout.family;
        request.header = layout.header;
        request.vid = 0x1209;
        request.pid = 0x0001;
        request.bcdDevice = 0x0100;
        request.manufacturer = "Halvane";
        request.serialNumber = "SN0001";
        if (!layout.usb3)
            request.usb3DescriptorOffset.reset();
        std::string error;
        const auto bytes = image::synthesizeImage(request, error);
        ASSERT_TRUE(bytes) << error;
        SCOPED_TRACE(std::string("family ") + image::letter(layout.family) + " header " +
                     std::to_string((*bytes)[0]) + " " + std::to_string((*bytes)[1]));
        EXPECT_EQ(image::fitsItsLayout(*bytes),
                  !(layout.family == ImageFamily::j && (*bytes)[0] == 0x55))
            << "an older layout without the marker of any family is no layout the tool knows";
        const Bytes cut(bytes->begin(), bytes->begin() + 0x100);
        EXPECT_FALSE(image::fitsItsLayout(cut)) << "cut to 256 bytes";
    }

    Bytes random(4096);
    std::uint32_t state = 12345;
    for (auto& byte : random) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    random[0] = 0x7F; // no signature by chance
    const std::string status = "Name:\tcat\nUmask:\t0022\nState:\tR (running)\n";
    for (const Bytes& foreign :
         {Bytes{0x89}, Bytes{0x55}, random, Bytes(status.begin(), status.end()),
          Bytes(0x10000, 0xFF), Bytes(0x10000, 0x00)})
        EXPECT_FALSE(image::fitsItsLayout(foreign)) << foreign.size() << " bytes";
}

class FirmwareImageLoad : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& name, const Bytes& bytes) {
        return dir.write(name, text(bytes));
    }
    testing::TempDir dir;
};

TEST_F(FirmwareImageLoad, LogsReadIdentityAndTheVariant18Mark) {
    auto bytes = zeroImage(2048);
    put(bytes, 0, {0x89, 0x18, 0, 0, 0x01, 0x00});
    putBe16(bytes, 0x100 - 2, 0x1234);
    putBe16(bytes, 0x100 + 0x16, 0x0200);
    putIds(bytes, 0x20A, 0x1209, 0x000C, 0x0A1B);
    const auto path = write("fw.bin", bytes);

    FirmwareImage image;
    std::vector<FirmwareImage::LogLine> log;
    ASSERT_TRUE(image.load(path, {IcType::k, true}, log));
    EXPECT_TRUE(image.loaded());
    EXPECT_EQ(image.length(), 2048u);
    EXPECT_EQ(image.buffer().size(), image::kBufferSize);
    EXPECT_EQ(image.family(), ImageFamily::f);
    EXPECT_TRUE(image.headerVariant18());
    EXPECT_TRUE(image.matches_camera());
    EXPECT_EQ(image.vid(), 0x1209);
    EXPECT_EQ(image.pid(), 0x000C);
    EXPECT_EQ(image.typeNumber(), "1234");
    EXPECT_EQ(image.versionText(), "0A1B");
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].text,
              "Open File \"" + pathText(path) + "\"\r\n2048 bytes (2.0 KB) has been read\r\n");
    EXPECT_TRUE(log[0].burnLog);
    EXPECT_EQ(log[1].text, "*");
    EXPECT_FALSE(log[1].burnLog) << "the mark goes to the dialog only";
    EXPECT_EQ(log[2].text, "(File) New bcdDevice version = 0a1b \r\n");
    EXPECT_EQ(log[3].text, "(File) Type Number = 1234 \r\n");

    // 0x89 0x17: no mark; without ShowFWVer no type number; with an 'l'
    // camera neither version line.
    bytes[1] = 0x17;
    bytes.resize(1500);
    write("fw17.bin", bytes);
    log.clear();
    ASSERT_TRUE(image.load(dir / "fw17.bin", {IcType::k, false}, log));
    EXPECT_FALSE(image.headerVariant18());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].text.find("1500 bytes (1.5 KB) has been read"), std::string::npos);
    log.clear();
    ASSERT_TRUE(image.load(dir / "fw17.bin", {IcType::l, true}, log));
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(FirmwareImageLoad, MatchesCameraFollowsTheExpectedFamily) {
    auto bytes = zeroImage(0xC000);
    bytes[0xB701] = 0x12;
    const auto path = write("d.bin", bytes);
    std::vector<FirmwareImage::LogLine> log;
    FirmwareImage image;
    ASSERT_TRUE(image.load(path, {IcType::k, false}, log));
    EXPECT_EQ(image.family(), ImageFamily::d);
    EXPECT_FALSE(image.matches_camera()) << "a 'd' image is for 'h' cameras";
    ASSERT_TRUE(image.load(path, {IcType::h, false}, log));
    EXPECT_TRUE(image.matches_camera());
    ASSERT_TRUE(image.load(path, {std::nullopt, false}, log));
    EXPECT_TRUE(image.matches_camera()) << "no camera selected: nothing to differ";
    EXPECT_FALSE(image.matchesCamera(IcType::m));
}

TEST_F(FirmwareImageLoad, ShorterLoadKeepsTheOldBytesBeyondItsLength) {
    FirmwareImage image;
    std::vector<FirmwareImage::LogLine> log;
    // The first bytes of a header, after a whole image: the identity is not
    // taken from what the longer file left behind them.
    Bytes whole(0x300, 0x00);
    put(whole, 0, {0x89, 0x17, 0, 0, 0x00, 0x10});
    putBe16(whole, 0x10 + 0x16, 0x0100);
    putIds(whole, 0x10A, 0x1209, 0x0001, 0x0100);
    ASSERT_TRUE(image.load(write("whole.bin", whole), {}, log));
    EXPECT_EQ(image.bcdDevice(), 0x0100);
    log.clear();
    ASSERT_TRUE(image.load(write("head.bin", Bytes(whole.begin(), whole.begin() + 0x20)), {}, log));
    EXPECT_EQ(image.family(), ImageFamily::f);
    EXPECT_EQ(image.bcdDevice(), 0);
    EXPECT_EQ(image.vid(), 0);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1].text, "(File) New bcdDevice version = 0000 \r\n");
    EXPECT_FALSE(image::fitsItsLayout(image.content()));

    ASSERT_TRUE(image.load(write("long.bin", Bytes(0x300, 0x11)), {}, log));
    ASSERT_TRUE(image.load(write("short.bin", Bytes(0x10, 0x22)), {}, log));
    EXPECT_EQ(image.length(), 0x10u);
    EXPECT_EQ(image.content().size(), 0x10u);
    const auto buffer = image.buffer();
    EXPECT_EQ(buffer[0x0F], 0x22);
    EXPECT_EQ(buffer[0x10], 0x11);
    EXPECT_EQ(buffer[0x2FF], 0x11);
    EXPECT_EQ(buffer[0x300], 0xFF) << "the fill of the first load";
    EXPECT_EQ(image.checksum(8), 0) << "only length bytes count: 16 x 0x22";
}

TEST_F(FirmwareImageLoad, RefusalsLeaveThePreviousImageAndSayWhy) {
    FirmwareImage image;
    std::vector<FirmwareImage::LogLine> log;
    EXPECT_FALSE(image.load(dir / "missing.bin", {}, log));
    EXPECT_FALSE(image.loaded());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, "Cannot load \"" + pathText(dir / "missing.bin") +
                               "\": no such file or directory\r\n");
    log.clear();
    EXPECT_FALSE(image.load(dir.path(), {}, log)) << "a folder is no file";
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].text.find("a folder, not a file"), std::string::npos) << log[0].text;
#ifndef _WIN32
    // A FIFO without a writer: opening it to read would wait for ever.
    // (Windows keeps no FIFOs in its file systems.)
    const auto fifo = dir / "pipe.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    log.clear();
    EXPECT_FALSE(image.load(fifo, {}, log));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].text.find(": not a regular file\r\n"), std::string::npos) << log[0].text;
#endif
    log.clear();

    auto first = zeroImage(0x1000);
    first[0x0] = 0xF9;
    first[0x1] = 0xFF;
    ASSERT_TRUE(image.load(write("ok.bin", first), {}, log));
    log.clear();

    const auto tooLong = write("big.bin", Bytes(image::kBufferSize + 1, 0x00));
    EXPECT_FALSE(image.load(tooLong, {}, log));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, "Cannot load \"" + pathText(tooLong) + "\": larger than 128 KiB\r\n");
    EXPECT_EQ(image.length(), 0x1000u);
    EXPECT_EQ(image.family(), ImageFamily::h);
    EXPECT_EQ(image.buffer()[0], 0xF9);
    EXPECT_EQ(image.buffer()[0x1000], 0xFF);

    log.clear();
    EXPECT_FALSE(image.load(dir / "missing.bin", {}, log));
    EXPECT_EQ(image.length(), 0x1000u);

    ASSERT_TRUE(image.load(write("full.bin", Bytes(image::kBufferSize, 0x00)), {}, log))
        << "exactly the buffer size fits";
    EXPECT_EQ(image.length(), image::kBufferSize);
    EXPECT_EQ(image.family(), ImageFamily::j);

    EXPECT_FALSE(image.assign(Bytes(image::kBufferSize + 1, 0x00)));
    EXPECT_EQ(image.length(), image::kBufferSize);
    EXPECT_FALSE(image.setLength(image::kBufferSize + 1));
    EXPECT_TRUE(image.setLength(0x100));
    EXPECT_EQ(image.content().size(), 0x100u);
}

} // namespace
} // namespace tessell
