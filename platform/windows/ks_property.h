#pragma once

// Extension-Unit requests and topology of a kernel-streaming capture object
// (a DirectShow capture filter or a Media Foundation device source): node
// property requests through IKsControl with a KSP_NODE block, node types
// through IKsTopologyInfo.

#include "platform/capture_devices.h"
#include "platform/windows/com_ptr.h"

// In this order: ks.h needs windows.h, ksproxy.h needs ks.h.
#include <ks.h>
#include <ksproxy.h>
#include <windows.h>

namespace tessell::platform::windows {

// The identifier as Windows lays it out; both keep the first three fields
// little-endian, so the bytes are copied as they stand.
GUID toWindowsGuid(const Guid& guid);
Guid fromWindowsGuid(const GUID& guid);

// The node enumeration of a capture filter (vidcap.h, which MinGW lacks).
// The methods before get_NumNodes are never called here but hold their
// places in the table.
// Interface id {720D4AC0-7533-11D0-A5D6-28DB04C10000}.
struct IKsTopologyInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Category(DWORD index, GUID* category) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD index,
                                                         KSTOPOLOGY_CONNECTION* connection) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeName(DWORD node, WCHAR* name, DWORD bufferSize,
                                                   DWORD* nameLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD node, REFIID iid, void** object) = 0;
};

inline constexpr GUID kIidKsTopologyInfo = {
    0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// Node requests over a capture object's IKsControl. The driver answers a
// zero-length read (PropertyOp::Size) with ERROR_MORE_DATA and the control's
// length in the byte count; a read must come back whole.
class KsPropertyControl final : public PropertyControl {
public:
    explicit KsPropertyControl(ComPtr<IKsControl> control) : control_(std::move(control)) {}

    Status request(const Guid& propertySet, std::uint32_t selector, PropertyOp op,
                   std::uint32_t nodeId, std::span<std::uint8_t> data,
                   std::uint32_t& bytesReturned) override;

private:
    ComPtr<IKsControl> control_;
};

class KsTopology final : public Topology {
public:
    explicit KsTopology(ComPtr<IKsTopologyInfo> info) : info_(std::move(info)) {}

    Status nodeCount(std::uint32_t& count) override;
    Status nodeType(std::uint32_t node, Guid& type) override;

private:
    ComPtr<IKsTopologyInfo> info_;
};

} // namespace tessell::platform::windows
