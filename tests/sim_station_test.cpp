#include "platform/sim/station.h"
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <string>

using namespace std::chrono_literals;

namespace tessell::sim {
namespace {

std::optional<StationConfig> parseText(const std::string& text, std::string& error) {
    return parseStation(text, "/stations/line-3", error);
}

TEST(SimStation, DefaultsOfAnEmptyDevice) {
    std::string error;
    const auto station = parseText(R"({"devices": [{}, {}]})", error);
    ASSERT_TRUE(station) << error;
    EXPECT_EQ(station->timeScale, 1.0);
    EXPECT_TRUE(station->acPower);
    ASSERT_EQ(station->devices.size(), 2u);
    const auto& device = station->devices[1];
    EXPECT_TRUE(device.present);
    EXPECT_EQ(device.list, platform::DeviceListKind::VideoInput);
    EXPECT_TRUE(device.usb);
    EXPECT_EQ(device.friendlyName, "USB Camera");
    EXPECT_EQ(device.hub, "sim-hub-1");
    EXPECT_EQ(station->devices[0].port, 1);
    EXPECT_EQ(device.port, 2) << "position + 1";
    EXPECT_EQ(device.chipId, std::optional<std::uint8_t>(0xC0));
    EXPECT_EQ(device.variant, 0);
    EXPECT_EQ(device.xu, XuAnswer::Primary);
    EXPECT_EQ(device.access, Access::Topology);
    EXPECT_EQ(device.flash.code, 0x79);
    EXPECT_EQ(device.flash.size, 65536u);
    EXPECT_TRUE(device.flash.file.empty());
    EXPECT_TRUE(device.flash.protectedAtStart);
    EXPECT_EQ(device.blockSize, 4096u);
    EXPECT_EQ(device.sfBlockSize, 4096u);
    EXPECT_TRUE(device.firmwareFlashId);
    EXPECT_TRUE(device.registers.empty());
    EXPECT_EQ(device.rom.vid, 0x1209);
    EXPECT_EQ(device.rom.pid, 0x0001);
    EXPECT_EQ(device.rom.bcd, 0x0100);
    EXPECT_FALSE(device.module);
    EXPECT_EQ(device.reenumerate, 300ms);
    EXPECT_EQ(device.busy, 1500ms);
    EXPECT_EQ(device.request, 0us);
    EXPECT_EQ(device.flash.timing.pageProgram, 0us);
    EXPECT_TRUE(device.faults.empty());
    EXPECT_TRUE(device.stateFile.empty());
}

TEST(SimStation, EveryKeyInNumbersHexStringsAndRelativePaths) {
    std::string error;
    const auto station = parseText(R"({
        "time_scale": 0.01, "ac_power": false,
        "devices": [{
            "present": false, "list": "sensor", "usb": false, "friendly_name": "Line cam",
            "hub": "hub-B", "port": "0x0C", "chip_id": null, "variant": "0x10",
            "xu": "not_found", "access": "both",
            "flash": {"part": "0x82", "file": "cam0.flash", "protected": false},
            "block_size": 64, "sf_block_size": "0x800", "firmware_flash_id": false,
            "registers": {"0x2509": 0, "0x059A": "0x01", "11264": 2},
            "rom": {"vid": "0x3F2A", "pid": 12, "bcd": "0x0917",
                    "manufacturer": "Maker", "product": "Cam", "serial": "SN1"},
            "module": {"file": "/abs/mod0.bin"},
            "reenumerate_ms": 50, "busy_ms": "0x10", "request_us": 2.5,
            "flash_timing": {"page_program_us": 700, "sector_erase_ms": 40},
            "state_file": "state/cam0.json",
            "faults": [
                {"op": "set", "selector": 10, "nth": 3, "times": 2, "status": "0x8007001F"},
                {"op": "get", "register": "0x2034", "status": -2147467259, "in_download": true},
                {"unplug_after": 40, "in_download": true},
                {"corrupt_block": 2}, {"busy_forever": true}, {"no_return": true},
                {"not_ready": 3}
            ]
        }]})",
                                   error);
    ASSERT_TRUE(station) << error;
    EXPECT_EQ(station->timeScale, 0.01);
    EXPECT_FALSE(station->acPower);
    const auto& d = station->devices.at(0);
    EXPECT_FALSE(d.present);
    EXPECT_EQ(d.list, platform::DeviceListKind::SensorCamera);
    EXPECT_FALSE(d.usb);
    EXPECT_EQ(d.friendlyName, "Line cam");
    EXPECT_EQ(d.hub, "hub-B");
    EXPECT_EQ(d.port, 12);
    EXPECT_FALSE(d.chipId);
    EXPECT_EQ(d.variant, 0x10);
    EXPECT_EQ(d.xu, XuAnswer::NotFound);
    EXPECT_EQ(d.access, Access::Both);
    EXPECT_EQ(d.flash.code, 0x82);
    EXPECT_EQ(d.flash.size, 131072u) << "the default size of the part";
    EXPECT_EQ(d.flash.file, std::filesystem::path("/stations/line-3/cam0.flash"));
    EXPECT_FALSE(d.flash.protectedAtStart);
    EXPECT_EQ(d.blockSize, 64u);
    EXPECT_EQ(d.sfBlockSize, 0x800u);
    EXPECT_FALSE(d.firmwareFlashId);
    EXPECT_EQ(d.registers,
              (std::map<std::uint16_t, std::uint8_t>{{0x2509, 0}, {0x059A, 1}, {0x2C00, 2}}));
    EXPECT_EQ(d.rom.vid, 0x3F2A);
    EXPECT_EQ(d.rom.pid, 0x000C);
    EXPECT_EQ(d.rom.bcd, 0x0917);
    EXPECT_EQ(d.rom.serial, "SN1");
    ASSERT_TRUE(d.module);
    EXPECT_EQ(d.module->size, 131072u);
    EXPECT_EQ(d.module->file, std::filesystem::path("/abs/mod0.bin"));
    EXPECT_EQ(d.reenumerate, 50ms);
    EXPECT_EQ(d.busy, 16ms);
    EXPECT_EQ(d.request, std::chrono::microseconds(3)); // 2.5 rounds to a whole microsecond
    EXPECT_EQ(d.flash.timing.pageProgram, 700us);
    EXPECT_EQ(d.flash.timing.sectorErase, 40ms);
    EXPECT_EQ(d.stateFile, std::filesystem::path("/stations/line-3/state/cam0.json"));

