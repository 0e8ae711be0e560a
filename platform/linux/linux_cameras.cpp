#include "platform/linux/linux_cameras.h"

#include "common/trace.h"
#include "platform/linux/device_names.h"
#include "platform/linux/uvc_capture_device.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <system_error>

namespace tessell::platform {

namespace {

namespace fs = std::filesystem;

// What sysfs says of a USB device, as the device code takes it.
UsbDeviceInfo deviceInfo(const UsbDevice& device) {
    UsbDeviceInfo info;
    info.address = {parentHubName(device.path),
                    static_cast<std::uint16_t>(device.path.ports.back())};
    info.vid = device.vid;
    info.pid = device.pid;
    info.bcdDevice = device.bcdDevice;
    info.manufacturer = device.manufacturer;
    info.serialNumber = device.serial;
    return info;
}

// The group owning a node, for the permission message.
std::string nodeGroup(const fs::path& node) {
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0)
        return "video";
    group entry{};
    group* result = nullptr;
    char buffer[4096];
    if (::getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &result) != 0 || !result)
        return "video";
    return result->gr_name;
}

std::string cameraName(const VideoNode& node) {
    if (!node.usb)
        return {};
    return node.usb->product.empty() ? node.usb->name : node.usb->product;
}

} // namespace

std::string permissionProblem(const fs::path& node, std::string_view camera,
                              std::string_view group) {
    std::string text = "cannot open " + node.string();
    if (!camera.empty())
        text += " (" + std::string(camera) + ")";
    text += ": permission denied; the node belongs to group \"" + std::string(group) + "\". ";
    const std::string joinVideo =
        "add your account to group video (sudo usermod -aG video $USER, then log in again)";
    if (group == "video")
        return text + "Fix: " + joinVideo;
    // Only the rule brings the node into group video here.
    return text +
           "Fix: install the udev rule 70-tessell-camera.rules, which gives USB camera "
           "nodes to group video (sudo cmake --install <build folder>, then sudo udevadm "
           "control --reload and sudo udevadm trigger), and " +
           joinVideo;
}

std::string nodeOpenProblem(const fs::path& node, std::string_view camera, int error) {
    if (error == EACCES || error == EPERM)
        return permissionProblem(node, camera, nodeGroup(node));
    if (error == ENOENT)
        return node.string() + " does not exist although sysfs lists " + node.filename().string() +
               " (is /dev managed by udev here?)";
    if (error == ENODEV || error == ENXIO) // gone in the meantime: nothing to say
        return {};
    return "cannot open " + node.string() + ": " + std::generic_category().message(error);
}

LinuxCameras::LinuxCameras(fs::path sysRoot, fs::path devRoot, std::unique_ptr<V4l2Opener> opener)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)), opener_(std::move(opener)) {}

std::unique_ptr<V4l2Node> LinuxCameras::openNode(const VideoNode& node, NodeCapabilities& caps,
                                                 std::string& problem) {
    const fs::path path = devRoot_ / node.name;
    int error = 0;
    auto opened = opener_->open(path, error);
    if (!opened) {
        problem = nodeOpenProblem(path, cameraName(node), error);
        return nullptr;
    }
    if (const int capsError = opened->queryCapabilities(caps); capsError != 0) {
        if (capsError != ENODEV)
            problem = path.string() + " does not answer as a video device: " +
                      std::generic_category().message(capsError);
        return nullptr;
    }
    return opened;
}

Status LinuxCameras::list(DeviceListKind kind, std::vector<DeviceEntry>& entries) {
    entries.clear();
    if (kind != DeviceListKind::VideoInput)
        return status::kNothingDone; // no sensor-camera category here
    std::vector<std::string> problems;
    std::string lastRefused; // interface of the last node with a problem
    for (const auto& node : listVideoNodes(sysRoot_)) {
        NodeCapabilities caps;
        std::string problem;
        auto opened = openNode(node, caps, problem);
        if (!opened) {
            // A camera's capture and metadata nodes fail alike: one line per camera.
            const bool sameCamera = node.usb && node.interfaceName == lastRefused;
            if (!problem.empty() && !sameCamera) {
                problems.push_back(std::move(problem));
                lastRefused = node.usb ? node.interfaceName : std::string();
            }
            continue;
        }
        // uvcvideo gives each camera a second node for metadata; it takes no
        // Extension-Unit requests.
        if ((caps.deviceCaps & kCapVideoCapture) == 0)
            continue;
        const std::string name = caps.card.empty() ? cameraName(node) : caps.card;
        entries.push_back({capturePath(node), true, name, node.usb.has_value()});
    }
    {
        std::lock_guard lock(problemsMutex_);
        problems_ = std::move(problems);
    }
    return entries.empty() ? status::kNothingDone : status::kOk;
}

std::vector<std::string> LinuxCameras::listProblems() {
    std::lock_guard lock(problemsMutex_);
    return problems_;
}

std::unique_ptr<CaptureDevice> LinuxCameras::bind(DeviceListKind kind, std::size_t,
                                                  const DeviceEntry& entry) {
    if (kind != DeviceListKind::VideoInput)
        return nullptr;
    const auto node = listedNode(entry.devicePath);
    if (!node)
        return nullptr;
    NodeCapabilities caps;
    std::string problem;
    auto opened = openNode(*node, caps, problem);
    if (!opened) {
        if (!problem.empty())
            trace::write(problem);
        return nullptr;
    }
    if ((caps.deviceCaps & kCapVideoCapture) == 0)
        return nullptr;
    std::vector<ExtensionUnit> units;
    if (node->usb) {
        const DescriptorScan scan = scanDeviceDescriptors(*node->usb);
        if (!scan.fault.empty())
            trace::writef("%s: USB descriptors of %s: %s", node->name.c_str(),
                          node->usb->name.c_str(), scan.fault.c_str());
        units = unitsOfInterface(scan, node->interfaceNumber);
    }
    return std::make_unique<UvcCaptureDevice>(std::move(opened), node->name, std::move(units));
}

std::optional<VideoNode> LinuxCameras::listedNode(std::string_view devicePath) const {
    const auto name = nodeNameOfPath(devicePath);
    if (!name)
        return std::nullopt;
    // The node name may have passed to another camera since the list was read.
    auto node = readVideoNode(sysRoot_, *name);
    if (!node || capturePath(*node) != devicePath)
        return std::nullopt;
    return node;
}

std::optional<fs::path> LinuxCameras::captureNodeFile(std::string_view devicePath) const {
    if (const auto node = listedNode(devicePath))
        return devRoot_ / node->name;
    return std::nullopt;
}

std::optional<UsbDeviceInfo> LinuxCameras::locate(std::string_view devicePath) {
    const auto node = listedNode(devicePath);
    if (!node || !node->usb || node->usb->path.ports.empty())
        return std::nullopt;
    return deviceInfo(*node->usb);
}

Status LinuxCameras::imagingDevices(std::vector<UsbDeviceInfo>& devices) {
    devices.clear();
    std::error_code error;
    if (!fs::is_directory(sysRoot_ / "bus/usb/devices", error))
        return status::kNothingDone;
    for (const auto& interface : listVideoControlInterfaces(sysRoot_))
        if (!interface.device.path.ports.empty())
            devices.push_back(deviceInfo(interface.device));
    return status::kOk;
}

} // namespace tessell::platform
