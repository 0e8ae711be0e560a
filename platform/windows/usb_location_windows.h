#pragma once

// Where a camera sits on the USB tree, from the configuration manager's
// device tree and the hub's I/O controls.
//
// A capture device's path (\\?\usb#vid_1209&pid_0004&mi_00#7&1a2b&0&0000#{...}\global)
// names its interface's device instance. Going up the tree from there, the
// first USB node that is not one interface of a composite device is the USB
// device itself; its parent is the hub it hangs on, whose instance identifier
// is the hub id text ("USB\VID_1209&PID_0002\6&2F1B2C3&0&3"). The port is
// the hub's connection index whose driver key is the device's driver key;
// the device descriptor and strings come from that connection. When the hub
// cannot be asked, the device's address property gives the port and its
// hardware id the VID, PID and bcdDevice, and the strings stay empty.

#include "platform/usb_location.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

namespace tessell::platform::windows {

// The hub I/O controls, as DeviceIoControl on a handle opened with
// CreateFileW. Tests answer them from recorded data.
class UsbIo {
public:
    virtual ~UsbIo() = default;
    // INVALID_HANDLE_VALUE when the hub cannot be opened.
    virtual HANDLE open(const std::wstring& path) = 0;
    virtual void close(HANDLE handle) = 0;
    virtual bool control(HANDLE handle, DWORD code, const void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD& returned) = 0;
};

// The configuration manager's device tree. A node is a DEVINST.
class DeviceTree {
public:
    using Node = DWORD;
    virtual ~DeviceTree() = default;
    // The present node of this instance identifier.
    virtual std::optional<Node> find(const std::wstring& instanceId) = 0;
    virtual std::optional<Node> parent(Node node) = 0;
    virtual std::optional<std::wstring> instanceId(Node node) = 0;
    // The driver key (CM_DRP_DRIVER), the first hardware id, the address.
    virtual std::optional<std::wstring> driverKey(Node node) = 0;
    virtual std::optional<std::wstring> hardwareId(Node node) = 0;
    virtual std::optional<DWORD> address(Node node) = 0;
    // The path of the hub interface of a hub node.
    virtual std::optional<std::wstring> hubInterfacePath(Node hub) = 0;
    // The present imaging devices in the system's order; none when the list
    // cannot be made.
    virtual std::optional<std::vector<Node>> imagingDevices() = 0;
};

// "usb\vid_1209&pid_0004&mi_00\7&1a2b&0&0000" for an interface path as
// device lists and notifications give it; none for anything else.
std::optional<std::wstring> instanceIdOfInterfacePath(std::wstring_view path);

// VID, PID and bcdDevice of a hardware id USB\VID_vvvv&PID_pppp&REV_rrrr...
struct HardwareIdentity {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
};
std::optional<HardwareIdentity> parseHardwareId(std::wstring_view hardwareId);

std::unique_ptr<UsbLocation> makeUsbLocation(std::shared_ptr<DeviceTree> tree,
                                             std::shared_ptr<UsbIo> io);

// Over the configuration manager, the device-setup class lists and the
// system's hub drivers.
std::unique_ptr<UsbLocation> makeSetupApiUsbLocation();

} // namespace tessell::platform::windows
