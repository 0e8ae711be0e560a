#include "station/download_job.h"

#include "records/line_serials.h"
#include "records/station_history.h"

namespace tessell {

void chooseFlash(CameraLink& link, const FlashTypeChoice& setting, std::uint8_t& flashCode,
                 FlashChoice& choice) {
    switch (setting.kind) {
    case FlashTypeChoice::Kind::AskCamera: {
        FlashCode code = flash::kUnknown;
        link.IdentifyFlash(code);
        flashCode = code;
        break;
    }
    case FlashTypeChoice::Kind::Forced:
        flashCode = setting.code;
        break;
    case FlashTypeChoice::Kind::LeaveUnset:
        break;
    }
    show_flash_name(flashCode, choice);
}

SelectedCamera selectedCamera(std::unique_ptr<CameraLink> link, const ToolSettings& settings,
                              const UsbIdentity& identity) {
    SelectedCamera camera;
    camera.icType = link->GetIcType();
    FlashChoice choice;
    chooseFlash(*link, settings.flashType, camera.flashCode, choice);
    camera.familyIndex = static_cast<std::uint8_t>(choice.familyIndex);
    camera.vid = identity.vid;
    camera.pid = identity.pid;
    camera.address = identity.address;
    camera.link = std::move(link);
    return camera;
}

DownloadJob assembleDownloadJob(const ToolSettings& settings, const JobServices& services,
                                SelectedCamera camera, const FirmwareImage& image) {
    DownloadJob job;
    job.devices = services.devices;
    job.usb = services.usb;
    job.link = std::move(camera.link);
    job.image = image;
    job.camera = camera.icType;
    job.vid = camera.vid;
    job.pid = camera.pid;
    job.address = camera.address;
    job.flashCode = camera.flashCode;
    job.familyIndex = camera.familyIndex;
    job.serials = settings.burnSnFlag == 1 ? services.serials : nullptr;
    job.temporaryFolder = services.temporaryFolder;
    job.options.preview = settings.preview == 1;
    job.options.snAddr = settings.snAddr;
    // The station whose numbers come from elsewhere burns them without
    // moving the file on.
    job.options.advanceSerialOnPass =
        settings.settingsIndex != settingsIndexBurnSerial || !settings.lineDatabase.empty();
    job.options.rework = settings.reworkFlag == 1 && settings.settingsIndex == settingsIndexRework;
    job.options.moduleSetting = settings.isMCM == 1;
    job.options.romBurn = settings.romBurn == 1;
    job.options.timeout = settings.timeout;
    return job;
}

std::string lineStationName(const ToolSettings& settings) {
    return settings.station.empty() ? defaultStationName() : settings.station;
}

std::unique_ptr<SerialNumberSource> stationSerialNumbers(const ToolSettings& settings) {
    if (settings.burnSnFlag != 1)
        return nullptr;
    // In line mode every number comes from the line, never from the file.
    if (!settings.lineDatabase.empty())
        return std::make_unique<LineSerialSource>(settings.lineDatabase, lineStationName(settings),
                                                  settings.snFilePath, settings.snFile);
    return std::make_unique<SerialNumberAllocator>(settings.snFilePath, settings.snFile);
}

} // namespace tessell
