#pragma once

// The 16 rows of the multi-camera window, one per camera position: what each
// row shows for its slot's status and progress. A station view (the window,
// the console of `tessell burn`) draws exactly these texts and colours.

#include <cstdint>
#include <string>
#include <string_view>

namespace tessell {

inline constexpr int kSlotRowCount = 16;

// A slot's status. The download procedure itself reports 21 to 23 while it
// runs; the station sets Ready, Complete and Error.
namespace slot {
constexpr std::uint8_t kIdle = 0; // not taking part
constexpr std::uint8_t kReady = 20;
constexpr std::uint8_t kComplete = 24;
constexpr std::uint8_t kError = 26;
} // namespace slot

struct RowColour {
    std::uint8_t red = 255;
    std::uint8_t green = 255;
    std::uint8_t blue = 255;
    friend bool operator==(const RowColour&, const RowColour&) = default;
};

inline constexpr RowColour kRowWhite{255, 255, 255};
inline constexpr RowColour kRowReady{200, 200, 200};
inline constexpr RowColour kRowRunning{255, 255, 0};
inline constexpr RowColour kRowComplete{0, 255, 0};
inline constexpr RowColour kRowError{255, 0, 0};

// The columns of one row: "NO.", "Stat", "Progress", "Status" (painted with
// `colour`) and the firmware file.
struct SlotRow {
    std::string number;
    std::string stat = "--";
    std::string progress;
    std::string status;
    RowColour colour = kRowWhite;
    std::string file;
    friend bool operator==(const SlotRow&, const SlotRow&) = default;
};

// "Ready", "Running", "Complete", "Error", or empty for any other value.
std::string_view SlotStatusText(std::uint8_t status);
RowColour SlotStatusColour(std::uint8_t status);
// "50%" and one bar for every step of 6 below the progress: 50 gives nine
// bars, 100 seventeen, 0 none.
std::string ProgressText(int progress);

// Row `row` (0 to 15) for a slot's status and progress; the file column is
// left empty for the caller.
SlotRow SlotRowFor(int row, std::uint8_t status, int progress);
// A row cleared of its camera: "--", no progress or status, white.
SlotRow ClearedRow(int row);

} // namespace tessell
