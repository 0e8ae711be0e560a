#include "device/camera_link.h"
#include "device/xu_protocol.h"
#include "tests/support/fake_camera.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using platform::DeviceListKind;
using platform::PropertyOp;
using testing::FakeCamera;
using testing::FakeCaptureDevices;
using testing::FakeDevice;
using Bytes = std::vector<std::uint8_t>;

FakeDevice usbCamera(std::shared_ptr<FakeCamera> camera, const std::string& key,
                     DeviceListKind list = DeviceListKind::VideoInput) {
    FakeDevice device;
    device.list = list;
    device.path = testing::usbDevicePath(key);
    device.camera = std::move(camera);
    return device;
}

bool opened(const CameraLink& link, const std::string& key) {
    return link.device() && link.device()->devicePath().find(key) != std::string::npos;
}

TEST(OpenCamera, IndexCountsEveryDeviceButOpensTheFirstUsbCameraFromThere) {
    FakeCaptureDevices devices;
    FakeDevice virtualCamera = usbCamera(std::make_shared<FakeCamera>(0xC0), "0000000");
    virtualCamera.path = "\\\\?\\root#image#0000#{e5323777-f976-4f5b-9b55-b94699c46e44}";
    devices.add(virtualCamera);
    devices.add(usbCamera(std::make_shared<FakeCamera>(0xC0), "aaaa111"));
    devices.add(usbCamera(std::make_shared<FakeCamera>(0x60), "bbbb222"));

    CameraLink link(devices);
    EXPECT_EQ(link.OpenCamera(IcType::e, 0, 0).status(), 0);
    EXPECT_TRUE(opened(link, "aaaa111"));
    EXPECT_EQ(link.OpenCamera(IcType::e, 1, 0).status(), 0);
    EXPECT_TRUE(opened(link, "aaaa111")) << "indexes 0 and 1 name the same camera";
    EXPECT_EQ(link.OpenCamera(IcType::e, 2, 0).status(), 0);
    EXPECT_TRUE(opened(link, "bbbb222"));
    EXPECT_EQ(link.OpenCamera(IcType::f, 0, 0).status(), 0);
    EXPECT_TRUE(opened(link, "bbbb222"));

    EXPECT_EQ(link.OpenCamera(IcType::e, 3, 0).status(), 1);
    EXPECT_EQ(link.device(), nullptr);
    EXPECT_EQ(link.channel(), nullptr);
    EXPECT_EQ(link.OpenCamera(IcType::d, 0, 0).status(), 160);
    EXPECT_EQ(link.OpenCamera(static_cast<IcType>(20), 0, 0).status(), 160) << "no family at all";
    EXPECT_EQ(link.OpenCamera(IcType::l, 0, 0).status(), 1);
}

TEST(OpenCamera, FamilyFilterAndDetectedFamily) {
    struct Row {
        std::uint8_t chipId;
        std::uint8_t variant;
        IcType filter;
        int result;
        IcType detected;
    };
    const Row rows[] = {
        {0xE3, 0x00, IcType::e, 0, IcType::k}, {0xE3, 0x00, IcType::k, 1, IcType::d},
        {0xC1, 0x00, IcType::k, 0, IcType::k}, {0xA0, 0x10, IcType::i, 0, IcType::d},
        {0xA0, 0x11, IcType::i, 0, IcType::i}, {0x60, 0x00, IcType::f, 0, IcType::f},
        {0x9F, 0x00, IcType::g, 0, IcType::g}, {0x80, 0x00, IcType::h, 0, IcType::h},
        {0xB0, 0x00, IcType::j, 0, IcType::j}, {0xD0, 0x00, IcType::m, 0, IcType::m},
        {0xD0, 0x00, IcType::k, 1, IcType::d}, {0x10, 0x00, IcType::e, 1, IcType::d},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << "chip " << int{row.chipId} << " filter " << row.filter);
        FakeCaptureDevices devices;
        devices.add(usbCamera(std::make_shared<FakeCamera>(row.chipId, row.variant), "1234567"));
        CameraLink link(devices);
        EXPECT_EQ(link.OpenCamera(row.filter, 0, 0).status(), row.result);
        if (row.result == 0) {
            EXPECT_EQ(link.GetIcType(), row.detected);
            // Chips 0x60 and 0x90 select their flash with 2, the others with 0.
            EXPECT_EQ(link.device()->spiCsValue(),
                      row.detected == IcType::f || row.detected == IcType::g ? 2 : 0);
        }
    }
}

