#pragma once

// The device lists and USB location services over V4L2 and sysfs.
//
// The video-input list holds the capture nodes (a camera's metadata node is
// left out), USB cameras first in the order of their place on the USB tree,
// so that positions stay put while the cabling does; the sensor-camera list
// is always empty. The imaging devices are the USB VideoControl interfaces,
// in the same order. Device paths, instance ids and hardware ids are made as
// described in device_names.h.

#include "platform/capture_devices.h"
#include "platform/linux/sysfs_usb.h"
#include "platform/linux/v4l2_node.h"
#include "platform/usb_location.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tessell::platform {

// What an operator reads when a camera node may not be opened: the node, the
// group that owns it, and the two fixes.
std::string permissionProblem(const std::filesystem::path& node, std::string_view camera,
                              std::string_view group);

// What an operator reads when `node` of `camera` could not be opened with
// `error`; empty when the node simply went away (nothing to fix).
std::string nodeOpenProblem(const std::filesystem::path& node, std::string_view camera, int error);

class LinuxCameras final : public CaptureDevices, public UsbLocation {
public:
    LinuxCameras(std::filesystem::path sysRoot, std::filesystem::path devRoot,
                 std::unique_ptr<V4l2Opener> opener);

    Status list(DeviceListKind kind, std::vector<DeviceEntry>& entries) override;
    std::unique_ptr<CaptureDevice> bind(DeviceListKind kind, std::size_t position,
                                        const DeviceEntry& entry) override;
    std::vector<std::string> listProblems() override;

    // The node file of a capture device as `list` named it; none when the
    // node is gone or its name has since passed to another device.
    std::optional<std::filesystem::path> captureNodeFile(std::string_view devicePath) const;

    std::optional<UsbDeviceInfo> locate(std::string_view devicePath) override;
    Status imagingDevices(std::vector<UsbDeviceInfo>& devices) override;

private:
    std::optional<VideoNode> listedNode(std::string_view devicePath) const;
    // Opens the node and reads its capabilities; null (with `problem` set
    // when the operator should hear about it) when that fails.
    std::unique_ptr<V4l2Node> openNode(const VideoNode& node, NodeCapabilities& caps,
                                       std::string& problem);

    std::filesystem::path sysRoot_;
    std::filesystem::path devRoot_;
    std::unique_ptr<V4l2Opener> opener_;
    std::mutex problemsMutex_;
    std::vector<std::string> problems_;
};

} // namespace tessell::platform
