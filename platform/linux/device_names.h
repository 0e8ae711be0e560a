#pragma once

// The device path by which the Linux backend names a capture node to the
// device code: the sysfs name of the USB interface the node hangs on and the
// node's name, "1-2.3:1.0/video0"; just the node's name ("video4") for nodes
// on other buses. The interface part lets a later bind tell that a node name
// has passed to another camera since the list was read.

#include "platform/linux/sysfs_usb.h"

#include <optional>
#include <string>
#include <string_view>

namespace tessell::platform {

// The device path of a capture node.
std::string capturePath(const VideoNode& node);

// The node name ("video0") a device path made by capturePath ends with.
std::optional<std::string> nodeNameOfPath(std::string_view path);

} // namespace tessell::platform
