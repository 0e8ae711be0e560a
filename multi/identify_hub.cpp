#include "multi/identify_hub.h"

#include <cstdio>

namespace tessell {

std::string PortRememberedMessage(int index) {
    char text[96];
    if (index < kPortSlotCount - 1)
        std::snprintf(text, sizeof text, "Port %02d remember!  (plug-out and plug-in port %d)",
                      index + 1, index + 2);
    else
        std::snprintf(text, sizeof text, "Port %02d remember!", index + 1);
    return text;
}

std::vector<PortSettingRow> PortSettingRows(const PortMemory& memory, MultiBurnState state) {
    std::vector<PortSettingRow> rows;
    bool arrowShown = state != MultiBurnState::Learning;
    for (int index = 0; index < kPortSlotCount; ++index) {
        const PortSlot& slot = memory.slot(index);
        char number[16];
        PortSettingRow row;
        if (slot.used()) {
            std::snprintf(number, sizeof number, "%02d", index + 1);
            row.hub = slot.hub;
            row.port = std::to_string(slot.port);
        } else {
            std::snprintf(number, sizeof number, arrowShown ? "%02d" : "%02d =>", index + 1);
            arrowShown = true;
        }
        row.number = number;
        rows.push_back(std::move(row));
    }
    return rows;
}

IdentifyHub::IdentifyHub(PortMemory& memory, MultiBurnState& state, PortSettingView& view)
    : memory_(memory), state_(state), view_(view) {}

void IdentifyHub::OnInitDialog(int cameraCount) {
    fillList();
    if (cameraCount > 1)
        view_.showMessage(kRemoveAllCameras);
    else if (cameraCount == 0)
        view_.showMessage(kPlugSameCamera);
    else
        view_.showMessage("");
}

void IdentifyHub::OnClear() {
    memory_.Clear();
    state_ = MultiBurnState::Learning;
    fillList();
}

PortMemorySave IdentifyHub::OnOK(platform::PortStore& store) {
    return SavePortMemory(store, memory_, state_);
}

void IdentifyHub::fillList() {
    view_.showRows(PortSettingRows(memory_, state_));
}

void IdentifyHub::showMessage(std::string_view text) {
    view_.showMessage(text);
}

} // namespace tessell
