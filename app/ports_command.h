#pragma once

// `tessell ports`: the hub ports the multi-camera tool remembers, for
// operators and for scripts that provision stations.
//
//   tessell ports [--json]             the remembered slots
//   tessell ports teach [--count N] [--timeout SECONDS]
//                                      teaching in the terminal
//   tessell ports set HUB:PORT ...     these ports, slot 01 first
//   tessell ports clear                every port forgotten
//
// The JSON shape, [{"slot": 1, "hub": "1-2", "port": 3}, ...], is kept
// stable for scripts.

#include "multi/port_memory.h"
#include "platform/port_store.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace tessell {

// Exit statuses of the ports command.
constexpr int kPortsDone = 0;
constexpr int kPortsNotSaved = 1; // the store cannot be written
constexpr int kPortsError = 2;    // bad arguments, no camera services, another copy running
// `teach --count N` ended by its time limit with fewer than N new ports
// (those learned are saved).
constexpr int kPortsTeachIncomplete = 3;

constexpr int kTeachDefaultSeconds = 600;
constexpr int kTeachMaxSeconds = 86400;

// The slots as the JSON array scripts read.
std::string portsJson(const PortMemory& memory);

// The verbs that need no camera (listing, set, clear) on `store`; teach goes
// to the process's cameras. args are the words after "ports".
int runPortsCommand(const std::vector<std::string>& args, platform::PortStore& store,
                    std::ostream& out, std::ostream& err);

// The command on the user's store.
int runPortsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tessell
