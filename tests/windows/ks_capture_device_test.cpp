// Windows only: the Linux test program globs tests/ as a whole.
#ifdef _WIN32

#include "device/xu_channel.h"
#include "device/xu_protocol.h"
#include "platform/windows/com_apartment.h"
#include "platform/windows/dshow_devices.h"
#include "platform/windows/hresult_status.h"
#include "platform/windows/ks_capture_device.h"
#include "tests/support/extension_unit_guids.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <vector>

namespace tessell::platform::windows {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Reference counting shared by the fakes. A count that would drop below
// zero is an over-release: it is recorded, never underflows.
template <typename Interface> class Counted : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (refs == 0) {
            overReleased = true;
            return 0;
        }
        return --refs;
    }
    ULONG refs = 1; // the test's own reference
    bool overReleased = false;

protected:
    HRESULT answer(REFIID iid, const IID& own, void** object) {
        if (iid == IID_IUnknown || iid == own) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
};

// A camera's XU node as its driver answers it: node 2 under the fallback
// set, a register file behind selectors 2 and 3, a one-byte probe on 11 and
// a 512-byte block on 10.
class FakeKsControl : public Counted<IKsControl> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return answer(iid, IID_IKsControl, object);
    }
    HRESULT STDMETHODCALLTYPE KsProperty(PKSPROPERTY property, ULONG length, void* data,
                                         ULONG dataLength, ULONG* returned) override {
        Bytes block(reinterpret_cast<std::uint8_t*>(property),
                    reinterpret_cast<std::uint8_t*>(property) + length);
        blocks.push_back(block);
        dataLengths.push_back(data ? dataLength : 0);
        *returned = 0;
        KSP_NODE node;
        std::memcpy(&node, block.data(), std::min<std::size_t>(length, sizeof node));
        if (Guid{fromWindowsGuid(node.Property.Set)} != XU_PROPSET_FALLBACK || node.NodeId != 2)
            return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
        if (failWith != S_OK)
            return failWith;
        const auto* bytes = static_cast<std::uint8_t*>(data);
        const bool get = node.Property.Flags == (KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_TOPOLOGY);
        switch (node.Property.Id) {
        case XU_REG_ADDRESS:
            address = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
            return S_OK;
        case XU_REG_DATA:
            if (!get) {
                registers[address] = bytes[0];
                return S_OK;
            }
            static_cast<std::uint8_t*>(data)[0] = registers[address];
            *returned = answerLength.value_or(1);
            return S_OK;
        case XU_DFU_ACCESS_CONTROL:
            if (dataLength != 0)
                return E_INVALIDARG;
            *returned = 512;
            return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
        case XU_DFU_CHECKSUM:
            static_cast<std::uint8_t*>(data)[0] = 0;
            *returned = 1;
            return S_OK;
        default:
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
    }
    HRESULT STDMETHODCALLTYPE KsMethod(PKSMETHOD, ULONG, void*, ULONG, ULONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE KsEvent(PKSEVENT, ULONG, void*, ULONG, ULONG*) override {
        return E_NOTIMPL;
    }

    std::vector<Bytes> blocks;
    std::vector<ULONG> dataLengths;
    std::map<std::uint16_t, std::uint8_t> registers{{0x20FF, 0x95}};
    std::uint16_t address = 0;
    std::optional<ULONG> answerLength; // what a faulty driver says it returned
    HRESULT failWith = S_OK;
};

class FakeTopology : public Counted<IKsTopologyInfo> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return answer(iid, kIidKsTopologyInfo, object);
    }
    HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Category(DWORD, GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD, KSTOPOLOGY_CONNECTION*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_NodeName(DWORD, WCHAR*, DWORD, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) override {
        *count = 3;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) override {
        // A camera terminal, a processing unit, then the Extension Unit.
        static const Guid types[] = {*Guid::parse("{DFF229E1-F70F-11D0-B917-00A0C9223196}"),
                                     *Guid::parse("{DFF229E5-F70F-11D0-B917-00A0C9223196}"),
                                     kNodeTypeDevSpecific};
        if (node >= 3)
            return E_INVALIDARG;
        *type = toWindowsGuid(types[node]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD, REFIID, void**) override {
        return E_NOTIMPL;
    }
};

// The driver's vendor interface: remembers the command, answers a read with
// a full 4096-byte block whatever buffer it was given.
class FakeVendor : public Counted<IVendorPropertyInterface> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return answer(iid, kIidVendorPropertyInterface, object);
    }
    HRESULT STDMETHODCALLTYPE Unused() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Get(ULONG id, void* buffer) override {
        if (id != 35)
            return E_INVALIDARG;
        std::memset(buffer, 0xA5, kXuMaxTransfer);
        static_cast<std::uint8_t*>(buffer)[0] = 0x95;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Set(ULONG id, void* buffer) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        commands.emplace_back(bytes, bytes + 6);
        return id == 35 ? S_OK : E_INVALIDARG;
    }
    std::vector<Bytes> commands;
};

