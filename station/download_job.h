#pragma once

// A download job made from the settings and a selected camera: the one
// place that decides what a download does with the settings, for every tool
// that burns cameras.

#include "device/usb_identity.h"
#include "download/download_worker.h"
#include "download/flash_access.h"
#include "station/settings.h"

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

// The flash part a download of the camera on `link` uses, as `SFType`
// decides: asked of the camera, forced by the setting, or left as it was
// (`flashCode` keeps its earlier value). `choice` gets the part's name and
// family index; an unknown part leaves it as it was.
void chooseFlash(CameraLink& link, const FlashTypeChoice& setting, std::uint8_t& flashCode,
                 FlashChoice& choice);

// A camera opened on `link` and found on the USB tree as `identity`, made
// ready for a download with the settings' flash choice.
SelectedCamera selectedCamera(std::unique_ptr<CameraLink> link, const ToolSettings& settings,
                              const UsbIdentity& identity);

struct JobServices {
    platform::CaptureDevices* devices = nullptr;
    platform::UsbLocation* usb = nullptr;
    std::filesystem::path temporaryFolder;
    // The station's serial numbers; null when serial-number burning is off.
    SerialNumberSource* serials = nullptr;
};

DownloadJob assembleDownloadJob(const ToolSettings& settings, const JobServices& services,
                                SelectedCamera camera, const FirmwareImage& image);

// This station's name on the line: `[LINE] Station=`, else the host name.
std::string lineStationName(const ToolSettings& settings);

// The serial numbers of a station that burns them: from the line database
// in line mode, else from the file its settings name; null when it burns
// none.
std::unique_ptr<SerialNumberSource> stationSerialNumbers(const ToolSettings& settings);

} // namespace tessell
