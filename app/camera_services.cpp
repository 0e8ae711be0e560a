#include "app/camera_services.h"

#include "platform/sim/sim_platform.h"

namespace tessell {

platform::CameraServices processCameraServices(std::string& error) {
    if (!sim::simulationRequested())
        return platform::hostCameraServices(error);
    std::string reason;
    sim::SimPlatform* station = sim::processPlatform(&reason);
    if (!station) {
        error = "TESSELL_SIM: " + reason;
        return {};
    }
    return {station, station, station};
}

} // namespace tessell
