#pragma once

// "Port Setting" (`IdentifyHub`): the dialog in which the operator teaches
// the multi-camera tool its hub ports, one camera plugged into each port in
// turn. It shows the 16 slots and one message line; "Celar" forgets every
// port and OK saves them. What it shows goes through a PortSettingView: the
// window, or the lines of `tessell ports teach`. Dialog's thread only.

#include "multi/multi_burn_state.h"
#include "multi/port_memory.h"
#include "platform/port_store.h"

#include <string>
#include <string_view>
#include <vector>

namespace tessell {

inline constexpr std::string_view kPortSettingTitle = "Port Setting";
inline constexpr std::string_view kRemoveAllCameras = "Please remove all cameras!";
inline constexpr std::string_view kPlugSameCamera = "Please use the same camera plug in!";

// One row of the list: the columns "NO.", "Hub Name" and "Port".
struct PortSettingRow {
    std::string number; // "05", or "05 =>" on the slot to teach next
    std::string hub;
    std::string port;
    friend bool operator==(const PortSettingRow&, const PortSettingRow&) = default;
};

class PortSettingView {
public:
    virtual ~PortSettingView() = default;
    // The message line shows exactly `text`.
    virtual void showMessage(std::string_view text) = 0;
    // The list shows exactly these rows, slot 01 first.
    virtual void showRows(const std::vector<PortSettingRow>& rows) = 0;
};

// "Port NN remember!" for the slot at `index` (0 to 15); below the 16th slot
// it names the port to plug next.
std::string PortRememberedMessage(int index);

// The 16 rows for `memory`. While teaching, the first empty slot carries the
// arrow that marks the port to plug next.
std::vector<PortSettingRow> PortSettingRows(const PortMemory& memory, MultiBurnState state);

class IdentifyHub {
public:
    IdentifyHub(PortMemory& memory, MultiBurnState& state, PortSettingView& view);

    // Fills the list and tells the operator where to start, from the number
    // of cameras attached when the dialog opened: teaching wants exactly one.
    void OnInitDialog(int cameraCount);
    // "Celar": every port forgotten, teaching starts again at slot 01. The
    // store keeps the old table until OK.
    void OnClear();
    // OK: the slots go to the store.
    PortMemorySave OnOK(platform::PortStore& store);

    // For teaching, while the dialog is open.
    void fillList();
    void showMessage(std::string_view text);

private:
    PortMemory& memory_;
    MultiBurnState& state_;
    PortSettingView& view_;
};

} // namespace tessell
