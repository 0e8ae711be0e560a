#pragma once

// The multi-camera station on simulated cameras, for the tests of its
// controller and of its window alike: the station file, the settings, the
// ports taught in an INI store of its folder, and the controller made on the
// view and dialog thread a test gives it.

#include "multi/tessell_multi_dlg.h"
#include "platform/linux/ini_port_store.h"
#include "tests/support/sim_rig.h"

#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tessell::testing {

// A camera on port `port` of "sim-hub-1" with its flash in "cam<port - 1>.flash"
// (chip 0xC0 unless `extra` says otherwise).
inline nlohmann::json stationCamera(int port, nlohmann::json extra = nlohmann::json::object()) {
    nlohmann::json device = {
        {"friendly_name", "Line camera"},
        {"hub", "sim-hub-1"},
        {"port", port},
        {"chip_id", "0xC0"},
        {"flash", {{"part", "0x79"}, {"file", "cam" + std::to_string(port - 1) + ".flash"}}}};
    device.update(extra);
    return device;
}

class StationRig {
public:
    // `taughtPorts` of "sim-hub-1" fill the port memory's slots in order.
    StationRig(const nlohmann::json& devices, const std::vector<int>& taughtPorts,
               const std::string& settings)
        : sim(devices), store(sim.dir.path() / "ports.ini") {
        PortMemory memory;
        for (std::size_t slot = 0; slot < taughtPorts.size(); ++slot)
            memory.LearnPort("sim-hub-1", taughtPorts[slot], static_cast<int>(slot));
        MultiBurnState state = MultiBurnState::Learning;
        EXPECT_TRUE(SavePortMemory(store, memory, state).written);
        sim.dir.write("setting.ini", settings);
    }
    // The owner destroys `dialog` before the thread and view it was given.
    ~StationRig() { dialog.reset(); }
    StationRig(const StationRig&) = delete;
    StationRig& operator=(const StationRig&) = delete;

    // The controller on the simulated station, initialised.
    void start(DialogThread& thread, MultiBurnView& view) {
        MultiBurnServices services;
        services.devices = &sim.platform();
        services.usb = &sim.platform();
        services.hotplug = &sim.platform();
        services.store = &store;
        services.programFolder = sim.dir.path();
        dialog = std::make_unique<Tessell_MultiDlg>(services, thread, view);
        ASSERT_TRUE(dialog->OnInitDialog());
    }

    Bytes flash(const std::string& file) const {
        const std::string bytes = sim.dir.read(file);
        return Bytes(bytes.begin(), bytes.end());
    }
    std::string storeText() const { return sim.dir.read("ports.ini"); }

    SimRig sim;
    platform::IniPortStore store;
    std::unique_ptr<Tessell_MultiDlg> dialog;
};

} // namespace tessell::testing
