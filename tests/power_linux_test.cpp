#include "platform/linux/power_linux.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tessell::platform {
namespace {

struct Supply {
    std::string name;
    std::string type;
    // Attribute name and content, written as sysfs does (with a newline).
    std::vector<std::pair<std::string, std::string>> attributes;
};

int statusOf(const std::vector<Supply>& supplies) {
    testing::TempDir root;
    for (const auto& supply : supplies) {
        root.write(supply.name + "/type", supply.type + "\n");
        for (const auto& [name, value] : supply.attributes)
            root.write(supply.name + "/" + name, value + "\n");
    }
    return SysfsPowerStatus(root.path()).acLineStatus();
}

const Supply kMainsOn{"AC", "Mains", {{"online", "1"}}};
const Supply kMainsOff{"AC", "Mains", {{"online", "0"}}};
Supply battery(const std::string& status) {
    return {"BAT0", "Battery", {{"status", status}, {"capacity", "80"}}};
}
// An empty USB-C port as a UCSI controller lists it.
const Supply kUsbPortOff{
    "ucsi-source-psy-USBC000:001", "USB", {{"online", "0"}, {"usb_type", "C [PD]"}}};
const Supply kUsbPortOn{"ucsi-source-psy-USBC000:001", "USB", {{"online", "2"}}};
const Supply kMouse{"hidpp_battery_0", "Battery", {{"scope", "Device"}, {"status", "Discharging"}}};

TEST(SysfsPower, DecidesFromAdaptersAndSystemBatteries) {
    struct Case {
        const char* what;
        std::vector<Supply> supplies;
        int expected;
    };
    const Case cases[] = {
        {"desktop without any supply", {}, kAcUnknown},
        {"desktop with an empty USB-C port", {kUsbPortOff}, kAcUnknown},
        {"desktop with a wireless mouse on its battery", {kMouse}, kAcUnknown},
        {"laptop on battery", {kMainsOff, battery("Discharging")}, kAcOffline},
        {"laptop on mains, charging", {kMainsOn, battery("Charging")}, kAcOnline},
        {"laptop on mains drawing more than it gets",
         {kMainsOn, battery("Discharging")},
         kAcOnline},
        {"laptop unplugged with a full battery", {kMainsOff, battery("Full")}, kAcOffline},
        {"laptop unplugged, battery not charging",
         {kMainsOff, battery("Not charging")},
         kAcOffline},
        {"laptop charged over USB-C", {kMainsOff, kUsbPortOn, battery("Charging")}, kAcOnline},
        {"no adapter listed, battery discharging", {battery("Discharging")}, kAcOffline},
        {"no adapter listed, battery charging", {battery("Charging")}, kAcOnline},
        {"no adapter listed, battery full", {battery("Full")}, kAcUnknown},
        {"a discharging mouse does not make a laptop on mains offline",
         {kMainsOn, battery("Full"), kMouse},
         kAcOnline},
        {"UPS on mains", {{"ups", "UPS", {{"online", "1"}}}}, kAcOnline},
        {"UPS on its battery", {{"ups", "UPS", {{"online", "0"}}}}, kAcOffline},
        {"an unreadable online value is no evidence",
         {{"AC", "Mains", {{"online", "yes"}}}, battery("Full")},
         kAcUnknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statusOf(c.supplies), c.expected) << c.what;
}

TEST(SysfsPower, OddTreesReadAsUnknown) {
    testing::TempDir root;
    EXPECT_EQ(SysfsPowerStatus(root / "missing").acLineStatus(), kAcUnknown);

    // A stray file, a supply with no type, an overlong attribute.
    root.write("uevent", "junk\n");
    root.write("BAT1/status", "Discharging\n");
    root.write("AC/type", "Mains\n");
    root.write("AC/online", std::string(100000, '1'));
    root.write("BAT0/type", "Battery\n");
    root.write("BAT0/status", std::string(100000, 'x'));
    EXPECT_EQ(SysfsPowerStatus(root.path()).acLineStatus(), kAcUnknown);

    // The readings are taken afresh: unplugging shows at the next call.
    testing::TempDir laptop;
    laptop.write("AC/type", "Mains\n");
    laptop.write("AC/online", "1\n");
    laptop.write("BAT0/type", "Battery\n");
    laptop.write("BAT0/status", "Charging\n");
    SysfsPowerStatus power(laptop.path());
    EXPECT_EQ(power.acLineStatus(), kAcOnline);
    laptop.write("AC/online", "0\n");
    laptop.write("BAT0/status", "Discharging\n");
    EXPECT_EQ(power.acLineStatus(), kAcOffline);
}

} // namespace
} // namespace tessell::platform
