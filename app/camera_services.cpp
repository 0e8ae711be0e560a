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

namespace {

class StationPowerStatus final : public platform::PowerStatus {
public:
    explicit StationPowerStatus(sim::SimPlatform& station) : station_(station) {}
    int acLineStatus() override {
        return station_.acLineStatus() ? platform::kAcOnline : platform::kAcOffline;
    }

private:
    sim::SimPlatform& station_;
};

} // namespace

std::unique_ptr<platform::PowerStatus> processPowerStatus() {
    if (!sim::simulationRequested())
        return platform::makeSystemPowerStatus();
    if (sim::SimPlatform* station = sim::processPlatform())
        return std::make_unique<StationPowerStatus>(*station);
    // Never the machine's line when a station was asked for.
    return nullptr;
}

} // namespace tessell