    ASSERT_EQ(d.faults.size(), 7u);
    const auto& set = d.faults[0];
    EXPECT_EQ(set.kind, FaultConfig::Kind::Status);
    EXPECT_EQ(set.op, FaultConfig::Op::Set);
    EXPECT_EQ(set.selector, 10u);
    EXPECT_EQ(set.count, 3u);
    EXPECT_EQ(set.times, 2u);
    EXPECT_EQ(set.status, status::kDeviceGone);
    const auto& reg = d.faults[1];
    EXPECT_EQ(reg.selector, 3u) << "a register fault counts selector 3";
    EXPECT_EQ(reg.selectedRegister, std::optional<std::uint16_t>(0x2034));
    EXPECT_EQ(reg.count, 1u) << "nth defaults to the first request";
    EXPECT_EQ(reg.status, status::kFail);
    EXPECT_TRUE(reg.inDownload);
    EXPECT_EQ(d.faults[2].kind, FaultConfig::Kind::UnplugAfter);
    EXPECT_EQ(d.faults[2].count, 40u);
    EXPECT_TRUE(d.faults[2].inDownload);
    EXPECT_EQ(d.faults[3].kind, FaultConfig::Kind::CorruptBlock);
    EXPECT_EQ(d.faults[4].kind, FaultConfig::Kind::BusyForever);
    EXPECT_EQ(d.faults[5].kind, FaultConfig::Kind::NoReturn);
    EXPECT_EQ(d.faults[6].kind, FaultConfig::Kind::NotReady);
    EXPECT_EQ(d.faults[6].count, 3u);
}

