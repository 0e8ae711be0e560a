#pragma once

// The injected faults of one simulated camera and their counters.

#include "platform/capture_devices.h"
#include "platform/sim/station.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tessell::sim {

class FaultSet {
public:
    explicit FaultSet(std::vector<FaultConfig> faults);

    // The camera arrived: counters that run "since the camera arrived" restart.
    void onArrival();

    // Counts a request that reached the firmware (`selectedRegister` is the
    // register selector 2 chose). Returns the status to answer instead when
    // a fault fires; the request must then have no effect.
    std::optional<Status> onRequest(platform::PropertyOp op, std::uint32_t selector,
                                    std::uint16_t selectedRegister, bool inDownload);

    // Counts a probe read of selector 11; true while it must answer "not ready".
    bool probeNotReady();

    // Counts a request served on the bus; true once when an unplug_after
    // fault says the camera leaves now.
    bool unplugNow(bool inDownload);
    // An unplug_after of 0: the camera leaves before serving the request.
    bool unplugBeforeRequest(bool inDownload);

    bool corruptsBlock(std::uint64_t blockNumber) const;
    bool busyForever() const;
    bool noReturn() const;

private:
    struct Entry {
        FaultConfig config;
        std::uint64_t seen = 0; // matching requests counted
        bool spent = false;     // an unplug fires once
    };
    std::vector<Entry> entries_;
};

} // namespace tessell::sim