TEST(OpenCamera, UsbPathTestTakesExactlyLowerOrUpperCase) {
    const std::pair<std::string, int> rows[] = {
        {testing::usbDevicePath("1234567", "usb"), 0},
        {testing::usbDevicePath("1234567", "USB"), 0},
        {testing::usbDevicePath("1234567", "Usb"), 1},
        {testing::usbDevicePath("1234567", "uSB"), 1},
        {"\\\\?\\us", 1},
    };
    for (const auto& [path, result] : rows) {
        FakeCaptureDevices devices;
        FakeDevice device = usbCamera(std::make_shared<FakeCamera>(), "x");
        device.path = path;
        devices.add(device);
        CameraLink link(devices);
        EXPECT_EQ(link.OpenCamera(IcType::e, 0, 0).status(), result) << path;
    }
}

TEST(OpenCamera, TransportFollowsWhatTheDeviceOffers) {
    struct Row {
        bool topology;
        bool vendor;
        int result;
        XuMode mode;
    };
    for (const Row& row :
         {Row{true, false, 0, XU_MODE_KS}, Row{true, true, 0, XU_MODE_KS_WITH_VENDOR},
          Row{false, true, 0, XU_MODE_VENDOR}, Row{false, false, 1, XU_MODE_UNBOUND}}) {
        FakeCaptureDevices devices;
        auto camera = std::make_shared<FakeCamera>(0xC0);
        FakeDevice device = usbCamera(camera, "1234567");
        device.topology = row.topology;
        device.vendor = row.vendor;
        devices.add(device);
        CameraLink link(devices);
        EXPECT_EQ(link.OpenCamera(IcType::e, 0, 0).status(), row.result);
        if (row.result == 0) {
            EXPECT_EQ(link.channel()->mode(), row.mode);
        }
        if (row.mode == XU_MODE_VENDOR) {
            // The chip byte is read through the driver's command words.
            const Bytes select = {0x02, 0x00, 0x01, 0x02, 0xFF, 0x20};
            const Bytes read = {0x01, 0x00, 0x81, 0x03, 0, 0, 0, 0};
            ASSERT_GE(camera->vendorSets.size(), 2u);
            EXPECT_EQ(camera->vendorSets[0], select);
            EXPECT_EQ(camera->vendorSets[1], read);
        }
    }

    // A camera passed over does not leave its transport to the next one.
    FakeCaptureDevices devices;
    FakeDevice foreign = usbCamera(std::make_shared<FakeCamera>(0x10), "1111111");
    foreign.topology = false;
    foreign.vendor = true;
    devices.add(foreign);
    devices.add(usbCamera(std::make_shared<FakeCamera>(0xC0), "2222222"));
    CameraLink link(devices);
    EXPECT_EQ(link.OpenCamera(IcType::e, 0, 0).status(), 0);
    EXPECT_TRUE(opened(link, "2222222"));
    EXPECT_EQ(link.channel()->mode(), XU_MODE_KS);
    EXPECT_EQ(link.device()->vendorInterface(), nullptr);
}

