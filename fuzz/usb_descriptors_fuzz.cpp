// The Linux backend's walk over a USB device's raw descriptors (sysfs
// "descriptors"), which the device sent when it enumerated.

#include "fuzz_input.h"
#include "platform/linux/usb_descriptors.h"

using namespace tessell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const std::uint8_t configuration = input.byte();
    const std::uint8_t interfaceNumber = input.byte();
    const auto scan = platform::scanDescriptors(input.rest(), configuration);
    for (const auto& unit : platform::unitsOfInterface(scan, interfaceNumber))
        for (std::uint32_t selector = 0; selector <= 256; selector += 7)
            (void)unit.advertises(selector);
    return 0;
}
