#pragma once

// Helpers for tests that drive simulated cameras: a station in a scratch
// folder on a manual clock, and a client that talks to one bound camera the
// way the device layer does (Extension-Unit requests, chip registers, SPI
// through the serial-port registers).

#include "common/clock.h"
#include "device/xu_protocol.h"
#include "platform/sim/sim_platform.h"
#include "test_env.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace tessell::testing {

using Bytes = std::vector<std::uint8_t>;

// A station file written to a scratch folder and opened on a manual clock,
// without the service thread: the test calls service() when time has moved.
class SimRig {
public:
    explicit SimRig(const nlohmann::json& devices,
                    nlohmann::json station = nlohmann::json::object())
        : override_(clock) {
        station["devices"] = devices;
        stationFile = dir.write("station.json", station.dump(2));
        std::string error;
        platform_ = sim::SimPlatform::open(stationFile, {false, false}, error);
        EXPECT_TRUE(platform_) << error;
    }

    sim::SimPlatform& platform() { return *platform_; }
    explicit operator bool() const { return platform_ != nullptr; }

    // Rewrites the station file; the next check (after 200 ms of tool time)
    // takes its edits.
    void rewrite(const nlohmann::json& devices, nlohmann::json station = nlohmann::json::object()) {
        station["devices"] = devices;
        dir.write("station.json", station.dump(2));
        // A file time in the past of any check, whatever the file system's resolution.
        std::filesystem::last_write_time(stationFile,
                                         std::filesystem::last_write_time(stationFile) +
                                             std::chrono::seconds(++edits_));
    }

    // Lets tool time pass and runs what became due.
    void pass(Clock::Duration toolTime) {
        clock.advance(toolTime);
        platform_->service();
    }

    TempDir dir;
    ManualClock clock;
    std::filesystem::path stationFile;

private:
    ClockOverride override_;
    std::unique_ptr<sim::SimPlatform> platform_;
    int edits_ = 0;
};

// The manual clock for a station whose own threads sleep while a test thread
// pumps it (services the simulator, runs the dialog's calls, moves time):
// a sleep moves tool time at once, as on the manual clock, and then, while
// the pump runs, waits for its next round. Without that, a thread's bounded
// poll (a camera coming back after its reset, say) would jump through all of
// its time before the pump had once let the simulator return the camera.
class PumpedClock final : public Clock {
public:
    explicit PumpedClock(ManualClock& inner) : inner_(inner), override_(*this) {}

    TimePoint now() const override { return inner_.now(); }
    void sleepFor(Duration toolTime) override {
        inner_.sleepFor(toolTime);
        if (!pumping_ || std::this_thread::get_id() == pump_)
            return;
        // Bounded in real time all the same: a pump held up by this very
        // thread must not hang the test.
        const std::uint64_t seen = rounds_;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (pumping_ && rounds_ == seen && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
    }
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Duration toolTime,
                 const std::function<bool()>& ready) override {
        return inner_.waitFor(cv, lock, toolTime, ready);
    }
    double timeScale() const override { return 1.0; }
    void setTimeScale(double) override {}

    // The pump's side: the thread that pumps, and each round it has run.
    void startPumping() {
        pump_ = std::this_thread::get_id();
        pumping_ = true;
    }
    void roundDone() { ++rounds_; }
    void stopPumping() { pumping_ = false; }

private:
    ManualClock& inner_;
    ClockOverride override_;
    std::atomic<bool> pumping_{false};
    std::atomic<std::uint64_t> rounds_{0};
    std::thread::id pump_;
};

// One bound camera, addressed as the device layer addresses it.
class XuClient {
public:
    // Binds position `position` of `kind`'s list.
    XuClient(platform::CaptureDevices& devices, std::size_t position,
             platform::DeviceListKind kind = platform::DeviceListKind::VideoInput) {
        std::vector<platform::DeviceEntry> entries;
        devices.list(kind, entries);
        if (position < entries.size())
            device_ = devices.bind(kind, position, entries[position]);
        EXPECT_TRUE(device_) << "no device at position " << position;
    }

