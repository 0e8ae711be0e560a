#include "common/clock.h"
#include "common/trace.h"
#include "device/xu_channel.h"
#include "device/xu_protocol.h"
#include "tests/support/fake_camera.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using platform::PropertyOp;
using testing::FakeCamera;
using testing::FakeCaptureDevices;
using testing::FakeDevice;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// A capture device bound from a one-device fake list.
struct Bound {
    std::shared_ptr<FakeCamera> camera = std::make_shared<FakeCamera>();
    FakeCaptureDevices devices;
    std::unique_ptr<platform::CaptureDevice> device;

    explicit Bound(FakeDevice fake) {
        fake.camera = camera;
        fake.path = testing::usbDevicePath("1a2b3c4");
        devices.add(fake);
        device = devices.bind(fake.list, 0, {});
    }
    // A channel bound the way the camera-opening code binds it.
    void bindNode(XuChannel& channel) {
        channel.setControl(device->control());
        channel.setMode(XU_MODE_KS);
    }
    void bindVendor(XuChannel& channel) {
        channel.setMode(XU_MODE_VENDOR);
        channel.SetVendorInterface(device->vendor());
    }
};

FakeDevice vendorOnly() {
    FakeDevice fake;
    fake.topology = false;
    fake.vendor = true;
    return fake;
}

Bytes lastVendorSet(const FakeCamera& camera) {
    return camera.vendorSets.empty() ? Bytes{} : camera.vendorSets.back();
}

TEST(XuChannelVendorMode, SendsCommandWordsWithTheDataInOneBoundedBuffer) {
    Bound bound(vendorOnly());
    XuChannel channel;
    bound.bindVendor(channel);

    const Bytes address = {0xFF, 0x20};
    EXPECT_EQ(channel.put_Property(XU_REG_ADDRESS, address), status::kOk);
    EXPECT_EQ(lastVendorSet(*bound.camera), (Bytes{0x02, 0x00, 0x01, 0x02, 0xFF, 0x20}))
        << "two bytes to selector 2 are the word 0x2010002 followed by the data";

    std::uint8_t chipId = 0;
    EXPECT_EQ(channel.get_Property(XU_REG_DATA, std::span(&chipId, 1)), status::kOk);
    EXPECT_EQ(lastVendorSet(*bound.camera), (Bytes{0x01, 0x00, 0x81, 0x03, 0, 0, 0, 0}))
        << "one byte of selector 3 is asked with the word 0x3810001 and a zero word";
    EXPECT_EQ(chipId, 0xC0);

    Bytes block(kXuMaxTransfer, 0x5A);
    EXPECT_EQ(channel.put_Property(XU_SF_DATA_4K, block), status::kOk);
    const Bytes sent = lastVendorSet(*bound.camera);
    ASSERT_EQ(sent.size(), 4 + kXuMaxTransfer);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 4), (Bytes{0x00, 0x10, 0x01, 0x0F}));

    // Nothing larger than the command buffer or the answer buffer is sent.
    const auto setsBefore = bound.camera->vendorSets.size();
    block.push_back(0);
    EXPECT_EQ(channel.put_Property(XU_SF_DATA_4K, block), status::kInvalidArgument);
    EXPECT_EQ(channel.get_Property(XU_SF_DATA_4K, block), status::kInvalidArgument);
    EXPECT_EQ(bound.camera->vendorSets.size(), setsBefore);

    // A failing answer leaves the caller's byte alone.
    bound.camera->fail(PropertyOp::Get, XU_REG_DATA, status::kDeviceGone);
    std::uint8_t kept = 0x77;
    EXPECT_EQ(channel.get_Property(XU_REG_DATA, std::span(&kept, 1)), status::kDeviceGone);
    EXPECT_EQ(kept, 0x77);

    // Mode 0 without the vendor interface, and an unbound channel.
    XuChannel missing;
    missing.setMode(XU_MODE_VENDOR);
    EXPECT_EQ(missing.put_Property(XU_REG_ADDRESS, address), status::kPointer);
    XuChannel unbound;
    EXPECT_EQ(unbound.put_Property(XU_REG_ADDRESS, address), status::kNothingDone);
    EXPECT_EQ(unbound.get_Property(XU_REG_DATA, std::span(&kept, 1)), status::kNothingDone);
}

