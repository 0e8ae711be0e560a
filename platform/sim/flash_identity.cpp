#include "platform/sim/flash_identity.h"

#include "download/firmware_image.h"

#include <algorithm>

namespace tessell::sim {

bool isBootable(std::span<const std::uint8_t> flash) {
    if (flash.size() < 2)
        return false;
    return (flash[0] == 0x55 && flash[1] == 0x90) || image::hasPointerTable(flash);
}

SimUsbIdentity identityFromFlash(std::span<const std::uint8_t> flash, IcType camera,
                                 const RomIdentity& rom) {
    SimUsbIdentity identity{rom.vid, rom.pid, rom.bcd, rom.manufacturer, rom.product, rom.serial};
    if (!isBootable(flash))
        return identity;

    // Exactly what loading a file of this content gives, the 0xFF fill of a
    // fresh image buffer beyond a small flash included.
    FirmwareImage loaded;
    loaded.assign(flash.first(std::min(flash.size(), image::kBufferSize)));
    if (loaded.vid() != 0)
        identity.vid = loaded.vid();
    if (loaded.pid() != 0)
        identity.pid = loaded.pid();
    if (loaded.bcdDevice() != 0)
        identity.bcdDevice = loaded.bcdDevice();

    if (const auto offset = image::cameraStringBlockOffset(flash, camera)) {
        if (auto text = image::decodeStringBlock(flash, *offset))
            identity.manufacturer = std::move(*text);
        if (auto text = image::decodeStringBlock(flash, *offset + image::kSerialBlockDistance))
            identity.serial = std::move(*text);
    }
    return identity;
}

} // namespace tessell::sim
