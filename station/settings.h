#pragma once

// The station's settings: which settings file is used, every value the
// single-camera tool keeps from it (`ToolSettings`), and the choice of the
// firmware image by the camera's product ID from "pid.ini".
//
// Everything here is a function of the files and its arguments; nothing
// touches a window. What the dialog must do with its controls is returned as
// an ordered list of steps for the controller to apply.

#include "station/private_profile.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

// The settings files in the order they are tried; the position is the
// `settingsIndex`. 1 to 5 are customer variants with a few special rules.
inline constexpr std::array<std::string_view, 6> settingsFileNames = {
    "setting.ini", "brevik.ini", "moravel.ini", "tanquil.ini", "osterby.ini", "calden.ini"};

inline constexpr int settingsIndexRework = 2;     // "moravel.ini": the Re-Work toggle
inline constexpr int settingsIndexPreview = 3;    // "tanquil.ini": preview at start
inline constexpr int settingsIndexBurnSerial = 5; // "calden.ini": BurnSN, SNFormat

struct SettingsFileChoice {
    // programFolder + "/" + the name; programFolder itself when no file exists
    // (every key then takes its default).
    std::filesystem::path path;
    std::optional<int> settingsIndex;
    std::string fileName;
    // " Load setting.ini \r\n\r\n" with the chosen name, for the log; empty
    // when no settings file exists.
    std::string loadLine;
};

// The first of settingsFileNames that exists in programFolder. Names are
// matched exactly as written. A name that exists as something that cannot
// be read (a folder, say) is still the choice: checkSettingsFile stops the
// tool there rather than let a later name, or every default, stand in.
SettingsFileChoice ChooseSettingsFile(const std::filesystem::path& programFolder);

// What start-up must say about the chosen settings file.
struct SettingsFileCheck {
    // Why the file cannot be used; the tool does not run on defaults under
    // its name. Empty when it can be used, or when there is no settings file.
    std::string stop;
    // A file that reads but yields no key (in a foreign encoding, say):
    // every setting takes its default.
    std::string warning;
};
SettingsFileCheck checkSettingsFile(const SettingsFileChoice& choice, const PrivateProfile& file);

// `Timeout`, the module's one-second checksum-busy polls, is held at this
// many: a station file cannot make the tool wait for days.
inline constexpr int maximumTimeoutSeconds = 600;

// Hexadecimal text as the settings use it: letter case ignored, a leading "0x"
// skipped, digits taken up to the first other character ("12G4" gives 0x12),
// empty text 0. Digits beyond eight wrap (only the last eight count).
std::uint32_t ParseHex(std::string_view text);

// `SFType`: 0 asks the camera for its flash type, 1 to 13 force a code, any
// other value leaves the flash type unset and the camera is not asked.
struct FlashTypeChoice {
    enum class Kind { AskCamera, Forced, LeaveUnset };
    Kind kind = Kind::AskCamera;
    std::uint8_t code = 0; // meaningful only when kind is Forced

    std::optional<std::uint8_t> forcedCode() const {
        return kind == Kind::Forced ? std::optional<std::uint8_t>(code) : std::nullopt;
    }
};
FlashTypeChoice FlashTypeFromSFType(int sfType);

// `Preview_Time` (seconds, as text) to milliseconds: below 1 or not a number
// gives 3000, otherwise seconds x 1000 ("12" gives 12000, "x" gives 3000).
int PreviewTimeMs(std::string_view text);

struct DeviceIds {
    std::uint32_t pid = 0;
    std::uint32_t vid = 0;
};

// At most this many [DEVICE] pairs are read.
inline constexpr int maximumDevicePairs = 20;

// The values the single-camera tool keeps from the settings file. Defaults
// are those of a station without a settings file.
struct ToolSettings {
    std::optional<int> settingsIndex;

    int multipleMode = 0;           // `MultipleMode`, read by start-up
    std::string snFile;             // `SNFile` as written in the file
    std::string snFilePath;         // programFolder + "/" + `SNFile`; "" when `SNFile` is empty
    int reworkFlag = 0;             // 1 when "moravel.ini" starts the Re-Work toggle checked
    int preview = 0;                // `Preview`, the preview flag
    int burnSnFlag = 0;             // serial-number file found, or `BurnSN` for "calden.ini"
    int cmdLineMode = 0;            // `CmdLineMode` as read (1 switches command-line mode on)
    int cmdLineMsg = 0;             // `CmdLineMsg` as read (1 switches message mode on)
    int writeLog = 0;               // `WriteLog`
    int sfType = 0;                 // `SFType` as read
    FlashTypeChoice flashType;      // what `SFType` means
    int checkPidVid = 0;            // `CheckPidVid`
    int autoDL = 0;                 // `AutoDL`
    int camNum = 0;                 // `Cam_Num`, the identity-check count
    bool revCheck = false;          // `Cam_Num` non-zero
    std::vector<DeviceIds> devices; // [DEVICE] PID_n / VID_n, n = 1 .. min(Cam_Num, 20)
    int previewTimeMs = 3000;       // `Preview_Time` in milliseconds
    int chooseBinUsePid = 0;    // `ChooseBinUsePid`, 0 when an image is named on the command line
    std::string bin = "SF.bin"; // `BIN`
    int ledTest = 0;            // `LEDTest`
    int showDump = 0;           // `ShowDump`
    int erase = 0;              // `Erase`
    std::uint8_t snAddr = 0;    // `SNAddr`, low 8 bits
    std::uint8_t checkac = 0;   // `checkac`, low 8 bits
    int romBurn = 0;            // `RomBurn`
    int timeout = 30;           // `Timeout`, at most maximumTimeoutSeconds
    int showSN = 0;             // `ShowSN`
    std::uint8_t rev = 0x38;    // `Rev`, the chip code `RevCheck` expects
    int showFWVer = 0;          // `ShowFWVer`
    int isMCM = 0;              // `isMCM`
    std::string num = "8";      // `NUM`, multi-camera dialog only
    std::string logHeader;      // [LOG] `HEADER`, raw template text
    std::string logFormat;      // [LOG] `FORMAT`, raw template text
    std::optional<std::string> snFormat; // `SNFormat`, read for "calden.ini" only; not used