// A capture filter offering the interfaces it was given.
class FakeFilter : public Counted<IUnknown> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        IUnknown* offered = nullptr;
        if (iid == IID_IUnknown)
            offered = this;
        else if (iid == IID_IKsControl)
            offered = control;
        else if (iid == kIidKsTopologyInfo)
            offered = topology;
        else if (iid == kIidVendorPropertyInterface)
            offered = vendor;
        *object = offered;
        if (!offered)
            return E_NOINTERFACE;
        offered->AddRef();
        return S_OK;
    }
    IKsControl* control = nullptr;
    IKsTopologyInfo* topology = nullptr;
    IVendorPropertyInterface* vendor = nullptr;
};

std::uint32_t field32(const Bytes& block, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, block.data() + at, 4);
    return value;
}

TEST(KsCaptureDevice, DrivesTheXuNodeWithKspNodeBlocksAndGivesEveryReferenceBack) {
    FakeKsControl control;
    FakeTopology topology;
    FakeFilter filter;
    filter.control = &control;
    filter.topology = &topology;
    {
        KsCaptureDevice device(ComPtr<IUnknown>::share(&filter));
        ASSERT_NE(device.control(), nullptr);
        EXPECT_EQ(device.vendor(), nullptr);
        XuChannel channel;
        channel.setControl(device.control());
        channel.setMode(XU_MODE_KS);
        ASSERT_EQ(channel.FindXuNode(device.topology()), status::kOk);
        EXPECT_EQ(channel.nodeId(), 2u);
        EXPECT_EQ(channel.propertySet(), XU_PROPSET_FALLBACK);

        // Register 0x20FF through the node: address write, then data read.
        const std::uint8_t address[2] = {0xFF, 0x20};
        ASSERT_EQ(channel.put_Property(XU_REG_ADDRESS, address), status::kOk);
        const Bytes& write = control.blocks.back();
        std::uint8_t chipId = 0;
        ASSERT_EQ(channel.get_Property(XU_REG_DATA, std::span(&chipId, 1)), status::kOk);
        EXPECT_EQ(chipId, 0x95);
        const Bytes& read = control.blocks.back();

        ASSERT_EQ(read.size(), 32u);
        const Bytes fallbackSet(testing::kFallbackWire.begin(), testing::kFallbackWire.end());
        EXPECT_EQ(Bytes(read.begin(), read.begin() + 16), fallbackSet);
        EXPECT_EQ(field32(read, 16), std::uint32_t{XU_REG_DATA});
        EXPECT_EQ(field32(read, 20), 0x10000001u);
        EXPECT_EQ(field32(read, 24), 2u);
        EXPECT_EQ(field32(read, 28), 0u);
        EXPECT_EQ(field32(write, 16), std::uint32_t{XU_REG_ADDRESS});
        EXPECT_EQ(field32(write, 20), 0x10000002u);

        // The size of a control is the count of the driver's "more data".
        std::uint32_t size = 0;
        EXPECT_EQ(channel.get_PropertySize(XU_DFU_ACCESS_CONTROL, &size), status::kOk);
        EXPECT_EQ(size, 512u);
        EXPECT_EQ(control.dataLengths.back(), 0u);
        EXPECT_EQ(field32(control.blocks.back(), 20), 0x10000001u);

        // A driver that claims more or fewer bytes than the read asked for
        // has not answered it; the caller's byte stays as it was.
        for (ULONG claimed : {ULONG{0}, ULONG{5}}) {
            control.answerLength = claimed;
            std::uint8_t value = 0x11;
            EXPECT_TRUE(status::failed(channel.get_Property(XU_REG_DATA, std::span(&value, 1))));
            EXPECT_EQ(value, 0x11);
        }
        // A camera that left the bus answers the value the download code knows.
        control.failWith = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(channel.put_Property(XU_REG_ADDRESS, address), status::kDeviceGone);
    }
    for (ULONG refs : {filter.refs, control.refs, topology.refs})
        EXPECT_EQ(refs, 1u);
    EXPECT_FALSE(filter.overReleased || control.overReleased || topology.overReleased);
}

