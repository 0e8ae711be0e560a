#include "platform/linux/usb_descriptors.h"
#include "tests/support/extension_unit_guids.h"
#include "tests/support/sysfs_fixture.h"

#include <gtest/gtest.h>

namespace tessell::platform {
namespace {

using testing::append;
using testing::Bytes;

TEST(LinuxUsbDescriptors, FindsTheUnitsOfTheActiveConfigurationsVideoControlInterface) {
    // Configuration 1 carries the primary unit, configuration 2 the fallback
    // one; an audio control interface has a descriptor of the same type and
    // subtype (its feature unit), and so does the VideoStreaming interface.
    Bytes first = testing::interfaceDescriptor(0, 0x0E, 0x01);
    append(first, testing::videoControlEntities());
    append(first, testing::extensionUnit(4, testing::kPrimaryWire, {0xFF, 0x07, 0x00}));
    append(first, testing::interruptEndpoint());
    append(first, testing::interfaceDescriptor(1, 0x0E, 0x02));
    append(first, {10, 0x24, 0x06, 9, 0, 0, 0, 0, 0, 0});
    append(first, testing::interfaceDescriptor(2, 0x01, 0x01));
    append(first, testing::extensionUnit(7, testing::kFallbackWire, {0xFF}));
    Bytes second = testing::interfaceDescriptor(0, 0x0E, 0x01);
    append(second, testing::extensionUnit(5, testing::kFallbackWire, {0x01}));
    Bytes bytes = testing::deviceDescriptor(0x1209, 0x000C, 0x0100);
    append(bytes, testing::configuration(1, 3, first));
    append(bytes, testing::configuration(2, 1, second));

    const auto active = scanDescriptors(bytes, 1);
    EXPECT_EQ(active.fault, "");
    ASSERT_TRUE(active.identity);
    EXPECT_EQ(active.identity->vid, 0x1209);
    EXPECT_EQ(active.identity->pid, 0x000C);
    EXPECT_EQ(active.identity->bcdDevice, 0x0100);
    ASSERT_EQ(active.units.size(), 1u);
    const auto& unit = active.units[0];
    EXPECT_EQ(unit.unitId, 4);
    EXPECT_EQ(unit.interfaceNumber, 0);
    EXPECT_EQ(unit.guid, testing::kPrimaryGuid);
    EXPECT_EQ(unit.controls, (Bytes{0xFF, 0x07, 0x00}));
    // Selector s is bit s-1 of bmControls.
    EXPECT_FALSE(unit.advertises(0));
    EXPECT_TRUE(unit.advertises(1));
    EXPECT_TRUE(unit.advertises(11));
    EXPECT_FALSE(unit.advertises(12));
    EXPECT_FALSE(unit.advertises(24));
    EXPECT_FALSE(unit.advertises(25)); // past bmControls

    const auto other = scanDescriptors(bytes, 2);
    ASSERT_EQ(other.units.size(), 1u);
    EXPECT_EQ(other.units[0].unitId, 5);
    EXPECT_EQ(other.units[0].guid, testing::kFallbackGuid);

    EXPECT_TRUE(scanDescriptors(bytes, 3).units.empty());
}

TEST(LinuxUsbDescriptors, KeepsUnitsApartByVideoControlInterface) {
    // A camera with two functions (two VideoControl interfaces).
    Bytes body = testing::interfaceDescriptor(0, 0x0E, 0x01);
    append(body, testing::extensionUnit(3, testing::kPrimaryWire, {0x01}));
    append(body, testing::interfaceDescriptor(1, 0x0E, 0x02));
    append(body, testing::interfaceDescriptor(2, 0x0E, 0x01));
    append(body, testing::extensionUnit(6, testing::kFallbackWire, {0x01}));
    append(body, testing::extensionUnit(7, testing::kPrimaryWire, {0x01}));
    Bytes bytes = testing::deviceDescriptor(1, 2, 3);
    append(bytes, testing::configuration(1, 3, body));

    const auto scan = scanDescriptors(bytes, 1);
    ASSERT_EQ(scan.units.size(), 3u);
    const auto first = unitsOfInterface(scan, 0);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].unitId, 3);
    const auto second = unitsOfInterface(scan, 2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].unitId, 6);
    EXPECT_EQ(second[1].unitId, 7);
    EXPECT_TRUE(unitsOfInterface(scan, 1).empty());
}

