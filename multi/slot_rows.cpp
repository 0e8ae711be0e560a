#include "multi/slot_rows.h"

#include <cstdio>

namespace tessell {

namespace {

bool running(std::uint8_t status) {
    return status >= 21 && status <= 23;
}

std::string rowNumber(int row) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", row + 1);
    return text;
}

} // namespace

std::string_view SlotStatusText(std::uint8_t status) {
    if (status == slot::kReady)
        return "Ready";
    if (running(status))
        return "Running";
    if (status == slot::kComplete)
        return "Complete";
    if (status == slot::kError)
        return "Error";
    return {};
}

RowColour SlotStatusColour(std::uint8_t status) {
    if (status == slot::kReady)
        return kRowReady;
    if (running(status))
        return kRowRunning;
    if (status == slot::kComplete)
        return kRowComplete;
    if (status == slot::kError)
        return kRowError;
    return kRowWhite;
}

std::string ProgressText(int progress) {
    std::string text = std::to_string(progress) + "%";
    for (int step = 0; step <= 96; step += 6)
        if (step < progress)
            text += '|';
    return text;
}

SlotRow SlotRowFor(int row, std::uint8_t status, int progress) {
    SlotRow shown;
    shown.number = rowNumber(row);
    shown.stat = status >= slot::kReady ? " O" : "--";
    shown.progress = ProgressText(progress);
    shown.status = std::string(SlotStatusText(status));
    shown.colour = SlotStatusColour(status);
    return shown;
}

SlotRow ClearedRow(int row) {
    SlotRow shown;
    shown.number = rowNumber(row);
    return shown;
}

} // namespace tessell