TEST(SimStation, MalformedFilesAreRefusedWithWhereAndWhy) {
    struct Case {
        const char* text;
        const char* expected; // part of the error text
    };
    const Case cases[] = {
        {"", "not valid JSON"},
        {"{\"devices\": [", "not valid JSON"},
        {"[1, 2]", "station: expected an object"},
        {R"({"time_scale": 0})", "time_scale: 0 is not between 0.0001 and 1"},
        // Scales the clock cannot keep: tool time would overflow, or a
        // healthy camera's requests would outlast the tool's time-outs.
        {R"({"time_scale": 1e-12})", "time_scale: 1e-12 is not between 0.0001 and 1"},
        {R"({"time_scale": 1e-9})", "time_scale: 1e-09 is not between 0.0001 and 1"},
        {R"({"time_scale": 1.5})", "time_scale"},
        {R"({"time_scale": "fast"})", "time_scale: expected a number"},
        {R"({"ac_power": 1})", "ac_power: expected true or false"},
        {R"({"devices": {}})", "devices: expected a list"},
        {R"({"devices": [3]})", "devices[0]: expected an object"},
        {R"({"devices": [{}, {"list": "audio"}]})", "devices[1].list"},
        {R"({"devices": [{"port": 0}]})", "devices[0].port: hub ports count from 1"},
        {R"({"devices": [{"port": 256}]})", "devices[0].port: 256 is out of range"},
        {R"({"devices": [{"chip_id": "0xZZ"}]})", "devices[0].chip_id: expected a number"},
        {R"({"devices": [{"chip_id": 300}]})", "out of range"},
        {R"({"devices": [{"chip_id": -1}]})", "devices[0].chip_id"},
        {R"({"devices": [{"chip_id": 1.5}]})", "devices[0].chip_id"},
        {R"({"devices": [{"xu": "secondary"}]})", "devices[0].xu"},
        {R"({"devices": [{"access": true}]})", "devices[0].access: expected a string"},
        {R"({"devices": [{"flash": {"part": "0x78"}}]})", "not a flash code from 0x79 to 0x8C"},
        {R"({"devices": [{"flash": {"part": "0x8D"}}]})", "devices[0].flash.part"},
        {R"({"devices": [{"flash": {"size": 0}}]})", "devices[0].flash.size"},
        {R"({"devices": [{"flash": {"file": ""}}]})", "devices[0].flash.file: the path is empty"},
        {R"({"devices": [{"block_size": 70000}]})", "devices[0].block_size"},
        {R"({"devices": [{"registers": {"0x10000": 1}}]})", "registers.0x10000"},
        {R"({"devices": [{"registers": {"0x2509": 256}}]})", "registers.0x2509"},
        {R"({"devices": [{"registers": []}]})", "devices[0].registers: expected an object"},
        {R"({"devices": [{"rom": {"vid": "0x12345"}}]})", "devices[0].rom.vid"},
        {R"({"devices": [{"reenumerate_ms": -5}]})", "devices[0].reenumerate_ms"},
        {R"({"devices": [{"busy_ms": 1e300}]})", "devices[0].busy_ms"},
        {R"({"devices": [{"module": {"size": 0}}]})", "devices[0].module.size"},
        {R"({"devices": [{"faults": {}}]})", "devices[0].faults: expected a list"},
        {R"({"devices": [{"faults": [{}]}]})", "devices[0].faults[0]: a fault needs one of"},
        {R"({"devices": [{"faults": [{"op": "set", "selector": 3, "status": 1,
            "unplug_after": 3}]}]})",
         "more than one kind"},
        {R"({"devices": [{"faults": [{"op": "put", "selector": 3, "status": 1}]}]})",
         "faults[0].op"},
        {R"({"devices": [{"faults": [{"op": "set", "status": 1}]}]})", "needs a selector"},
        {R"({"devices": [{"faults": [{"op": "set", "selector": 10}]}]})", "needs the status"},
        {R"({"devices": [{"faults": [{"op": "set", "selector": 10, "nth": 0, "status": 1}]}]})",
         "faults[0].nth"},
        {R"({"devices": [{"faults": [{"op": "get", "selector": 2, "register": 8244,
            "status": 1}]}]})",
         "selector 3 only"},
        {R"({"devices": [{"faults": [{"op": "set", "selector": 9, "status": "0x1FFFFFFFF"}]}]})",
         "faults[0].status"},
        {R"({"devices": [{"faults": [{"corrupt_block": 0}]}]})", "blocks count from 1"},
        {R"({"devices": [{"faults": [{"busy_forever": "yes"}]}]})", "faults[0].busy_forever"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parseText(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos)
            << "for " << c.text << " the error was: " << error;
    }
}

TEST(SimStation, LoadingNamesTheFileAndSurvivesGarbage) {
    testing::TempDir dir;
    std::string error;
    EXPECT_FALSE(loadStation(dir / "missing.json", error));
    EXPECT_NE(error.find("missing.json"), std::string::npos) << error;

    // Bytes that are no text at all, and lists nested a hundred thousand deep.
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.push_back(static_cast<char>(i * 7919 % 256));
    dir.write("garbage.json", garbage);
    EXPECT_FALSE(loadStation(dir / "garbage.json", error));
    dir.write("deep.json", std::string(100000, '[') + std::string(100000, ']'));
    EXPECT_FALSE(loadStation(dir / "deep.json", error));
    EXPECT_NE(error.find("station: expected an object"), std::string::npos) << error;

    dir.write("line/station.json", R"({"devices": [{"flash": {"file": "cam0.flash"}}]})");
    const auto station = loadStation(dir / "line/station.json", error);
    ASSERT_TRUE(station) << error;
    EXPECT_EQ(station->devices[0].flash.file, dir / "line/cam0.flash");
}

} // namespace
} // namespace tessell::sim
