#include "station/settings.h"

#include "common/path_text.h"
#include "common/utf16_text.h"
#include "platform/system.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <system_error>

namespace tessell {

namespace {

constexpr std::string_view settingSection = "SETTING";
constexpr std::string_view deviceSection = "DEVICE";
constexpr std::string_view logSection = "LOG";
constexpr std::string_view lineSection = "LINE";

// Buffer sizes of the reads, in characters with the terminating NUL: a value
// keeps at most one character less.
constexpr std::size_t snFileChars = 260;
constexpr std::size_t previewTimeChars = 6;
constexpr std::size_t binChars = 512;
constexpr std::size_t hexChars = 20;
constexpr std::size_t templateChars = 2000;
constexpr std::size_t numChars = 260;
constexpr std::size_t lineTextChars = 1999;
constexpr std::size_t pidIniBinChars = 256;
constexpr std::size_t lineChars = 512;

// `SFType` 1 to 13; the codes and their flash parts belong to the flash table.
constexpr std::array<std::uint8_t, 13> forcedFlashCodes = {0x79, 0x7A, 0x7E, 0x7D, 0x7F, 0x80, 0x81,
                                                           0x7C, 0x83, 0x85, 0x86, 0x87, 0x88};

bool isExistingFile(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

// programFolder joined with a name from a settings file. Text concatenation,
// as the stations do it: a name is always taken below programFolder, even one
// that starts with a separator. Backslashes in the name separate folders;
// the result has the system's own separator ('\\' on Windows).
std::string joinProgramPath(const std::filesystem::path& programFolder, std::string_view name) {
    constexpr char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    std::string path = pathText(programFolder);
    if (path.empty() || path.back() != separator)
        path += separator;
    for (char c : name)
        path += c == '\\' || c == '/' ? separator : c;
    return path;
}

// "" and "TRUE" (an option given without a value) name no image.
bool namesImage(std::string_view namedImage) {
    return !namedImage.empty() && namedImage != "TRUE";
}

} // namespace

SettingsFileChoice ChooseSettingsFile(const std::filesystem::path& programFolder) {
    for (std::size_t index = 0; index < settingsFileNames.size(); ++index) {
        const std::string name(settingsFileNames[index]);
        const std::filesystem::path path = textPath(joinProgramPath(programFolder, name));
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(path, error)))
            return {path, static_cast<int>(index), name, " Load " + name + " \r\n\r\n"};
    }
    return {programFolder, std::nullopt, {}, {}};
}

SettingsFileCheck checkSettingsFile(const SettingsFileChoice& choice, const PrivateProfile& file) {
    SettingsFileCheck check;
    if (!choice.settingsIndex)
        return check;
    const std::string named = "the settings file \"" + pathText(choice.path) + "\"";
    std::error_code error;
    const auto status = std::filesystem::status(choice.path, error);
    if (std::filesystem::is_directory(status))
        check.stop = named + " is a folder";
    else if (file.status() != PrivateProfile::Status::Loaded)
        check.stop = named + " cannot be read: " +
                     (file.problem().empty() ? std::string("it cannot be opened") : file.problem());
    else if (file.yieldsNoKey())
        check.warning = named + " holds no key the tool can read (is it saved in another "
                                "encoding?); every setting takes its default";
    return check;
}

std::uint32_t ParseHex(std::string_view text) {
    std::size_t pos = 0;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        pos = 2;
    std::uint32_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else
            break;
        value = (value << 4) | digit;
    }
    return value;
}

FlashTypeChoice FlashTypeFromSFType(int sfType) {
    if (sfType == 0)
        return {FlashTypeChoice::Kind::AskCamera, 0};
    if (sfType >= 1 && sfType <= static_cast<int>(forcedFlashCodes.size()))
        return {FlashTypeChoice::Kind::Forced,
                forcedFlashCodes[static_cast<std::size_t>(sfType - 1)]};
    return {FlashTypeChoice::Kind::LeaveUnset, 0};
}