    platform::CaptureDevice& device() { return *device_; }
    explicit operator bool() const { return device_ != nullptr; }

    Guid propertySet = XU_PROPSET_PRIMARY;
    std::uint32_t node = 2;

    Status set(std::uint32_t selector, Bytes data) {
        std::uint32_t returned = 0;
        if (!control())
            return status::kPointer;
        return control()->request(propertySet, selector, platform::PropertyOp::Set, node, data,
                                  returned);
    }
    Status get(std::uint32_t selector, Bytes& data) {
        std::uint32_t returned = 0;
        if (!control())
            return status::kPointer;
        return control()->request(propertySet, selector, platform::PropertyOp::Get, node, data,
                                  returned);
    }
    // The answer of a read that must succeed.
    Bytes read(std::uint32_t selector, std::size_t length) {
        Bytes data(length, 0xEE);
        const Status result = get(selector, data);
        EXPECT_EQ(result, status::kOk) << "read of selector " << selector;
        return data;
    }
    Status size(std::uint32_t selector, std::uint32_t& length) {
        std::uint32_t returned = 0;
        if (!control())
            return status::kPointer;
        const Status result = control()->request(propertySet, selector, platform::PropertyOp::Size,
                                                 node, {}, returned);
        if (result == status::kMoreData) {
            length = returned;
            return status::kOk;
        }
        return result;
    }

    Status writeRegister(std::uint16_t address, std::uint8_t value) {
        set(XU_REG_ADDRESS,
            {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8)});
        return set(XU_REG_DATA, {value});
    }
    std::uint8_t readRegister(std::uint16_t address) {
        set(XU_REG_ADDRESS,
            {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8)});
        return read(XU_REG_DATA, 1)[0];
    }

    // One SPI command through the serial-port registers, with the busy polls
    // the primitives make (bounded here: the port is busy for one poll).
    Bytes spi(const Bytes& out, std::size_t readCount, std::uint8_t select = 0) {
        writeRegister(0x2020, 0x80);
        writeRegister(0x2025, select);
        for (std::uint8_t byte : out) {
            writeRegister(0x2022, byte);
            waitIdle();
        }
        Bytes in;
        for (std::size_t i = 0; i < readCount; ++i) {
            readRegister(0x2023);
            waitIdle();
            in.push_back(readRegister(0x2024));
        }
        writeRegister(0x2025, static_cast<std::uint8_t>(2 - select));
        return in;
    }
    void waitIdle() {
        for (int poll = 0; poll < 4; ++poll)
            if (readRegister(0x2021) == 0)
                return;
        ADD_FAILURE() << "serial port stays busy";
    }

    // What select_flash sends: twelve slots and the program mode.
    void loadTable(const flash::OpcodeTable& table) {
        for (int slot = 1; slot <= 12; ++slot) {
            set(XU_SF_CMD_INDEX, {static_cast<std::uint8_t>(slot)});
            set(XU_SF_CMD_VALUE, {table.slot(slot)});
        }
        set(XU_SF_CMD_FLAGS, {table.programMode});
    }

private:
    platform::PropertyControl* control() {
        auto* control = device_ ? device_->control() : nullptr;
        if (!control)
            ADD_FAILURE() << "the device offers no property control";
        return control;
    }

    std::unique_ptr<platform::CaptureDevice> device_;
};

// The camera list as the device layer sees it, with the simulator first doing
// what became due (a camera coming back after a restart), as its service
// thread would.
class ServicedDevices final : public platform::CaptureDevices {
public:
    explicit ServicedDevices(sim::SimPlatform& platform) : platform_(platform) {}
    Status list(platform::DeviceListKind kind,
                std::vector<platform::DeviceEntry>& entries) override {
        platform_.service();
        return platform_.list(kind, entries);
    }
    std::unique_ptr<platform::CaptureDevice> bind(platform::DeviceListKind kind,
                                                  std::size_t position,
                                                  const platform::DeviceEntry& entry) override {
        return platform_.bind(kind, position, entry);
    }

private:
    sim::SimPlatform& platform_;
};

} // namespace tessell::testing
