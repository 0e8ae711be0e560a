#pragma once

// A download job made from the settings and a selected camera: the one
// place that decides what a download does with the settings, for every tool
// that burns cameras.

#include "app/settings.h"
#include "download/download_worker.h"

#include <filesystem>
#include <memory>

namespace tessell {

// A camera as its selection left it.
struct SelectedCamera {
    std::unique_ptr<CameraLink> link;
    IcType icType = chip::kUndetected;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    platform::UsbAddress address;
    std::uint8_t flashCode = 0;
    std::uint8_t familyIndex = 0;
};

struct JobServices {
    platform::CaptureDevices* devices = nullptr;
    platform::UsbLocation* usb = nullptr;
    std::filesystem::path temporaryFolder;
    // The station's serial numbers; null when serial-number burning is off.
    SerialNumberAllocator* serials = nullptr;
};

DownloadJob assembleDownloadJob(const ToolSettings& settings, const JobServices& services,
                                SelectedCamera camera, const FirmwareImage& image);

// The serial numbers of a station that burns them: from the file its
// settings name; null when it burns none.
std::unique_ptr<SerialNumberAllocator> stationSerialNumbers(const ToolSettings& settings);

} // namespace tessell
