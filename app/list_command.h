#pragma once

// `tessell list [--json]`: every camera the tool's discovery finds, in list
// order, with what the tool reads from it. For operators checking a station
// and for scripts (the JSON shape is kept stable for them).

#include "device/ic_type.h"
#include "platform/camera_services.h"

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tessell {

// Exit statuses of the list command.
constexpr int kListFoundCameras = 0;
constexpr int kListNoCamera = 1;
constexpr int kListError = 2; // bad arguments, or no camera services

struct ListedCamera {
    std::string list; // "video" or "sensor"
    int index = 0;    // position in that list
    std::string friendlyName;
    IcType icType = chip::kUndetected;
    std::string chipName;
    int chipId = -1; // -1 when the chip register could not be read
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    std::string hub;
    int port = 0;
    std::string manufacturer;
    std::string serial;
    int flashCode = -1; // -1 when the flash could not be identified
    std::string flashName;
};

// Opens each camera of both lists in turn and reads its identity. Devices
// that are not USB cameras of a supported family are left out.
std::vector<ListedCamera> listCameras(const platform::CameraServices& services);

nlohmann::ordered_json listJson(const std::vector<ListedCamera>& cameras);
// The listing as `tessell list --json` prints it, whatever bytes a camera's
// name or strings hold.
std::string listJsonText(const std::vector<ListedCamera>& cameras);

// args are the words after "list".
int runListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tessell