TEST(XuChannelSizeQuery, OnlyMoreDataCarriesASize) {
    Bound bound{FakeDevice{}};
    XuChannel channel;
    bound.bindNode(channel);
    ASSERT_EQ(channel.FindXuNode(bound.device->topology()), status::kOk);

    std::uint32_t size = 77;
    EXPECT_EQ(channel.get_PropertySize(XU_DFU_ACCESS_CONTROL, &size), status::kOk);
    EXPECT_EQ(size, 4096u);
    EXPECT_EQ(channel.requestBlock().flags, kKsPropertyGetTopology);

    size = 77;
    bound.camera->fail(PropertyOp::Size, XU_DFU_ACCESS_CONTROL, status::kOk);
    EXPECT_EQ(channel.get_PropertySize(XU_DFU_ACCESS_CONTROL, &size), status::kOk);
    EXPECT_EQ(size, 77u) << "a plain success carries no size";

    bound.camera->fail(PropertyOp::Size, XU_DFU_ACCESS_CONTROL, status::kDeviceGone);
    EXPECT_EQ(channel.get_PropertySize(XU_DFU_ACCESS_CONTROL, &size), status::kDeviceGone);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(channel.get_PropertySize(XU_DFU_ACCESS_CONTROL, nullptr), status::kPointer);

    XuChannel unbound;
    EXPECT_EQ(unbound.get_PropertySize(XU_DFU_ACCESS_CONTROL, &size), status::kNothingDone);

    // Through the vendor interface only the low 16 bits of the answer count.
    Bound vendor(vendorOnly());
    XuChannel vendorChannel;
    vendor.bindVendor(vendorChannel);
    vendor.camera->vendorSizeHighBits = 0xABCD;
    vendor.camera->sizes[XU_SF_DATA_4K] = 0x0800;
    EXPECT_EQ(vendorChannel.get_PropertySize(XU_SF_DATA_4K, &size), status::kOk);
    EXPECT_EQ(size, 0x0800u);
    EXPECT_EQ(lastVendorSet(*vendor.camera), (Bytes{0x02, 0x00, 0x85, 0x0F}));
}

TEST(XuChannelSizeQuery, BoundedSizeRefusesWhatDoesNotFit) {
    Bound bound{FakeDevice{}};
    XuChannel channel;
    bound.bindNode(channel);
    ASSERT_EQ(channel.FindXuNode(bound.device->topology()), status::kOk);
    trace::Capture trace;

    std::uint32_t size = 1;
    bound.camera->sizes[XU_SF_DATA_4K] = 8192;
    EXPECT_EQ(channel.boundedPropertySize(XU_SF_DATA_4K, kXuMaxTransfer, size),
              status::kInvalidArgument);
    EXPECT_EQ(size, 1u);
    EXPECT_TRUE(trace.contains("size 8192"));
    bound.camera->sizes[XU_SF_DATA_4K] = 0;
    EXPECT_EQ(channel.boundedPropertySize(XU_SF_DATA_4K, kXuMaxTransfer, size),
              status::kInvalidArgument);
    bound.camera->sizes[XU_SF_DATA_4K] = 4096;
    EXPECT_EQ(channel.boundedPropertySize(XU_SF_DATA_4K, kXuMaxTransfer, size), status::kOk);
    EXPECT_EQ(size, 4096u);
}

