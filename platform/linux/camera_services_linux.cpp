#include "platform/camera_services.h"

namespace tessell::platform {

// Real cameras on Linux (V4L2 and the uvcvideo Extension-Unit controls) are
// not served by this build yet; the simulated cameras are.
CameraServices hostCameraServices(std::string& error) {
    error = "real cameras are not supported by this build yet; set TESSELL_SIM to a station "
            "file to use simulated cameras";
    return {};
}

} // namespace tessell::platform
