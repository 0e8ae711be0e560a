#include "platform/camera_services.h"
#include "platform/frame_sources.h"
#include "platform/linux/linux_cameras.h"
#include "platform/linux/udev_hotplug.h"
#include "platform/linux/v4l2_frame_source.h"

namespace tessell::platform {

namespace {

// Built on first use: a process that only reads settings never touches a node.
LinuxCameras& hostCameras() {
    static LinuxCameras cameras(kSysRoot, "/dev", makeSystemV4l2Opener());
    return cameras;
}

} // namespace

CameraServices hostCameraServices(std::string& error) {
    // Nor does it start the hotplug thread.
    static UdevHotplug hotplug;
    error.clear();
    return {&hostCameras(), &hostCameras(), &hotplug};
}

std::unique_ptr<preview::FrameSources> hostFrameSources() {
    // The device list's own enumeration, so that the preview's camera n is
    // the list's camera n.
    return std::make_unique<V4l2FrameSources>(hostCameras(), makeSystemV4l2StreamOpener());
}

} // namespace tessell::platform