TEST(FindXuNode, ChoosesTheNodeAndThePropertySetTheFirmwareAnswers) {
    const Guid other = *Guid::parse("{00000000-0000-0000-0000-000000000001}");
    const Bytes address = {0xFF, 0x20};
    struct Row {
        FakeCamera::Answers answers;
        Guid expectedSet;
    };
    for (const Row& row : {Row{FakeCamera::Answers::Primary, XU_PROPSET_PRIMARY},
                           Row{FakeCamera::Answers::Fallback, XU_PROPSET_FALLBACK},
                           Row{FakeCamera::Answers::NotFound, XU_PROPSET_PRIMARY}}) {
        FakeDevice fake;
        fake.nodeTypes = {other, platform::kNodeTypeDevSpecific};
        Bound bound(fake);
        bound.camera->answers = row.answers;
        XuChannel channel;
        bound.bindNode(channel);

        EXPECT_EQ(channel.FindXuNode(bound.device->topology()), status::kOk);
        EXPECT_EQ(channel.nodeId(), 1u);
        EXPECT_EQ(channel.propertySet(), row.expectedSet);

        // Later requests go to that node under that set.
        EXPECT_EQ(channel.put_Property(XU_REG_ADDRESS, address), status::kOk);
        const auto& sent = bound.camera->requests.back();
        EXPECT_EQ(sent.propertySet, row.expectedSet);
        EXPECT_EQ(sent.nodeId, 1u);
        EXPECT_EQ(channel.requestBlock().flags, kKsPropertySetTopology);
    }

    // A "not found" probe is accepted only when chip register 0x20FF answers.
    Bound refused{FakeDevice{}};
    refused.camera->answers = FakeCamera::Answers::NotFound;
    refused.camera->fail(PropertyOp::Get, XU_REG_DATA, status::kDeviceGone);
    XuChannel channel;
    refused.bindNode(channel);
    EXPECT_EQ(channel.FindXuNode(refused.device->topology()), status::kNothingDone);
}

TEST(FindXuNode, WithoutAnAnsweringNodeTheChannelIsLeftUnusable) {
    const Bytes address = {0xFF, 0x20};
    const Guid other = *Guid::parse("{00000000-0000-0000-0000-000000000001}");
    for (const std::vector<Guid>& nodes : {std::vector<Guid>{}, std::vector<Guid>{other}}) {
        FakeDevice fake;
        fake.nodeTypes = nodes;
        Bound bound(fake);
        XuChannel channel;
        bound.bindNode(channel);
        EXPECT_EQ(channel.FindXuNode(bound.device->topology()), status::kNothingDone);
        EXPECT_EQ(channel.control(), nullptr);
        EXPECT_EQ(channel.put_Property(XU_REG_ADDRESS, address), status::kPointer);
        EXPECT_TRUE(bound.camera->requests.empty());
    }

    // A node that fails is passed over for the next Extension Unit.
    FakeDevice fake;
    fake.nodeTypes = {platform::kNodeTypeDevSpecific, platform::kNodeTypeDevSpecific};
    Bound bound(fake);
    bound.camera->probeAnswers = {status::kDeviceGone};
    XuChannel channel;
    bound.bindNode(channel);
    EXPECT_EQ(channel.FindXuNode(bound.device->topology()), status::kOk);
    EXPECT_EQ(channel.nodeId(), 1u);
}

TEST(FindXuNode, NotReadyIsRetriedWithinABound) {
    ManualClock manual;
    ClockOverride use(manual);
    trace::Capture trace;

    Bound waking{FakeDevice{}};
    waking.camera->probeAnswers = {status::kNotReady, status::kNotReady, status::kNotReady};
    XuChannel channel;
    waking.bindNode(channel);
    EXPECT_EQ(channel.FindXuNode(waking.device->topology()), status::kOk);
    EXPECT_EQ(manual.slept(), 60ms);

    Bound stuck{FakeDevice{}};
    stuck.camera->probeAnswers.assign(100000, status::kNotReady);
    XuChannel stuckChannel;
    stuck.bindNode(stuckChannel);
    const auto before = manual.slept();
    EXPECT_EQ(stuckChannel.FindXuNode(stuck.device->topology()), status::kNothingDone);
    const auto spent = manual.slept() - before;
    EXPECT_GE(spent, kProbeNotReadyBudget);
    EXPECT_LE(spent, kProbeNotReadyBudget + kProbeNotReadyPause);
    EXPECT_TRUE(trace.contains("still not ready"));
}

} // namespace
} // namespace tessell
