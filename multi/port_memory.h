#pragma once

// The hub ports of the multi-camera station: 16 slots, shown to the operator
// as 01 to 16, each the (hub, port) pair of one burning place. The operator
// teaches them once; the per-user store keeps them for later runs.
//
// In the store the slots are the values "SavedCount" (how many are valid),
// "NN-HubName" and "NN-RealNum" for NN = 01 to SavedCount. Values of slots
// that are no longer used stay in the store; "SavedCount" alone says how
// many count.

#include "multi/multi_burn_state.h"
#include "platform/port_store.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tessell {

inline constexpr int kPortSlotCount = 16;
// The longest hub text a slot keeps. A longer one is not remembered at all:
// cut short, two hubs could end up with the same name.
inline constexpr std::size_t kMaxHubText = 254;

struct PortSlot {
    std::string hub; // the hub's id as the system names it ("1-2")
    int port = -1;   // -1: the slot is empty (its hub text then means nothing)

    bool used() const { return port != -1; }
};

// Whether (hub, port) can be remembered and found again: a located USB port
// (1 to 65535) on a hub whose id is 1 to 254 printable characters, without
// blanks at either end.
bool RememberablePort(std::string_view hub, int port);

class PortMemory {
public:
    // The index (0 to 15) of the slot holding exactly (hub, port), letter
    // case counting; -1 when none does.
    int FindPortSlot(std::string_view hub, int port) const;
    // Used slots; they are always slots 0 to n-1.
    int UsedSlotCount() const;
    // Stores (hub, port) in `slot`: 1 when stored; 0 when nothing changed
    // (the pair is in a slot already, `slot` is not 0 to 15, or the pair
    // cannot be remembered).
    int LearnPort(std::string_view hub, int port, int slot);
    // Every slot empty; the hub texts stay but no longer count.
    void Clear();

    const PortSlot& slot(int index) const { return slots_.at(static_cast<std::size_t>(index)); }

private:
    std::array<PortSlot, kPortSlotCount> slots_;
};

struct PortMemoryLoad {
    int count = 0;       // slots read
    std::string problem; // why a stored table was not taken; empty when none was refused
};

// Reads the store into `memory` (emptied first). A table of 1 to 16 valid
// slots: the slots, state Standby. No table ("SavedCount" missing or 0, no
// store yet) or one that cannot be trusted (damaged file, "SavedCount" above
// 16, a slot missing, unreadable or repeated): every slot empty, state
// Learning, and `problem` names what was refused.
PortMemoryLoad LoadPortMemory(platform::PortStore& store, PortMemory& memory,
                              MultiBurnState& state);

struct PortMemorySave {
    bool written = false;
    int count = 0;       // slots written
    std::string problem; // why the store was not written
};

// Writes every used slot and their count as "SavedCount", keeping the
// store's other values. State Standby when a slot was written, else
// Learning; the same when the write failed, since this run holds the slots
// either way (the failure is for the caller to report).
PortMemorySave SavePortMemory(platform::PortStore& store, const PortMemory& memory,
                              MultiBurnState& state);

} // namespace tessell
