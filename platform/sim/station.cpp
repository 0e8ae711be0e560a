#include "platform/sim/station.h"

#include "common/clock.h"
#include "common/json_text.h"
#include "device/flash_parts.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <system_error>

namespace tessell::sim {

namespace {

using nlohmann::json;

// A station file is small; anything larger is not one.
constexpr std::uintmax_t kMaxStationBytes = 16u << 20;

// Thrown inside this file only, caught by parseStation.
struct ParseError {
    std::string message;
};

[[noreturn]] void fail(const std::string& at, const std::string& what) {
    throw ParseError{at + ": " + what};
}

std::string describe(const json& value) {
    // Never dump a container: a hostile file nests them deep enough to
    // exhaust the stack of a recursive writer.
    if (value.is_array())
        return "a list";
    if (value.is_object())
        return "an object";
    std::string text = jsonText(value);
    if (text.size() > 40)
        text = text.substr(0, 37) + "...";
    return text;
}

std::optional<std::uint64_t> parseUnsignedText(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        if (value > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) /
                        static_cast<unsigned>(base))
            return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    return value;
}

// A number, or a string holding a hex ("0x1209") or decimal number.
std::uint64_t readUnsigned(const json& value, const std::string& at, std::uint64_t max) {
    std::optional<std::uint64_t> parsed;
    if (value.is_number_unsigned())
        parsed = value.get<std::uint64_t>();
    else if (value.is_number_integer() && value.get<std::int64_t>() >= 0)
        parsed = static_cast<std::uint64_t>(value.get<std::int64_t>());
    else if (value.is_number_float()) {
        const double d = value.get<double>();
        if (d >= 0 && d <= 1e18 && std::floor(d) == d)
            parsed = static_cast<std::uint64_t>(d);
    } else if (value.is_string())
        parsed = parseUnsignedText(value.get_ref<const std::string&>());
    if (!parsed)
        fail(at, "expected a number or a hex string, got " + describe(value));
    if (*parsed > max)
        fail(at, describe(value) + " is out of range (at most " + std::to_string(max) + ")");
    return *parsed;
}

bool readBool(const json& value, const std::string& at) {
    if (!value.is_boolean())
        fail(at, "expected true or false, got " + describe(value));
    return value.get<bool>();
}

std::string readString(const json& value, const std::string& at) {
    if (!value.is_string())
        fail(at, "expected a string, got " + describe(value));
    return value.get<std::string>();
}

// A non-negative duration in `unit`, fractions allowed.
std::chrono::microseconds readDuration(const json& value, const std::string& at,
                                       double microsPerUnit) {
    double amount;
    if (value.is_number())
        amount = value.get<double>();
    else if (value.is_string())
        amount = static_cast<double>(readUnsigned(value, at, 1u << 30));
    else
        fail(at, "expected a duration, got " + describe(value));
    // A day is far beyond anything a camera takes; larger values are typos.
    const double micros = amount * microsPerUnit;
    if (!(micros >= 0) || micros > 86400e6)
        fail(at, describe(value) + " is not a duration between 0 and one day");
    return std::chrono::microseconds(static_cast<std::int64_t>(std::llround(micros)));
}

std::filesystem::path readPath(const json& value, const std::string& at,
                               const std::filesystem::path& folder) {
    const std::string text = readString(value, at);
    if (text.empty())
        fail(at, "the path is empty");
    std::filesystem::path path(text);
    return path.is_relative() ? folder / path : path;
}

const json* member(const json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

void requireObject(const json& value, const std::string& at) {
    if (!value.is_object())
        fail(at, "expected an object, got " + describe(value));
}

Status readStatus(const json& value, const std::string& at) {
    if (value.is_number_integer() && value.get<std::int64_t>() < 0) {
        const auto negative = value.get<std::int64_t>();
        if (negative < std::numeric_limits<std::int32_t>::min())
            fail(at, describe(value) + " is out of range");
        return static_cast<Status>(negative);
    }
    return status::fromCode(static_cast<std::uint32_t>(readUnsigned(value, at, 0xFFFFFFFFu)));
}

FlashPartConfig readFlash(const json& value, const std::string& at,
                          const std::filesystem::path& folder) {
    requireObject(value, at);
    FlashPartConfig flash;
    if (const json* part = member(value, "part")) {
        const auto code = readUnsigned(*part, at + ".part", 0xFF);
        if (code < flash::kFirstKnown || code > flash::kLastKnown)
            fail(at + ".part", describe(*part) + " is not a flash code from 0x79 to 0x8C");
        flash.code = static_cast<FlashCode>(code);
    }
    if (const json* size = member(value, "size")) {
        flash.size = readUnsigned(*size, at + ".size", 16u << 20);
        if (flash.size == 0)
            fail(at + ".size", "a flash cannot be empty");
    }
    if (flash.size == 0)
        flash.size = flash::defaultPartSize(flash.code);
    if (const json* file = member(value, "file"))
        flash.file = readPath(*file, at + ".file", folder);
    if (const json* protect = member(value, "protected"))
        flash.protectedAtStart = readBool(*protect, at + ".protected");
    return flash;
}

RomIdentity readRom(const json& value, const std::string& at) {
    requireObject(value, at);
    RomIdentity rom;
    if (const json* v = member(value, "vid"))
        rom.vid = static_cast<std::uint16_t>(readUnsigned(*v, at + ".vid", 0xFFFF));
    if (const json* v = member(value, "pid"))
        rom.pid = static_cast<std::uint16_t>(readUnsigned(*v, at + ".pid", 0xFFFF));
    if (const json* v = member(value, "bcd"))
        rom.bcd = static_cast<std::uint16_t>(readUnsigned(*v, at + ".bcd", 0xFFFF));
    if (const json* v = member(value, "manufacturer"))
        rom.manufacturer = readString(*v, at + ".manufacturer");
    if (const json* v = member(value, "product"))
        rom.product = readString(*v, at + ".product");
    if (const json* v = member(value, "serial"))
        rom.serial = readString(*v, at + ".serial");
    return rom;
}

FaultConfig readFault(const json& value, const std::string& at) {
    requireObject(value, at);
    FaultConfig fault;
    int kinds = 0;
    auto kind = [&](const char* key, FaultConfig::Kind k) -> const json* {
        const json* found = member(value, key);
        if (found) {
            ++kinds;
            fault.kind = k;
        }
        return found;
    };
    const json* op = kind("op", FaultConfig::Kind::Status);
    const json* unplug = kind("unplug_after", FaultConfig::Kind::UnplugAfter);
    const json* corrupt = kind("corrupt_block", FaultConfig::Kind::CorruptBlock);
    const json* busy = kind("busy_forever", FaultConfig::Kind::BusyForever);
    const json* noReturn = kind("no_return", FaultConfig::Kind::NoReturn);
    const json* notReady = kind("not_ready", FaultConfig::Kind::NotReady);
    if (kinds != 1)
        fail(at, kinds == 0 ? "a fault needs one of op, unplug_after, corrupt_block, "
                              "busy_forever, no_return, not_ready"
                            : "a fault entry names more than one kind of fault");
    constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint32_t>::max();
    if (const json* v = member(value, "in_download"))
        fault.inDownload = readBool(*v, at + ".in_download");

    if (op) {
        const std::string name = readString(*op, at + ".op");
        if (name == "set")
            fault.op = FaultConfig::Op::Set;
        else if (name == "get")
            fault.op = FaultConfig::Op::Get;
        else if (name == "len")
            fault.op = FaultConfig::Op::Len;
        else
            fail(at + ".op", "expected \"set\", \"get\" or \"len\", got " + describe(*op));
        const json* selector = member(value, "selector");
        const json* reg = member(value, "register");
        if (reg) {
            fault.selectedRegister =
                static_cast<std::uint16_t>(readUnsigned(*reg, at + ".register", 0xFFFF));
            fault.selector = 3;
        }
        if (selector) {
            fault.selector =
                static_cast<std::uint32_t>(readUnsigned(*selector, at + ".selector", 0xFF));
            if (reg && fault.selector != 3)
                fail(at, "a fault on a register counts requests on selector 3 only");
        } else if (!reg) {
            fail(at, "a fault with op needs a selector");
        }
        if (const json* v = member(value, "nth")) {
            fault.count = readUnsigned(*v, at + ".nth", kMaxCount);
            if (fault.count == 0)
                fail(at + ".nth", "requests count from 1");
        }
        if (const json* v = member(value, "times")) {
            fault.times = readUnsigned(*v, at + ".times", kMaxCount);
            if (fault.times == 0)
                fail(at + ".times", "a fault fires at least once");
        }
        const json* answer = member(value, "status");
        if (!answer)
            fail(at, "a fault with op needs the status it answers");
        fault.status = readStatus(*answer, at + ".status");
    } else if (unplug) {
        fault.count = readUnsigned(*unplug, at + ".unplug_after", kMaxCount);
    } else if (corrupt) {
        fault.count = readUnsigned(*corrupt, at + ".corrupt_block", kMaxCount);
        if (fault.count == 0)
            fail(at + ".corrupt_block", "blocks count from 1");
    } else if (busy) {
        if (!readBool(*busy, at + ".busy_forever"))
            fault.count = 0; // an entry switched off
    } else if (noReturn) {
        if (!readBool(*noReturn, at + ".no_return"))
            fault.count = 0;
    } else if (notReady) {
        fault.count = readUnsigned(*notReady, at + ".not_ready", kMaxCount);
    }
    return fault;
}

DeviceConfig readDevice(const json& value, const std::string& at, std::size_t position,
                        const std::filesystem::path& folder) {
    requireObject(value, at);
    DeviceConfig device;
    device.port = static_cast<std::uint16_t>(std::min<std::size_t>(position + 1, 255));
    device.flash.size = flash::defaultPartSize(device.flash.code);

    if (const json* v = member(value, "present"))
        device.present = readBool(*v, at + ".present");
    if (const json* v = member(value, "list")) {
        const std::string name = readString(*v, at + ".list");
        if (name == "video")
            device.list = platform::DeviceListKind::VideoInput;
        else if (name == "sensor")
            device.list = platform::DeviceListKind::SensorCamera;
        else
            fail(at + ".list", "expected \"video\" or \"sensor\", got " + describe(*v));
    }
    if (const json* v = member(value, "usb"))
        device.usb = readBool(*v, at + ".usb");
    if (const json* v = member(value, "friendly_name"))
        device.friendlyName = readString(*v, at + ".friendly_name");
    if (const json* v = member(value, "hub")) {
        device.hub = readString(*v, at + ".hub");
        if (device.hub.empty())
            fail(at + ".hub", "the hub id is empty");
    }
    if (const json* v = member(value, "port")) {
        device.port = static_cast<std::uint16_t>(readUnsigned(*v, at + ".port", 255));
        if (device.port == 0)
            fail(at + ".port", "hub ports count from 1");
    }
    if (const json* v = member(value, "chip_id")) {
        if (v->is_null())
            device.chipId.reset();
        else
            device.chipId = static_cast<std::uint8_t>(readUnsigned(*v, at + ".chip_id", 0xFF));
    }
    if (const json* v = member(value, "variant"))
        device.variant = static_cast<std::uint8_t>(readUnsigned(*v, at + ".variant", 0xFF));
    if (const json* v = member(value, "xu")) {
        const std::string name = readString(*v, at + ".xu");
        if (name == "primary")
            device.xu = XuAnswer::Primary;
        else if (name == "fallback")
            device.xu = XuAnswer::Fallback;
        else if (name == "not_found")
            device.xu = XuAnswer::NotFound;
        else if (name == "none")
            device.xu = XuAnswer::None;
        else
            fail(at + ".xu", "expected \"primary\", \"fallback\", \"not_found\" or \"none\", got " +
                                 describe(*v));
    }
    if (const json* v = member(value, "access")) {
        const std::string name = readString(*v, at + ".access");
        if (name == "topology")
            device.access = Access::Topology;
        else if (name == "vendor")
            device.access = Access::Vendor;
        else if (name == "both")
            device.access = Access::Both;
        else
            fail(at + ".access",
                 "expected \"topology\", \"vendor\" or \"both\", got " + describe(*v));
    }
    if (const json* v = member(value, "flash"))
        device.flash = readFlash(*v, at + ".flash", folder);
    // A UVC control length is 16 bits wide.
    if (const json* v = member(value, "block_size"))
        device.blockSize = readUnsigned(*v, at + ".block_size", 0xFFFF);
    if (const json* v = member(value, "sf_block_size"))
        device.sfBlockSize = readUnsigned(*v, at + ".sf_block_size", 0xFFFF);
    if (const json* v = member(value, "firmware_flash_id"))
        device.firmwareFlashId = readBool(*v, at + ".firmware_flash_id");
    if (const json* v = member(value, "registers")) {
        requireObject(*v, at + ".registers");
        for (const auto& [key, data] : v->items()) {
            const std::string where = at + ".registers." + key;
            const auto address = parseUnsignedText(key);
            if (!address || *address > 0xFFFF)
                fail(where, "a register address is a number from 0 to 0xFFFF");
            device.registers[static_cast<std::uint16_t>(*address)] =
                static_cast<std::uint8_t>(readUnsigned(data, where, 0xFF));
        }
    }
    if (const json* v = member(value, "rom"))
        device.rom = readRom(*v, at + ".rom");
    if (const json* v = member(value, "module")) {
        const std::string where = at + ".module";
        requireObject(*v, where);
        ModuleConfig module;
        if (const json* size = member(*v, "size")) {
            module.size = readUnsigned(*size, where + ".size", 16u << 20);
            if (module.size == 0)
                fail(where + ".size", "a module memory cannot be empty");
        }
        if (const json* file = member(*v, "file"))
            module.file = readPath(*file, where + ".file", folder);
        device.module = module;
    }
    if (const json* v = member(value, "reenumerate_ms"))
        device.reenumerate = readDuration(*v, at + ".reenumerate_ms", 1000.0);
    if (const json* v = member(value, "busy_ms"))
        device.busy = readDuration(*v, at + ".busy_ms", 1000.0);
    if (const json* v = member(value, "request_us"))
        device.request = readDuration(*v, at + ".request_us", 1.0);
    if (const json* v = member(value, "flash_timing")) {
        const std::string where = at + ".flash_timing";
        requireObject(*v, where);
        if (const json* pp = member(*v, "page_program_us"))
            device.flash.timing.pageProgram = readDuration(*pp, where + ".page_program_us", 1.0);
        if (const json* se = member(*v, "sector_erase_ms"))
            device.flash.timing.sectorErase = std::chrono::duration_cast<std::chrono::milliseconds>(
                readDuration(*se, where + ".sector_erase_ms", 1000.0));
    }
    if (const json* v = member(value, "faults")) {
        if (!v->is_array())
            fail(at + ".faults", "expected a list of faults, got " + describe(*v));
        for (std::size_t i = 0; i < v->size(); ++i)
            device.faults.push_back(readFault((*v)[i], at + ".faults[" + std::to_string(i) + "]"));
    }
    if (const json* v = member(value, "state_file"))
        device.stateFile = readPath(*v, at + ".state_file", folder);
    return device;
}

} // namespace

std::optional<StationConfig> parseStation(std::string_view text,
                                          const std::filesystem::path& folder, std::string& error) {
    try {
        json root;
        try {
            root = json::parse(text.begin(), text.end());
        } catch (const json::exception& e) {
            throw ParseError{std::string("not valid JSON: ") + e.what()};
        }
        requireObject(root, "station");
        StationConfig station;
        if (const json* v = member(root, "time_scale")) {
            if (!v->is_number())
                fail("time_scale", "expected a number, got " + describe(*v));
            station.timeScale = v->get<double>();
            if (!(station.timeScale >= kSmallestTimeScale && station.timeScale <= 1.0))
                fail("time_scale", describe(*v) + " is not between 0.0001 and 1 (the tool's clock "
                                                  "cannot keep a smaller scale)");
        }
        if (const json* v = member(root, "ac_power"))
            station.acPower = readBool(*v, "ac_power");
        if (const json* v = member(root, "devices")) {
            if (!v->is_array())
                fail("devices", "expected a list of devices, got " + describe(*v));
            for (std::size_t i = 0; i < v->size(); ++i)
                station.devices.push_back(
                    readDevice((*v)[i], "devices[" + std::to_string(i) + "]", i, folder));
        }
        return station;
    } catch (const ParseError& e) {
        error = e.message;
    } catch (const std::exception& e) { // allocation failures and the like
        error = e.what();
    }
    return std::nullopt;
}

std::optional<StationConfig> loadStation(const std::filesystem::path& file, std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        error = "station file " + file.string() + ": " + ec.message();
        return std::nullopt;
    }
    if (size > kMaxStationBytes) {
        error = "station file " + file.string() + ": too large to be a station file";
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!in || !in.read(text.data(), static_cast<std::streamsize>(text.size()))) {
        error = "station file " + file.string() + ": cannot be read";
        return std::nullopt;
    }
    std::string detail;
    auto station = parseStation(text, file.parent_path(), detail);
    if (!station)
        error = "station file " + file.string() + ": " + detail;
    return station;
}

} // namespace tessell::sim
