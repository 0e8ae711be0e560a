#include "app/list_command.h"

#include "app/camera_services.h"
#include "app/trace_output.h"
#include "common/json_text.h"
#include "common/text_format.h"
#include "common/trace.h"
#include "device/camera_link.h"
#include "device/flash_parts.h"
#include "device/ic_type.h"
#include "device/usb_identity.h"
#include "platform/device_path.h"

#include <cstdio>
#include <optional>
#include <ostream>

namespace tessell {

namespace {

using platform::DeviceListKind;

// Identity, hub, port and strings of the USB device that is this camera.
void readUsbLocation(platform::UsbLocation& usb, const CameraLink& link, ListedCamera& camera) {
    const Outcome<UsbIdentity> identity = GetUsbIdentity(usb, link);
    if (!identity.ok())
        return;
    camera.vid = identity->vid;
    camera.pid = identity->pid;
    camera.bcdDevice = identity->bcdDevice;
    camera.port = identity->address.port;
    camera.hub = identity->address.hub;
    camera.manufacturer = identity->manufacturer;
    camera.serial = identity->serialNumber;
}

void listKind(const platform::CameraServices& services, DeviceListKind kind,
              std::vector<ListedCamera>& cameras) {
    std::vector<platform::DeviceEntry> entries;
    if (services.devices->list(kind, entries) != status::kOk)
        return;
    const bool sensor = kind == DeviceListKind::SensorCamera;
    for (std::size_t position = 0; position < entries.size(); ++position) {
        const auto& entry = entries[position];
        if (!entry.devicePathRead || !entry.usb)
            continue;
        CameraLink link(*services.devices);
        if (!link.OpenCamera(chip::kAnyFamily, static_cast<int>(position), sensor ? 1 : 0).ok())
            continue;
        // The open takes the first suitable camera at or after the position:
        // another device means this one is not a camera of ours.
        if (link.device()->devicePath() != entry.devicePath)
            continue;

        ListedCamera camera;
        camera.list = sensor ? "sensor" : "video";
        camera.index = static_cast<int>(position);
        // The device's own name: the link calls every sensor camera "Sensor Camera".
        camera.friendlyName = entry.friendlyName;
        // Where it sits is read from the USB tree, not the camera; first, so
        // that the trace of the camera's reads below names its hub and port.
        readUsbLocation(*services.usb, link, camera);
        std::optional<trace::ScopedContext> traceTag;
        if (camera.port != 0)
            traceTag.emplace(trace::cameraTag(camera.hub, static_cast<unsigned>(camera.port)));
        camera.icType = link.GetIcType();
        camera.chipName = std::string(chip::icTypeName(camera.icType));
        std::uint8_t chipId = 0;
        if (link.ReadRegister(chip::kChipIdRegister, chipId) == status::kOk)
            camera.chipId = chipId;
        FlashCode code = flash::kUnknown;
        if (link.IdentifyFlash(code) == status::kOk && code != flash::kUnknown) {
            camera.flashCode = code;
            if (const auto* part = flash::findPartName(code))
                camera.flashName = std::string(part->name);
        }
        cameras.push_back(std::move(camera));
    }
}

void printTable(const std::vector<ListedCamera>& cameras, std::ostream& out) {
    for (const auto& camera : cameras) {
        out << camera.list << ' ' << camera.index << ": " << camera.friendlyName << "\n"
            << "    chip " << chip::letter(camera.icType) << " (" << camera.chipName << ")";
        if (camera.chipId >= 0) {
            char id[16];
            std::snprintf(id, sizeof id, "0x%02X", camera.chipId);
            out << ", chip id " << id;
        }
        out << "\n    USB " << hex4(camera.vid) << ':' << hex4(camera.pid) << " bcdDevice "
            << hex4(camera.bcdDevice) << ", hub " << (camera.hub.empty() ? "?" : camera.hub)
            << " port " << camera.port << "\n";
        if (!camera.manufacturer.empty() || !camera.serial.empty())
            out << "    manufacturer \"" << camera.manufacturer << "\", serial \"" << camera.serial
                << "\"\n";
        if (camera.flashCode >= 0) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%02X", camera.flashCode);
            out << "    flash " << code << ' ' << camera.flashName << "\n";
        } else {
            out << "    flash not identified\n";
        }
    }
    out << cameras.size() << (cameras.size() == 1 ? " camera\n" : " cameras\n");
}

} // namespace

std::vector<ListedCamera> listCameras(const platform::CameraServices& services) {
    std::vector<ListedCamera> cameras;
    if (!services)
        return cameras;
    listKind(services, DeviceListKind::VideoInput, cameras);
    listKind(services, DeviceListKind::SensorCamera, cameras);
    return cameras;
}

nlohmann::ordered_json listJson(const std::vector<ListedCamera>& cameras) {
    auto array = nlohmann::ordered_json::array();
    for (const auto& camera : cameras) {
        nlohmann::ordered_json item;
        item["list"] = camera.list;
        item["index"] = camera.index;
        item["friendlyName"] = camera.friendlyName;
        item["icType"] = std::string(1, chip::letter(camera.icType));
        item["chipName"] = camera.chipName;
        item["chipId"] = camera.chipId >= 0 ? nlohmann::ordered_json(camera.chipId) : nullptr;
        item["vid"] = camera.vid;
        item["pid"] = camera.pid;
        item["bcdDevice"] = camera.bcdDevice;
        item["hub"] = camera.hub;
        item["port"] = camera.port;
        item["manufacturer"] = camera.manufacturer;
        item["serial"] = camera.serial;
        item["flashCode"] =
            camera.flashCode >= 0 ? nlohmann::ordered_json(camera.flashCode) : nullptr;
        item["flashName"] = camera.flashName;
        array.push_back(std::move(item));
    }
    return array;
}

std::string listJsonText(const std::vector<ListedCamera>& cameras) {
    return jsonText(listJson(cameras), 2);
}

int runListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    for (const auto& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (arg != kTraceOption) { // the trace is the caller's to start
            err << "tessell list: unknown argument \"" << arg << "\"\n"
                << "usage: tessell list [--json] [-v]\n";
            return kListError;
        }
    }
    std::string error;
    const platform::CameraServices services = processCameraServices(error);
    if (!services) {
        err << "tessell list: " << error << "\n";
        return kListError;
    }
    const auto cameras = listCameras(services);
    // Nodes the backend saw but could not use (a permission, a missing node).
    for (const auto& problem : services.devices->listProblems())
        err << "tessell list: " << problem << "\n";
    if (json)
        out << listJsonText(cameras) << "\n";
    else
        printTable(cameras, out);
    if (cameras.empty()) {
        err << "tessell list: no camera found\n";
        return kListNoCamera;
    }
    return kListFoundCameras;
}

} // namespace tessell
