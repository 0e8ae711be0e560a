// The serial-number file: any bytes as the file a station names, read for a
// download into a simulated camera and advanced after it.

#include "download/image_synthesis.h"
#include "download/serial_number.h"
#include "fuzz_input.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/station.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace tessell;

namespace {

struct Bench {
    Bench() {
        folder = fuzz::scratchFolder() / ("tessell-fuzz-sn-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        ::setenv("TESSELL_HOME", folder.c_str(), 1);
        std::string error;
        auto station = sim::parseStation(
            R"({"devices": [{"chip_id": "0xC0", "flash": {"part": "0x79"}}]})", folder, error);
        platform = sim::SimPlatform::fromStation(std::move(*station), {false, false}, error);
        link = std::make_unique<CameraLink>(*platform);
        static_cast<void>(link->OpenCamera(chip::kAnyFamily, 0, 0));
        image::SynthesisRequest request;
        request.family = ImageFamily::f;
        request.vid = 0x1209;
        request.pid = 0x0001;
        request.manufacturer = "Halvane";
        request.serialNumber = "SN0001";
        image = *image::synthesizeImage(request, error);
    }
    std::filesystem::path folder;
    std::unique_ptr<sim::SimPlatform> platform;
    std::unique_ptr<CameraLink> link;
    std::vector<std::uint8_t> image;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Bench bench;
    const auto file = bench.folder / "sn.txt";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    FirmwareImage image;
    image.assign(bench.image);
    CollectedSerialNumberOutput output;
    const int writeToISerial = size > 0 ? data[0] & 1 : 0;
    // The file as a station's serial numbers take it: read, reserved, placed
    // into the image, and the file advanced for a pass.
    SerialNumberAllocator serials(file, "sn.txt");
    const auto text = serials.take(output);
    if (text && inject_serial(image, *bench.link, *text, writeToISerial, output).ok()) {
        (void)image::fitsItsLayout(image.content());
        serials.confirm(*text, output);
    }
    if (text)
        (void)nextSerial(text->pattern, text->serial);
    return 0;
}