int PreviewTimeMs(std::string_view text) {
    constexpr int defaultMs = 3000;
    constexpr long long largestSeconds = INT_MAX / 1000;
    std::size_t pos = 0;
    while (pos < text.size() && static_cast<unsigned char>(text[pos]) <= ' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    long long seconds = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
        seconds = std::min(seconds * 10 + (text[pos] - '0'), largestSeconds);
    if (negative || seconds < 1)
        return defaultMs;
    return static_cast<int>(seconds * 1000);
}

std::string ToolSettingsResult::appendedLog() const {
    std::string text;
    for (const SettingsStep& step : steps) {
        if (step.action == SettingsAction::AppendLog)
            text += step.text;
    }
    return text;
}

ImagePathChoice checkedImagePath(std::string path) {
    const std::size_t limit = platform::maximumPathBytes();
    if (path.size() <= limit)
        return {std::move(path), {}};
    return {{},
            " Image path longer than " + std::to_string(limit) + " bytes, not used: " + path +
                "\r\n\r\n"};
}

ImagePathChoice ImagePathFromBin(const std::filesystem::path& programFolder, std::string_view bin) {
    return checkedImagePath(joinProgramPath(programFolder, bin));
}

PrivateProfile LoadPidIni(const std::filesystem::path& programFolder) {
    return PrivateProfile::load(textPath(joinProgramPath(programFolder, "pid.ini")));
}

std::optional<std::uint16_t> PidFromSectionName(std::string_view name) {
    constexpr std::string_view prefix = "PID_";
    if (name.size() != prefix.size() + 4)
        return std::nullopt;
    for (std::size_t pos = 0; pos < prefix.size(); ++pos) {
        const char c = name[pos];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != prefix[pos])
            return std::nullopt;
    }
    std::uint16_t value = 0;
    for (const char c : name.substr(prefix.size())) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return std::nullopt;
        value = static_cast<std::uint16_t>((value << 4) | digit);
    }
    return value;
}

std::optional<std::string> PidIniSection(const PrivateProfile& pidIni, std::uint16_t productId) {
    // Every section by its whole name: a short or odd name before the one
    // for this camera neither hides it nor stands in for it.
    for (const std::string& name : pidIni.sectionNameList())
        if (PidFromSectionName(name) == productId)
            return name;
    return std::nullopt;
}

ImagePathChoice ChooseImageByPid(const PrivateProfile& pidIni,
                                 const std::filesystem::path& programFolder,
                                 std::uint16_t productId) {
    if (productId == 0)
        return {};
    std::string bin;
    if (const std::optional<std::string> section = PidIniSection(pidIni, productId))
        bin = pidIni.getString(*section, "BIN", "SF.bin", pidIniBinChars);
    return checkedImagePath(joinProgramPath(programFolder, "bin/" + bin));
}

ImagePathChoice ChooseImageByPid(const std::filesystem::path& programFolder,
                                 std::uint16_t productId) {
    if (productId == 0)
        return {};
    return ChooseImageByPid(LoadPidIni(programFolder), programFolder, productId);
}

ToolSettingsResult ReadToolSettings(const ToolSettingsInput& input) {
    return ReadToolSettings(PrivateProfile::load(input.file.path), input);
}

