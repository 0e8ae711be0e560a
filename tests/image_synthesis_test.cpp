#include "common/path_text.h"
#include "device/xu_protocol.h"
#include "download/firmware_image.h"
#include "download/image_synthesis.h"
#include "support/process.h"
#include "support/sim_rig.h"
#include "support/test_env.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace tessell {
namespace {

using Bytes = std::vector<std::uint8_t>;
using image::HeaderBytes;
using image::SynthesisRequest;

// One layout of each family, with what the tool must read back from it.
struct FamilyCase {
    ImageFamily family;
    HeaderBytes header;
    bool carriesIdentity;
    bool carriesTypeNumber;
    std::optional<IcType> expected;
    IcType stringsCamera; // a camera family that finds the image's string blocks
    bool mark7630 = true;
    bool usb3 = true;
};

const FamilyCase kFamilies[] = {
    {ImageFamily::c, {0x55, 0x90}, false, false, std::nullopt, IcType::h},
    {ImageFamily::c, {0x89, 0x10}, false, false, std::nullopt, IcType::k},
    {ImageFamily::d, {0x55, 0x90}, true, true, IcType::h, IcType::h},
    {ImageFamily::d, {0x89, 0x12}, true, true, IcType::h, IcType::h},
    {ImageFamily::e, {0x55, 0x90}, false, true, std::nullopt, IcType::i},
    {ImageFamily::e, {0x89, 0x16}, true, true, IcType::i, IcType::i},
    {ImageFamily::f, {0x89, 0x17}, true, true, IcType::k, IcType::k},
    {ImageFamily::f, {0x89, 0x18}, true, true, IcType::k, IcType::k},
    {ImageFamily::g, {0x89, 0x16}, true, true, IcType::j, IcType::j},
    {ImageFamily::h, {0x89, 0x26}, true, true, IcType::m, IcType::m},
    {ImageFamily::h, {0xF9, 0xFF}, true, true, IcType::m, IcType::m},
    {ImageFamily::i, {0x89, 0x26}, true, true, IcType::m, IcType::m},
    {ImageFamily::i, {0x89, 0x26}, true, true, IcType::m, IcType::m, false, false},
    {ImageFamily::i, {0x89, 0x20}, true, true, IcType::m, IcType::m, true, false},
    {ImageFamily::j, {0x89, 0x10}, false, false, std::nullopt, IcType::j},
    {ImageFamily::j, {0x55, 0x90}, false, false, std::nullopt, IcType::i},
};

std::string describe(const FamilyCase& c) {
    char text[64];
    std::snprintf(text, sizeof text, "family %c header %02X %02X%s%s", image::letter(c.family),
                  c.header.signature, c.header.kind, c.mark7630 ? "" : " marked FF",
                  c.usb3 ? "" : " without USB 3.0 descriptor");
    return text;
}

// Case n (from 1) gets product n of the test vendor, 0x0001..0x0010.
static_assert(std::size(kFamilies) <= 0x10);

SynthesisRequest requestFor(const FamilyCase& c, int n) {
    SynthesisRequest request;
    request.family = c.family;
    request.header = c.header;
    request.vid = 0x1209;
    request.pid = static_cast<std::uint16_t>(n);
    request.bcdDevice = static_cast<std::uint16_t>(0x0100 + n);
    request.typeNumber = static_cast<std::uint16_t>(0x7A00 + n);
    request.manufacturer = "Maker " + std::to_string(n);
    request.serialNumber = "SN" + std::to_string(1000 + n);
    request.mark7630 = c.mark7630;
    if (!c.usb3)
        request.usb3DescriptorOffset.reset();
    return request;
}

TEST(ImageSynthesis, EveryFamilyReadsBackAsRequested) {
    int n = 0;
    for (const auto& c : kFamilies) {
        SCOPED_TRACE(describe(c));
        const auto request = requestFor(c, ++n);
        std::string error;
        const auto bytes = image::synthesizeImage(request, error);
        ASSERT_TRUE(bytes) << error;
        ASSERT_GE(bytes->size(), 2u);
        EXPECT_EQ((*bytes)[0], c.header.signature);
        EXPECT_EQ((*bytes)[1], c.header.kind);
        EXPECT_EQ(bytes->size(), image::defaultSize(c.family, c.header));

        const auto identity = image::readIdentity(*bytes);
        EXPECT_EQ(identity.family, c.family);
        EXPECT_EQ(identity.expectedCamera, c.expected);
        EXPECT_EQ(identity.vid, c.carriesIdentity ? request.vid : 0);
        EXPECT_EQ(identity.pid, c.carriesIdentity ? request.pid : 0);
        EXPECT_EQ(identity.bcdDevice, c.carriesIdentity ? request.bcdDevice : 0);
        EXPECT_EQ(identity.typeNumber, c.carriesTypeNumber ? request.typeNumber : 0);

        // A file of these bytes loads the same way into the fixed buffer.
        FirmwareImage loaded;
        ASSERT_TRUE(loaded.assign(*bytes, c.expected));
        EXPECT_EQ(loaded.family(), c.family);
        EXPECT_EQ(loaded.vid(), identity.vid);
        EXPECT_TRUE(loaded.matches_camera());
        EXPECT_EQ(loaded.headerVariant18(), c.header == (HeaderBytes{0x89, 0x18}));

        // The string blocks where a camera of the family looks for them. An
        // invalidated header hides them until the download restores it.
        const auto strings = image::cameraStringBlockOffset(*bytes, c.stringsCamera);
        if (c.header.signature == 0xF9) {
            EXPECT_FALSE(strings);
            continue;
        }
        ASSERT_TRUE(strings);
        EXPECT_EQ(*strings, image::synthesizedStringBlockOffset(request));
        EXPECT_EQ(image::decodeStringBlock(*bytes, *strings), request.manufacturer);
        EXPECT_EQ(image::decodeStringBlock(*bytes, *strings + image::kSerialBlockDistance),
                  request.serialNumber);
        // Images of no particular camera carry no descriptor where the
        // older chips look for iSerialNumber.
        if (c.expected || image::hasPointerTable(*bytes)) {
            EXPECT_EQ(image::serialNumberIndex(*bytes, c.stringsCamera), 3);
        }
        if (image::hasPointerTable(*bytes)) {
            // The places a rework puts a camera's blocks are the same.
            const std::size_t h = image::headerOffset(*bytes);
            EXPECT_EQ(image::bigEndian16(*bytes, h + 0x20), *strings);
            EXPECT_EQ(image::bigEndian16(*bytes, h + 0x22), *strings);
            EXPECT_EQ(image::bigEndian16(*bytes, h + 0x26), *strings + 0x1000);
        }
    }
}

TEST(ImageSynthesis, FieldsItLeavesOutAndPlacesItMoves) {
    std::string error;
    SynthesisRequest request;
    request.family = ImageFamily::i;
    request.vid = 0x1209;
    request.pid = 0x0005;
    request.bcdDevice = 0x0312;
    request.usb3DescriptorOffset = 0x4FFF; // the last place the tool looks at
    auto bytes = image::synthesizeImage(request, error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_EQ((*bytes)[0x4FFF], 0x12);
    EXPECT_EQ(image::littleEndian16(*bytes, 0x4FFF + 8), 0x1209);
    EXPECT_EQ(image::readIdentity(*bytes).pid, 0x0005);

    // Without strings the areas stay erased, and iSerialNumber is 0.
    request = {};
    request.family = ImageFamily::f;
    bytes = image::synthesizeImage(request, error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_FALSE(image::isValidStringBlock(*bytes, image::kSynthStringBlockOffset));
    EXPECT_EQ((*bytes)[image::kSynthStringBlockOffset + 1], 0xFF);
    EXPECT_EQ(image::serialNumberIndex(*bytes, IcType::k), 0);

    // A chosen string place, index and size.
    request.stringBlockOffset = 0x3000;
    request.manufacturer = "Halvane";
    request.serialIndex = 5;
    request.size = 0x4100;
    bytes = image::synthesizeImage(request, error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_EQ(bytes->size(), 0x4100u);
    EXPECT_EQ(image::imageStringBlockOffset(*bytes, IcType::k), 0x3000u);
    EXPECT_EQ(image::imageStringBlockOffset(*bytes, IcType::j), 0x3000u);
    EXPECT_EQ(image::decodeStringBlock(*bytes, 0x3000), "Halvane");
    EXPECT_EQ(image::serialNumberIndex(*bytes, IcType::m), 5);

    // Strings too long for the default size make the image grow to hold them.
    request = {};
    request.family = ImageFamily::g;
    request.stringBlockOffset = 0xEF00;
    request.serialNumber = std::string(32, 'S');
    bytes = image::synthesizeImage(request, error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_EQ(bytes->size(), 0x10000u) << "rounded up to whole 256 bytes";
    EXPECT_EQ(image::decodeStringBlock(*bytes, 0xFF00), request.serialNumber);
}

TEST(ImageSynthesis, RefusesWhatCannotBeBuilt) {
    struct Case {
        const char* what;
        SynthesisRequest request;
        const char* reason; // part of the error text
    };
    auto make = [](ImageFamily family, auto change) {
        SynthesisRequest request;
        request.family = family;
        change(request);
        return request;
    };
    const Case cases[] = {
        {"family b", make(static_cast<ImageFamily>(200), [](auto&) {}), "family"},
        {"family k", make(static_cast<ImageFamily>(8), [](auto&) {}), "family"},
        {"0x89 0x17 makes an 'f' image, not 'g'",
         make(ImageFamily::g,
              [](auto& r) {
                  r.header = HeaderBytes{0x89, 0x17};
              }),
         "reads as family f"},
        {"0x55 0x90 has no 'f' marker",
         make(ImageFamily::f,
              [](auto& r) {
                  r.header = HeaderBytes{0x55, 0x90};
              }),
         "reads as family j"},
        {"0x89 0x16 without the 'e' descriptor is 'g'",
         make(ImageFamily::d,
              [](auto& r) {
                  r.header = HeaderBytes{0x89, 0x16};
              }),
         "reads as family g"},
        {"33 characters",
         make(ImageFamily::f, [](auto& r) { r.manufacturer = std::string(33, 'M'); }),
         "longer than 32"},
        {"size below the fields", make(ImageFamily::d, [](auto& r) { r.size = 0xB000; }),
         "too small"},
        {"size beyond the buffer", make(ImageFamily::f, [](auto& r) { r.size = 0x20001; }),
         "larger"},
        {"strings inside the header area",
         make(ImageFamily::f, [](auto& r) { r.stringBlockOffset = 0x800; }), "must lie in"},
        {"serial block past 64 KiB",
         make(ImageFamily::f, [](auto& r) { r.stringBlockOffset = 0xF000; }), "must lie in"},
        {"older layouts keep their strings at 0xE000",
         make(ImageFamily::d, [](auto& r) { r.stringBlockOffset = 0x8000; }), "0xE000"},
        {"strings over the USB 3.0 descriptor",
         make(ImageFamily::i,
              [](auto& r) {
                  r.stringBlockOffset = 0x1FF0;
                  r.manufacturer = "Maker of cameras";
              }),
         "overlaps"},
        {"USB 3.0 descriptor outside the searched area",
         make(ImageFamily::i, [](auto& r) { r.usb3DescriptorOffset = 0x5000; }), "must lie in"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(image::synthesizeImage(c.request, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

TEST(MkimageTool, WritesTheImageAndRefusesBadCommandLines) {
    testing::TempDir dir;
    const auto out = dir / "f.bin";
    auto run = [](std::vector<std::string> arguments) {
        return testing::runProcess(TESSELL_MKIMAGE, arguments);
    };

    auto result = run({"--family",       "f",       "--header", "8918",       "--vid",  "0x1209",
                       "--pid",          "000c",    "--bcd",    "0917",       "--type", "12ab",
                       "--manufacturer", "Halvane", "--serial", "AB120001",   "--size", "0x9100",
                       "--strings-at",   "0x7000",  "-o",       pathText(out)});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("family f, header 89 18, vid 1209 pid 000c bcdDevice 0917, type "
                              "number 12ab, for IcType k, 37120 bytes"),
              std::string::npos)
        << result.out;
    std::ifstream file(out, std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(file), {}};
    ASSERT_EQ(bytes.size(), 0x9100u);
    const auto identity = image::readIdentity(bytes);
    EXPECT_EQ(identity.family, ImageFamily::f);
    EXPECT_EQ(identity.vid, 0x1209);
    EXPECT_EQ(identity.pid, 0x000C);
    EXPECT_EQ(identity.bcdDevice, 0x0917);
    EXPECT_EQ(identity.typeNumber, 0x12AB);
    EXPECT_EQ(image::decodeStringBlock(bytes, 0x7000), "Halvane");
    EXPECT_EQ(image::decodeStringBlock(bytes, 0x8000), "AB120001");

    result = run({"--family", "i", "--mark-ff", "--no-usb3", "--vid", "1209", "-o",
                  pathText(dir / "i.bin")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("family i, header 89 26, vid 1209"), std::string::npos) << result.out;

    result = run({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Usage: tessell-mkimage"), std::string::npos);

    struct Refusal {
        std::vector<std::string> arguments;
        int status;
        const char* message;
    };
    const Refusal refusals[] = {
        {{"--vid", "1", "-o", "x.bin"}, 2, "--family is required"},
        {{"--family", "f"}, 2, "--output is required"},
        {{"--family", "f", "--vid", "10000", "-o", "x.bin"}, 2, "bad value for --vid"},
        {{"--family", "f", "--vid", "xyz", "-o", "x.bin"}, 2, "bad value for --vid"},
        {{"--family", "f", "--header", "89", "-o", "x.bin"}, 2, "bad value for --header"},
        {{"--family", "f", "--size", "0", "-o", "x.bin"}, 2, "bad value for --size"},
        {{"--family", "f", "--colour", "red", "-o", "x.bin"}, 2, "unknown option"},
        {{"--family", "f", "-o"}, 2, "missing value"},
        {{"--family", "z", "-o", pathText(dir / "z.bin")}, 1, "unknown image family"},
        {{"--family", "f", "-o", pathText(dir / "no" / "such" / "f.bin")}, 1, "cannot write"},
    };
    for (const auto& refusal : refusals) {
        result = run(refusal.arguments);
        EXPECT_EQ(result.status, refusal.status) << refusal.message;
        EXPECT_NE(result.err.find(refusal.message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "z.bin"));
}

// A camera whose flash holds a synthetic image presents that image's
// identity and strings, as it does after a download of it.
TEST(ImageSynthesis, SimulatedCamerasPresentTheImageIdentity) {
    struct Camera {
        ImageFamily family;
        std::optional<HeaderBytes> header;
        const char* chip;
    };
    const Camera cameras[] = {
        {ImageFamily::d, std::nullopt, "0x80"}, {ImageFamily::e, HeaderBytes{0x89, 0x16}, "0xA0"},
        {ImageFamily::f, std::nullopt, "0xC0"}, {ImageFamily::f, HeaderBytes{0x89, 0x18}, "0xC0"},
        {ImageFamily::g, std::nullopt, "0xB0"}, {ImageFamily::h, std::nullopt, "0xD0"},
        {ImageFamily::i, std::nullopt, "0xD0"},
    };
    testing::TempDir dir;
    nlohmann::json devices = nlohmann::json::array();
    std::vector<SynthesisRequest> requests;
    for (std::size_t i = 0; i < std::size(cameras); ++i) {
        SynthesisRequest request;
        request.family = cameras[i].family;
        request.header = cameras[i].header;
        // Not the rom's 0x0001: the identity must come from the image.
        request.vid = 0x1209;
        request.pid = static_cast<std::uint16_t>(0x0002 + i);
        request.bcdDevice = static_cast<std::uint16_t>(0x0900 + i);
        request.manufacturer = "Halvane " + std::to_string(i);
        request.serialNumber = "SN-" + std::to_string(i);
        std::string error;
        const auto bytes = image::synthesizeImage(request, error);
        ASSERT_TRUE(bytes) << error;
        const auto file = dir / ("cam" + std::to_string(i) + ".flash");
        Bytes flash(0x10000, 0xFF);
        std::copy(bytes->begin(), bytes->end(), flash.begin());
        dir.write(file.filename().string(), std::string(flash.begin(), flash.end()));
        devices.push_back({{"chip_id", cameras[i].chip},
                           {"port", i + 1},
                           {"flash", {{"part", "0x79"}, {"file", file.string()}}},
                           {"rom", {{"manufacturer", "Rom"}, {"serial", "ROM"}}}});
        requests.push_back(request);
    }
    testing::SimRig rig(devices);
    ASSERT_TRUE(rig);
    std::vector<platform::UsbDeviceInfo> located;
    ASSERT_EQ(rig.platform().imagingDevices(located), status::kOk);
    ASSERT_EQ(located.size(), requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(std::string("family ") + image::letter(requests[i].family));
        const auto& found = located[i];
        EXPECT_EQ(found.vid, requests[i].vid);
        EXPECT_EQ(found.pid, requests[i].pid);
        EXPECT_EQ(found.bcdDevice, requests[i].bcdDevice);
        EXPECT_EQ(found.manufacturer, requests[i].manufacturer);
        EXPECT_EQ(found.serialNumber, requests[i].serialNumber);
    }
}

} // namespace
} // namespace tessell
