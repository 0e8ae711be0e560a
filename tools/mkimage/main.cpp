// tessell-mkimage: writes a synthetic firmware image of a chosen image family
// and identity, for tests, demonstrations and bench runs against simulated
// cameras. The image carries no camera program.

#include "download/firmware_image.h"
#include "download/image_synthesis.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tessell::image::SynthesisRequest;

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

const char* const kHelp =
    R"(Usage: tessell-mkimage --family X [options] -o FILE

Writes a synthetic firmware image that the tool classifies as image family X
and whose identity fields hold the values given.

  --family X           image family: c, d, e, f, g, h, i or j (required)
  --header HHHH        bytes 0..1 in hex, e.g. 8918, 8926, 5590, F9FF
                       (default: c d e 5590, f 8917, g 8916, h i 8926, j 8910)
  --vid HEX            USB vendor id              (default 0000)
  --pid HEX            USB product id             (default 0000)
  --bcd HEX            bcdDevice                  (default 0000)
  --type HEX           type number                (default 0000)
  --manufacturer TEXT  text of the first string block (at most 32 characters)
  --serial TEXT        text of the serial-number block (at most 32 characters)
  --serial-index N     iSerialNumber of the device descriptor
                       (default 3 with --serial, else 0)
  --strings-at N       offset of the first string block of a pointer-table
                       image (default 0x8000; the older layouts use 0xE000)
  --usb3-at N          family i: offset of the USB 3.0 device descriptor,
                       0x1000..0x4FFF (default 0x2000)
  --no-usb3            family i: leave the USB 3.0 descriptor out
  --mark-ff            family i: mark with 0xFF at bytes 6..10 instead of "7630"
  --size N             image length in bytes (default 0x10000 for c, d, e,
                       0xA000 for the others; at most 0x20000)
  -o, --output FILE    where to write the image (required)
  -h, --help           this text

Hexadecimal ids may carry a 0x prefix. Sizes, offsets and the index are
decimal or 0x-prefixed hexadecimal.
On success one line describes what the tool reads back from the image.
Exit status: 0 written, 1 could not build or write the image, 2 usage error.
)";

std::optional<unsigned long> parseNumber(std::string_view text, int base) {
    if (base == 0) {
        base = 10;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            base = 16;
            text.remove_prefix(2);
        }
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

struct Arguments {
    SynthesisRequest request;
    bool familyGiven = false;
    std::optional<char> unknownFamily; // a letter that names no image family
    std::string output;
    bool help = false;
};

// Parses the command line; a message on standard error and none on a usage error.
std::optional<Arguments> parse(int argc, char** argv) {
    Arguments arguments;
    auto& request = arguments.request;
    auto usage = [](const std::string& message) -> std::optional<Arguments> {
        std::cerr << "tessell-mkimage: " << message << "\n(see --help)\n";
        return std::nullopt;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "-h" || option == "--help") {
            arguments.help = true;
            return arguments;
        }
        if (option == "--no-usb3") {
            request.usb3DescriptorOffset.reset();
            continue;
        }
        if (option == "--mark-ff") {
            request.mark7630 = false;
            continue;
        }
        if (i + 1 >= argc)
            return usage("unknown option or missing value: " + std::string(option));
        const std::string_view value = argv[++i];
        auto number = [&](int base, unsigned long maximum) -> std::optional<unsigned long> {
            const auto parsed = parseNumber(value, base);
            if (!parsed || *parsed > maximum)
                return std::nullopt;
            return parsed;
        };
        auto hex16 = [&](std::uint16_t& field) {
            const auto parsed = number(16, 0xFFFF);
            if (parsed)
                field = static_cast<std::uint16_t>(*parsed);
            return parsed.has_value();
        };
        bool good = true;
        if (option == "--family") {
            good = value.size() == 1;
            if (good) {
                if (const auto family = tessell::image::familyFromLetter(value[0]))
                    request.family = *family;
                else
                    arguments.unknownFamily = value[0];
            }
            arguments.familyGiven = true;
        } else if (option == "--header") {
            std::uint16_t bytes = 0;
            good = value.size() >= 4 && hex16(bytes);
            request.header = tessell::image::HeaderBytes{static_cast<std::uint8_t>(bytes >> 8),
                                                         static_cast<std::uint8_t>(bytes)};
        } else if (option == "--vid") {
            good = hex16(request.vid);
        } else if (option == "--pid") {
            good = hex16(request.pid);
        } else if (option == "--bcd") {
            good = hex16(request.bcdDevice);
        } else if (option == "--type") {
            good = hex16(request.typeNumber);
        } else if (option == "--manufacturer") {
            request.manufacturer = std::string(value);
        } else if (option == "--serial") {
            request.serialNumber = std::string(value);
        } else if (option == "--serial-index") {
            const auto parsed = number(0, 0xFF);
            good = parsed.has_value();
            request.serialIndex = static_cast<std::uint8_t>(parsed.value_or(0));
        } else if (option == "--strings-at") {
            const auto parsed = number(0, 0xFFFFF);
            good = parsed.has_value();
            request.stringBlockOffset = parsed.value_or(0);
        } else if (option == "--usb3-at") {
            const auto parsed = number(0, 0xFFFFF);
            good = parsed.has_value();
            request.usb3DescriptorOffset = parsed.value_or(0);
        } else if (option == "--size") {
            const auto parsed = number(0, 0xFFFFFFF);
            good = parsed.has_value() && *parsed > 0;
            request.size = parsed.value_or(0);
        } else if (option == "-o" || option == "--output") {
            arguments.output = std::string(value);
        } else {
            return usage("unknown option: " + std::string(option));
        }
        if (!good)
            return usage("bad value for " + std::string(option) + ": " + std::string(value));
    }
    if (!arguments.familyGiven)
        return usage("--family is required");
    if (arguments.output.empty())
        return usage("--output is required");
    return arguments;
}

std::string describe(const std::vector<std::uint8_t>& bytes) {
    const auto identity = tessell::image::readIdentity(bytes);
    char text[160];
    std::snprintf(text, sizeof text,
                  "family %c, header %02X %02X, vid %04x pid %04x bcdDevice %04x, type number %s, ",
                  tessell::image::letter(identity.family), bytes[0], bytes[1], identity.vid,
                  identity.pid, identity.bcdDevice,
                  tessell::image::formatTypeNumber(identity.typeNumber).c_str());
    std::string line = text;
    line += identity.expectedCamera
                ? std::string("for IcType ") + tessell::chip::letter(*identity.expectedCamera)
                : std::string("for no particular IcType");
    line += ", " + std::to_string(bytes.size()) + " bytes";
    return line;
}

} // namespace

int main(int argc, char** argv) {
    const auto arguments = parse(argc, argv);
    if (!arguments)
        return kExitUsage;
    if (arguments->help) {
        std::cout << kHelp;
        return 0;
    }
    std::string error;
    if (arguments->unknownFamily) {
        std::cerr << "tessell-mkimage: unknown image family '" << *arguments->unknownFamily
                  << "' (use c to j)\n";
        return kExitFailure;
    }
    const auto bytes = tessell::image::synthesizeImage(arguments->request, error);
    if (!bytes) {
        std::cerr << "tessell-mkimage: " << error << '\n';
        return kExitFailure;
    }
    std::ofstream out(arguments->output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes->data()),
              static_cast<std::streamsize>(bytes->size()));
    out.close();
    if (!out) {
        std::cerr << "tessell-mkimage: cannot write " << arguments->output << '\n';
        return kExitFailure;
    }
    std::cout << describe(*bytes) << " -> " << arguments->output << '\n';
    return 0;
}