ToolSettingsResult ReadToolSettings(const PrivateProfile& settingsFile,
                                    const ToolSettingsInput& input) {
    ToolSettingsResult result;
    ToolSettings& settings = result.settings;
    auto& steps = result.steps;
    const auto step = [&](SettingsAction action) { steps.push_back({action, {}}); };
    const auto appendLog = [&](std::string text) {
        steps.push_back({SettingsAction::AppendLog, std::move(text)});
    };
    const auto readInt = [&](std::string_view key, int defaultValue) {
        return settingsFile.getInt(settingSection, key, defaultValue);
    };
    const auto readText = [&](std::string_view key, std::string_view defaultValue,
                              std::size_t chars) {
        return settingsFile.getString(settingSection, key, defaultValue, chars);
    };
    const int settingsIndex = input.file.settingsIndex.value_or(-1);
    settings.settingsIndex = input.file.settingsIndex;

    // Read elsewhere (start-up, the dialog's initialisation, the multi-camera
    // dialog) from the same file; kept here so that one record holds them all.
    settings.multipleMode = readInt("MultipleMode", 0);
    settings.showFWVer = readInt("ShowFWVer", 0);
    settings.isMCM = readInt("isMCM", 0);
    settings.num = readText("NUM", "8", numChars);

    settings.lineDatabase = settingsFile.getString(lineSection, "Database", "", lineTextChars);
    if (settings.lineDatabase.empty())
        if (const char* variable = std::getenv(kDatabaseVariable))
            settings.lineDatabase = variable;
    settings.serialsInMultiBurn = settingsFile.getInt(lineSection, "SerialsInMultiBurn", 0);

    step(SettingsAction::UncheckOutputLogFile);

    settings.snFile = readText("SNFile", "", snFileChars);
    if (!settings.snFile.empty()) {
        settings.snFilePath = joinProgramPath(input.programFolder, settings.snFile);
        if (isExistingFile(settings.snFilePath)) {
            settings.burnSnFlag = 1;
            appendLog(" Load" + settings.snFilePath + " .\r\n\r\n");
        } else {
            // A station set up for serial numbers never passes a camera
            // without one: its downloads fail until the file is there.
            settings.burnSnFlag = 1;
            appendLog(" Load" + settings.snFilePath + " fail.\r\n\r\n");
        }
    }
    step(SettingsAction::ShowLog);

    step(SettingsAction::UncheckReworkToggle);
    step(SettingsAction::HideReworkToggle);

    if (settingsIndex == settingsIndexRework) {
        step(SettingsAction::EnableReworkToggle);
        step(SettingsAction::ShowReworkToggle);
        if (readInt("rework", 0) != 0) {
            step(SettingsAction::CheckReworkToggle);
            step(SettingsAction::RunReworkHandler);
            // The handler takes the box's state with "moravel.ini" chosen.
            settings.reworkFlag = 1;
        }
    } else if (settingsIndex == settingsIndexPreview) {
        step(SettingsAction::EnablePreviewBox);
        step(SettingsAction::ShowPreviewBox);
        settings.preview = readInt("Preview", 0);
        if (settings.preview != 0) {
            step(SettingsAction::CheckPreviewBox);
            step(SettingsAction::HideLogBox);
            step(SettingsAction::ShowPreviewPicture);
            step(SettingsAction::ShowPreviewLabel);
            step(SettingsAction::StartPreview);
        } else {
            step(SettingsAction::UncheckPreviewBox);
            step(SettingsAction::ShowLogBox);
            step(SettingsAction::HidePreviewPicture);
            step(SettingsAction::HidePreviewLabel);
        }
        step(SettingsAction::UncheckReworkToggle);
        step(SettingsAction::HideReworkToggle);
    } else if (settingsIndex == settingsIndexBurnSerial) {
        settings.burnSnFlag = readInt("BurnSN", 0);
        settings.snFormat = readText("SNFormat", "SY%Y%m%d%H%M%S", templateChars);
    }

    settings.cmdLineMode = readInt("CmdLineMode", 0);
    if (settings.cmdLineMode == 1)
        step(SettingsAction::SetCmdLineMode);
    settings.cmdLineMsg = readInt("CmdLineMsg", 0);
    if (settings.cmdLineMsg == 1)
        step(SettingsAction::SetMsgMode);
    settings.writeLog = readInt("WriteLog", 0);
    settings.sfType = readInt("SFType", 0);
    settings.flashType = FlashTypeFromSFType(settings.sfType);
    settings.checkPidVid = readInt("CheckPidVid", 0);
    settings.autoDL = readInt("AutoDL", 0);

    settings.camNum = readInt("Cam_Num", 0);
    settings.revCheck = settings.camNum != 0;
    // The table holds 20 pairs; a larger count still switches the check on
    // but reads no more pairs.
    const int pairs = std::min(settings.camNum, maximumDevicePairs);
    for (int n = 1; n <= pairs; ++n) {
        const std::string number = std::to_string(n);
        settings.devices.push_back(
            {ParseHex(settingsFile.getString(deviceSection, "PID_" + number, "0000", hexChars)),
             ParseHex(settingsFile.getString(deviceSection, "VID_" + number, "0000", hexChars))});
    }

    settings.preview = readInt("Preview", 0);
    if (settings.preview != 0) {
        step(SettingsAction::CheckPreviewBox);
        step(SettingsAction::EnablePreviewBox);
        step(SettingsAction::ShowPreviewBox);
    } else {
        step(SettingsAction::UncheckPreviewBox);
    }

    settings.previewTimeMs = PreviewTimeMs(readText("Preview_Time", "3", previewTimeChars));

    settings.chooseBinUsePid = readInt("ChooseBinUsePid", 0);
    if (namesImage(input.namedImage))
        settings.chooseBinUsePid = 0;

    settings.bin = readText("BIN", "SF.bin", binChars);
    result.imagePath = input.imagePath;
    std::optional<ImagePathChoice> image;
    if (settings.chooseBinUsePid == 1)
        image = ChooseImageByPid(input.programFolder, input.productId);
    else if (result.imagePath.empty())
        image = ImagePathFromBin(input.programFolder, settings.bin);
    if (image) {
        result.imagePath = image->path;
        result.imagePathRefusal = image->refusal;
        if (!image->refusal.empty())
            appendLog(image->refusal);
    }

    settings.ledTest = readInt("LEDTest", 0);
    settings.showDump = readInt("ShowDump", 0);
    settings.logHeader = settingsFile.getString(logSection, "HEADER", "", templateChars);
    settings.logFormat = settingsFile.getString(logSection, "FORMAT", "", templateChars);
    settings.erase = readInt("Erase", 0);
    settings.snAddr = static_cast<std::uint8_t>(readInt("SNAddr", 0) & 0xFF);
    settings.checkac = static_cast<std::uint8_t>(readInt("checkac", 0) & 0xFF);
    settings.romBurn = readInt("RomBurn", 0);
    settings.timeout = std::min(readInt("Timeout", 30), maximumTimeoutSeconds);
    settings.showSN = readInt("ShowSN", 0);
    settings.rev = static_cast<std::uint8_t>(ParseHex(readText("Rev", "38", hexChars)) & 0xFF);

    settings.station = settingsFile.getString(lineSection, "Station", "", lineChars);
    settings.history = settingsFile.getString(lineSection, "History", "", lineChars);
    return result;
}

} // namespace tessell
