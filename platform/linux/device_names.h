#pragma once

// The texts by which the device code names and matches a camera, made from
// what sysfs says about it. The device code finds the opened camera among
// the imaging devices by a key (the second "&" field of the third "\"
// component of an instance id) that must occur in the camera's device path,
// reads VID, PID and bcdDevice at fixed places of a hardware id, and tells a
// USB device by the letters "usb" after the four-character path prefix.
//
// For the VideoControl interface 1-2.3:1.0 of a camera 1209:000c, bcdDevice
// 0x0012, with its capture node video0:
//   device path  \\?\usb#vid_1209&pid_000c&mi_00#[1-2.3:1.0]#video0
//   instance id  usb\vid_1209&pid_000c&mi_00\1&[1-2.3:1.0]&0&0000   (key [1-2.3:1.0])
//   hardware id  USB\VID_1209&PID_000C&REV_0012&MI_00
//   hub id       1-2 (the sysfs name of the hub above), port 3
// The key is the interface's sysfs name in brackets: unique on the machine,
// stable while the cabling is, and bracketed so that the key of 1-2 never
// matches inside the path of 11-2 or 1-2.3. Nodes on other buses get
//   \\?\root#video4linux#video4
// which the device code does not take for USB.

#include "platform/linux/sysfs_usb.h"

#include <optional>
#include <string>
#include <string_view>

namespace tessell::platform {

std::string interfaceKey(std::string_view interfaceName);

// The device path of a capture node.
std::string capturePath(const VideoNode& node);

// The node name ("video0") a device path made by capturePath ends with.
std::optional<std::string> nodeNameOfPath(std::string_view path);

std::string instanceIdOf(const VideoControlInterface& interface);
std::string hardwareIdOf(const VideoControlInterface& interface);

} // namespace tessell::platform
