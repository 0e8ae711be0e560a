#include "platform/camera_services.h"
#include "platform/linux/linux_cameras.h"
#include "platform/linux/udev_hotplug.h"

namespace tessell::platform {

CameraServices hostCameraServices(std::string& error) {
    // Built on first use: a process that only reads settings never starts
    // the hotplug thread or touches a node.
    static LinuxCameras cameras(kSysRoot, "/dev", makeSystemV4l2Opener());
    static UdevHotplug hotplug;
    error.clear();
    return {&cameras, &cameras, &hotplug};
}

} // namespace tessell::platform