TEST(OpenCamera, SensorCameraList) {
    FakeCaptureDevices devices;
    devices.add(usbCamera(std::make_shared<FakeCamera>(0xC0), "vvvvvvv"));
    devices.add(
        usbCamera(std::make_shared<FakeCamera>(0x10), "fffffff", DeviceListKind::SensorCamera));
    FakeDevice sensor =
        usbCamera(std::make_shared<FakeCamera>(0xC0), "sssssss", DeviceListKind::SensorCamera);
    sensor.friendlyName = "Integrated Camera";
    devices.add(sensor);

    CameraLink link(devices);
    EXPECT_EQ(link.OpenCamera(IcType::e, 0, 1).status(), 0)
        << "a foreign sensor camera is passed over";
    EXPECT_TRUE(opened(link, "sssssss"));
    EXPECT_EQ(link.device()->friendlyName(), "Sensor Camera");
    EXPECT_EQ(link.OpenCameraVideoInput(IcType::e, 0).status(), 0);
    EXPECT_TRUE(opened(link, "vvvvvvv"));
    EXPECT_EQ(link.device()->friendlyName(), "USB Camera");

    devices.devices[1].bindable = false;
    EXPECT_EQ(link.OpenCamera(IcType::e, 0, 1).status(), 1)
        << "an activation failure ends the walk";
}

TEST(OpenCamera, EachCameraKeepsItsOwnChipSelect) {
    FakeCaptureDevices devices;
    auto first = std::make_shared<FakeCamera>(0x60);  // selects with 2
    auto second = std::make_shared<FakeCamera>(0xC0); // selects with 0
    devices.add(usbCamera(first, "1111111"));
    devices.add(usbCamera(second, "2222222"));
    CameraLink a(devices), b(devices);
    ASSERT_EQ(a.OpenCamera(IcType::f, 0, 0).status(), 0);
    ASSERT_EQ(b.OpenCamera(IcType::k, 0, 0).status(), 0);

    first->registerWrites.clear();
    EXPECT_EQ(a.device()->SpiWriteEnable(), status::kOk);
    Bytes chipSelects;
    for (const auto& [address, value] : first->registerWrites)
        if (address == 0x2025)
            chipSelects.push_back(value);
    EXPECT_EQ(chipSelects, (Bytes{2, 0}));
    EXPECT_EQ(first->spiFrames, (std::vector<Bytes>{{0x06}}));
}

TEST(CameraLinkRegisters, AddressThenDataAndAFailedAddressStopsTheAccess) {
    FakeCaptureDevices devices;
    auto camera = std::make_shared<FakeCamera>(0xC0);
    devices.add(usbCamera(camera, "1234567"));
    CameraLink link(devices);
    ASSERT_EQ(link.OpenCamera(IcType::e, 0, 0).status(), 0);

    camera->requests.clear();
    camera->registers[0x1234] = 0x5A;
    std::uint8_t value = 0;
    EXPECT_EQ(link.ReadRegister(0x1234, value), status::kOk);
    EXPECT_EQ(value, 0x5A);
    ASSERT_EQ(camera->requests.size(), 2u);
    EXPECT_EQ(camera->requests[0].data, (Bytes{0x34, 0x12}));
    EXPECT_EQ(camera->requests[1].selector, XU_REG_DATA);

    EXPECT_EQ(link.WriteRegister(0x2041, 0xFF), status::kOk);
    EXPECT_EQ(camera->registers[0x2041], 0xFF);

    camera->fail(PropertyOp::Set, XU_REG_ADDRESS, status::kDeviceGone);
    const auto before = camera->requests.size();
    EXPECT_EQ(link.WriteRegister(0x2034, 1), status::kDeviceGone);
    EXPECT_EQ(camera->requests.size(), before + 1) << "no data write after a failed address";

    camera->fail(PropertyOp::Get, XU_REG_DATA, status::kDeviceGone);
    value = 0x33;
    EXPECT_EQ(link.ReadRegister(0x1234, value), status::kDeviceGone);
    EXPECT_EQ(value, 0x33);

    link.CloseCamera();
    EXPECT_EQ(link.device(), nullptr);
    EXPECT_EQ(link.ReadRegister(0x1234, value), status::kPointer);
    EXPECT_EQ(link.GetIcType(), IcType::d);
    EXPECT_EQ(link.OpenCamera(IcType::e, 0, 0).status(), 0) << "a closed link opens again";
}

} // namespace
} // namespace tessell
