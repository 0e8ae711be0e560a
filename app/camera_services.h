#pragma once

// Which cameras the process talks to: the simulated station TESSELL_SIM
// names, or else the machine's real cameras. With TESSELL_SIM set no real
// device is touched, even when the station file cannot be loaded.

#include "platform/camera_services.h"
#include "platform/power.h"

#include <memory>
#include <string>

namespace tessell {

// Opens the process's camera services on first use (a simulated station also
// sets the clock's time scale then). Empty, with `error` saying why, when
// they cannot be opened.
platform::CameraServices processCameraServices(std::string& error);

// The AC line the process goes by: the simulated station's when TESSELL_SIM
// is set, else the machine's.
std::unique_ptr<platform::PowerStatus> processPowerStatus();

} // namespace tessell
