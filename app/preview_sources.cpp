#include "app/preview_sources.h"

#include "platform/frame_sources.h"
#include "platform/sim/sim_frame_source.h"
#include "platform/sim/sim_platform.h"

namespace tessell {

std::unique_ptr<preview::FrameSources> processFrameSources() {
    if (!sim::simulationRequested())
        return platform::hostFrameSources();
    if (sim::SimPlatform* station = sim::processPlatform())
        return std::make_unique<preview::SimFrameSources>(*station);
    return std::make_unique<preview::NoFrameSources>();
}

} // namespace tessell