    // [LINE]: the station in the production line.
    std::string station; // `Station`, the name its records carry; empty: the host name
    std::string history; // `History`, the history file; empty: "history.db" in the program folder
    // `Database` (a libpq connection string), else the TESSELL_DATABASE
    // environment variable; "" for a station that works alone.
    std::string lineDatabase;
    int serialsInMultiBurn = 0; // `SerialsInMultiBurn`: each camera of a multi burn its own number
};

// The environment variable that names the line database when the settings
// file does not.
inline constexpr const char* kDatabaseVariable = "TESSELL_DATABASE";

// What ReadToolSettings asks of the dialog, in the order it must happen.
enum class SettingsAction {
    UncheckOutputLogFile,
    AppendLog, // append SettingsStep::text to the log text
    ShowLog,   // put the whole log text into the log box
    UncheckReworkToggle,
    HideReworkToggle,
    EnableReworkToggle,
    ShowReworkToggle,
    CheckReworkToggle,
    RunReworkHandler, // the Re-Work toggle's own handler, as if clicked
    EnablePreviewBox,
    ShowPreviewBox,
    CheckPreviewBox,
    UncheckPreviewBox,
    HideLogBox,
    ShowLogBox,
    ShowPreviewPicture,
    HidePreviewPicture,
    ShowPreviewLabel,
    HidePreviewLabel,
    StartPreview,
    SetCmdLineMode, // `cmdLineMode` = 1
    SetMsgMode,     // `msgMode` = 1
};

struct SettingsStep {
    SettingsAction action;
    std::string text; // for AppendLog

    bool operator==(const SettingsStep&) const = default;
};

struct ToolSettingsInput {
    SettingsFileChoice file;
    std::filesystem::path programFolder;
    std::string namedImage;      // image named on the command line; "" or "TRUE" name none
    std::string imagePath;       // the dialog's `imagePath` before the call
    std::uint16_t productId = 0; // of the open camera; 0 before the first selection
};

struct ToolSettingsResult {
    ToolSettings settings;
    std::string imagePath; // the dialog's `imagePath` after the call
    // The log line when the image path was too long and refused ("" if not);
    // it is also among the steps.
    std::string imagePathRefusal;
    std::vector<SettingsStep> steps;

    // Every AppendLog text, in order.
    std::string appendedLog() const;
};

// Reads `ToolSettings` from the settings file (loaded once here) and
// "pid.ini" when `ChooseBinUsePid` is 1.
ToolSettingsResult ReadToolSettings(const ToolSettingsInput& input);
ToolSettingsResult ReadToolSettings(const PrivateProfile& settingsFile,
                                    const ToolSettingsInput& input);

struct ImagePathChoice {
    std::string path;    // "" when refused
    std::string refusal; // the log text when the path was too long, else ""
};

// `path` itself, or refused with a log line when it is longer than the
// system takes (platform::maximumPathBytes).
ImagePathChoice checkedImagePath(std::string path);

// programFolder + "/" + `BIN`. Backslashes in `BIN` separate folders, as on
// the Windows stations the files come from.
ImagePathChoice ImagePathFromBin(const std::filesystem::path& programFolder, std::string_view bin);

// "pid.ini" of programFolder, read once.
PrivateProfile LoadPidIni(const std::filesystem::path& programFolder);

// The image for the camera's product ID: programFolder + "/bin/" + `BIN` of
// the first "pid.ini" section named for it (PidFromSectionName), however
// many sections come before it. With no match the path names the "bin"
// folder itself, so loading it fails. A product ID of 0 (no camera yet)
// gives "".
ImagePathChoice ChooseImageByPid(const PrivateProfile& pidIni,
                                 const std::filesystem::path& programFolder,
                                 std::uint16_t productId);
ImagePathChoice ChooseImageByPid(const std::filesystem::path& programFolder,
                                 std::uint16_t productId);

// The product ID a "pid.ini" section is for: a name of "PID_" (in any
// letter case) and exactly four hexadecimal digits; none for any other name,
// so that a section named otherwise never picks an image.
std::optional<std::uint16_t> PidFromSectionName(std::string_view name);

// The first "pid.ini" section named for `productId` (PidFromSectionName),
// however many sections come before it; none without one. Both tools find a
// camera's section by it. What they take from the section differs: the
// single-camera tool's `BIN` defaults to "SF.bin", the multi-camera
// station's to nothing, and only the station lets chip register 0x20FF
// choose the B5AC or B5AB section.
std::optional<std::string> PidIniSection(const PrivateProfile& pidIni, std::uint16_t productId);

} // namespace tessell
