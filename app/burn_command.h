#pragma once

// `tessell burn`: the multi-camera station without a window, for lines whose
// stations have no display. The same station controller as the window, with
// the console as its view.
//
//   tessell burn --once [--json]   scan now, burn every Ready camera, end
//   tessell burn [--json] [--cycles N]
//                                  wait for NUM cameras on taught ports, burn
//                                  them, wait until they are removed, again;
//                                  Ctrl-C lets running burns finish, then ends
//
// A camera on a port the station does not remember is not burned ("I don't
// know this port!" with its hub:port) and the cycle ends with 1. With --json
// every line is one JSON object, and a cycle's last line is
// {"results": [{"row", "slot", "hub", "port", "file", "status", "progress"}]}
// with one entry per row that took part and one per camera left out for its
// port (status "Port not taught", slot null); scripts read that shape.

#include "multi/tessell_multi_dlg.h"
#include "platform/camera_services.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace tessell {

// Exit statuses of a burn. The station loop ends with its last cycle's,
// except that a camera failed or left out in an earlier cycle makes it 1.
constexpr int kBurnAllComplete = 0;
// A camera ended in Error, or one was left out for its unknown port.
constexpr int kBurnSomeFailed = 1;
// Bad option, unusable settings (no image to burn), no camera services,
// another copy running.
constexpr int kBurnUsage = 2;
// Nothing was burned: no camera, none on a taught port, no Ready row.
constexpr int kBurnNothingBurned = 3;

struct BurnOptions {
    bool once = false;
    bool json = false;
    int cycles = 0; // 0: until Ctrl-C
    // A person watches standard error: a live table instead of one line per change.
    bool terminal = false;
};

// The station's services on the process's cameras and `store`, with the
// program folder of the process.
MultiBurnServices processStationServices(const platform::CameraServices& cameras,
                                         platform::PortStore& store);

// The `{"results": [...]}` line of a cycle.
std::string burnResultsJson(const std::vector<RowResult>& rows);

// Runs the station on the given services; `stopRequested` (may be null) is
// polled between cycles and while waiting for cameras.
int runBurnStation(const BurnOptions& options, const MultiBurnServices& services, std::ostream& out,
                   std::ostream& err, const std::atomic<bool>* stopRequested);

// The command on the process's cameras and the user's port store. args are
// the words after "burn".
int runBurnCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool terminal);

} // namespace tessell