TEST(LinuxUsbDescriptors, MalformedDescriptorsNeitherCrashNorInventUnits) {
    const Bytes good = testing::cameraDescriptors(
        1, 2, 3, {testing::extensionUnit(4, testing::kPrimaryWire, {0xFF, 0x0F})});
    ASSERT_EQ(scanDescriptors(good, 1).units.size(), 1u);

    // A zero bLength stops the walk where it stands; the unit before it stays.
    Bytes zero = good;
    zero.insert(zero.end(), {0, 0x24, 0x06, 9});
    append(zero, testing::extensionUnit(8, testing::kFallbackWire, {0x01}));
    auto scan = scanDescriptors(zero, 1);
    EXPECT_EQ(scan.units.size(), 1u);
    EXPECT_NE(scan.fault.find("length 0"), std::string::npos) << scan.fault;

    // bLength 1 would never advance either.
    scan = scanDescriptors(Bytes{1, 0x24, 0x06}, 1);
    EXPECT_TRUE(scan.units.empty());
    EXPECT_EQ(scan.fault, "descriptor length 1 at byte 0");

    // A length past the end: the unit it claims is not taken.
    Bytes pastEnd = testing::deviceDescriptor(1, 2, 3);
    Bytes body = testing::interfaceDescriptor(0, 0x0E, 0x01);
    append(body, testing::extensionUnit(4, testing::kPrimaryWire, {0xFF}));
    append(pastEnd, testing::configuration(1, 1, body));
    pastEnd.resize(pastEnd.size() - 3); // cut inside the unit
    scan = scanDescriptors(pastEnd, 1);
    EXPECT_TRUE(scan.units.empty());
    EXPECT_NE(scan.fault.find("past the end"), std::string::npos) << scan.fault;

    // Truncated units are passed over, and the walk goes on to a good one:
    // too short for the GUID, too short for the pins it announces, and a
    // bControlSize reaching past bLength.
    Bytes truncated = testing::interfaceDescriptor(0, 0x0E, 0x01);
    append(truncated, {10, 0x24, 0x06, 4, 0x82, 0x06, 0x61, 0x63, 0x70, 0x50});
    Bytes manyPins = testing::extensionUnit(5, testing::kPrimaryWire, {0xFF});
    manyPins[21] = 200;
    append(truncated, manyPins);
    Bytes wideControls = testing::extensionUnit(6, testing::kPrimaryWire, {0xFF});
    wideControls[23] = 9;
    append(truncated, wideControls);
    Bytes noControlSize(testing::kPrimaryWire.begin(), testing::kPrimaryWire.end());
    noControlSize.insert(noControlSize.begin(), {0, 0x24, 0x06, 7});
    noControlSize.insert(noControlSize.end(), {4, 1, 2});
    noControlSize[0] = static_cast<std::uint8_t>(noControlSize.size());
    append(truncated, noControlSize);
    append(truncated, testing::extensionUnit(9, testing::kFallbackWire, {0x03}));
    Bytes bytes = testing::deviceDescriptor(1, 2, 3);
    append(bytes, testing::configuration(1, 1, truncated));
    scan = scanDescriptors(bytes, 1);
    ASSERT_EQ(scan.units.size(), 1u);
    EXPECT_EQ(scan.units[0].unitId, 9);
    EXPECT_TRUE(scan.units[0].advertises(2));
    EXPECT_FALSE(scan.fault.empty());

    // Nothing at all, and a short device descriptor.
    scan = scanDescriptors({}, 1);
    EXPECT_TRUE(scan.units.empty());
    EXPECT_EQ(scan.fault, "");
    EXPECT_FALSE(scanDescriptors(Bytes{4, 0x01, 0, 0}, 1).identity);
}

TEST(LinuxUsbDescriptors, UnitsOutsideAConfigurationOrInterfaceAreIgnored) {
    // A unit before any configuration descriptor, and one after an
    // interface of another class in the active configuration.
    Bytes bytes = testing::deviceDescriptor(1, 2, 3);
    append(bytes, testing::extensionUnit(1, testing::kPrimaryWire, {0xFF}));
    Bytes body = testing::interfaceDescriptor(0, 0xFF, 0x01);
    append(body, testing::extensionUnit(2, testing::kPrimaryWire, {0xFF}));
    append(bytes, testing::configuration(1, 1, body));
    EXPECT_TRUE(scanDescriptors(bytes, 1).units.empty());
}

} // namespace
} // namespace tessell::platform