TEST(KsCaptureDevice, VendorInterfaceNeverLetsTheDriverWriteBeyondTheCallersBuffer) {
    FakeKsControl control;
    FakeVendor vendor;
    FakeFilter filter;
    filter.control = &control;
    filter.vendor = &vendor;
    {
        KsCaptureDevice device(ComPtr<IUnknown>::share(&filter));
        EXPECT_EQ(device.topology(), nullptr);
        ASSERT_NE(device.vendor(), nullptr);
        XuChannel channel;
        channel.setControl(device.control());
        channel.setMode(XU_MODE_VENDOR);
        channel.SetVendorInterface(device.vendor());

        // The size query hands Get an 8-byte buffer; the driver writes 4096.
        std::uint32_t size = 0;
        EXPECT_EQ(channel.get_PropertySize(XU_SF_DATA_4K, &size), status::kOk);
        EXPECT_EQ(size, 0xA595u);
        const std::uint8_t address[2] = {0xFF, 0x20};
        EXPECT_EQ(channel.put_Property(XU_REG_ADDRESS, address), status::kOk);
        EXPECT_EQ(vendor.commands.back(), (Bytes{0x02, 0x00, 0x01, 0x02, 0xFF, 0x20}));

        std::array<std::uint8_t, 6> answer{};
        answer.fill(0x33);
        EXPECT_EQ(device.vendor()->get(35, std::span(answer).first(2)), status::kOk);
        EXPECT_EQ(answer, (std::array<std::uint8_t, 6>{0x95, 0xA5, 0x33, 0x33, 0x33, 0x33}));

        // A write word announcing more data than given never reaches the driver.
        const std::size_t sent = vendor.commands.size();
        const std::uint8_t shortWrite[5] = {0x04, 0x00, 0x01, 0x0F, 0x00};
        EXPECT_EQ(device.vendor()->set(35, shortWrite), status::kInvalidArgument);
        EXPECT_EQ(vendor.commands.size(), sent);
    }
    for (ULONG refs : {filter.refs, control.refs, vendor.refs})
        EXPECT_EQ(refs, 1u);
    EXPECT_FALSE(filter.overReleased || control.overReleased || vendor.overReleased);
}

TEST(DirectShowDevices, ListsWithoutCamerasAreEmptyAndLeaveTheThreadsComAsFound) {
    // Wine, like Windows, has Media Foundation: the sensor-camera list is
    // really walked, not skipped for want of its entry points.
    ASSERT_NE(mediaFoundation(), nullptr);
    const auto devices = makeDirectShowDevices();
    for (auto kind : {DeviceListKind::VideoInput, DeviceListKind::SensorCamera}) {
        std::vector<DeviceEntry> entries{{"stale", true, "Stale", true}};
        EXPECT_EQ(devices->list(kind, entries), status::kNothingDone);
        EXPECT_TRUE(entries.empty());
        const DeviceEntry gone{"\\\\?\\usb#vid_1209&pid_0003&mi_00#7&1b2c3d&0&0000#"
                               "{e5323777-f976-4f5b-9b55-b94699c46e44}\\global",
                               true, "Tessell Bench Cam", true};
        EXPECT_EQ(devices->bind(kind, 0, gone), nullptr);
    }
    // Had a call left the thread in the multithreaded apartment, this would
    // answer RPC_E_CHANGED_MODE (or S_FALSE).
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(hr, S_OK);
    if (SUCCEEDED(hr))
        CoUninitialize();

    EXPECT_EQ(statusFromHresult(HRESULT_FROM_WIN32(ERROR_BUSY)), status::kNotReady);
    EXPECT_EQ(statusFromHresult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), status::kNotFound);
    EXPECT_EQ(statusFromHresult(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND)), status::kSetNotFound);
    EXPECT_EQ(statusFromHresult(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)),
              static_cast<Status>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)));
    EXPECT_EQ(toWindowsGuid(kSensorCameraCategory).Data1, 0x24E552D7u);
}

} // namespace
} // namespace tessell::platform::windows

#endif // _WIN32
