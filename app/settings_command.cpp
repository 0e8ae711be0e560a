#include "app/settings_command.h"

#include "app/paths.h"
#include "common/json_text.h"
#include "common/path_text.h"
#include "logs/result_template.h"
#include "records/line_database.h"

#include <ostream>

namespace tessell {

namespace {

nlohmann::ordered_json placeholderNames(std::string_view text) {
    // The canonical spelling of each kind, in the enumeration's order.
    static constexpr const char* kNames[] = {"ic",     "pid",     "vid", "bcd", "sn",
                                             "result", "errcode", "tab", "nl",  "Y",
                                             "m",      "d",       "H",   "M",   "S"};
    auto names = nlohmann::ordered_json::array();
    for (const PlaceholderKind kind : ParseResultTemplate(text).placeholders)
        names.push_back(kNames[static_cast<std::size_t>(kind)]);
    return names;
}

constexpr const char* settingsUsage =
    "Usage: tessell settings [--pid ID] [--json]\n"
    "  Prints the effective settings of the program folder as JSON (--json is\n"
    "  accepted like every command that prints JSON; the output is the same).\n"
    "  --pid ID   also print the image chosen for product ID (hex)\n";

nlohmann::ordered_json optionalCode(const std::optional<std::uint8_t>& code) {
    return code ? nlohmann::ordered_json(*code) : nlohmann::ordered_json(nullptr);
}

} // namespace

nlohmann::ordered_json SettingsJson(const std::filesystem::path& programFolder,
                                    const SettingsFileChoice& file, const ToolSettings& settings,
                                    const std::optional<std::string>& imagePath) {
    using Json = nlohmann::ordered_json;
    Json setting = {
        {"MultipleMode", settings.multipleMode},
        {"SNFile", settings.snFilePath},
        {"rework", settings.reworkFlag},
        {"Preview", settings.preview},
        {"BurnSN", settings.burnSnFlag},
        {"CmdLineMode", settings.cmdLineMode},
        {"CmdLineMsg", settings.cmdLineMsg},
        {"WriteLog", settings.writeLog},
        {"SFType", settings.sfType},
        {"CheckPidVid", settings.checkPidVid},
        {"AutoDL", settings.autoDL},
        {"Cam_Num", settings.camNum},
        {"Preview_Time", settings.previewTimeMs},
        {"ChooseBinUsePid", settings.chooseBinUsePid},
        {"BIN", settings.bin},
        {"LEDTest", settings.ledTest},
        {"ShowDump", settings.showDump},
        {"Erase", settings.erase},
        {"SNAddr", settings.snAddr},
        {"checkac", settings.checkac},
        {"RomBurn", settings.romBurn},
        {"Timeout", settings.timeout},
        {"ShowSN", settings.showSN},
        {"Rev", settings.rev},
        {"ShowFWVer", settings.showFWVer},
        {"isMCM", settings.isMCM},
        {"NUM", settings.num},
        {"forcedFlashCode", optionalCode(settings.flashType.forcedCode())},
    };
    Json devices = Json::array();
    for (const DeviceIds& device : settings.devices)
        devices.push_back({{"PID", device.pid}, {"VID", device.vid}});

    Json document;
    document["programFolder"] = pathText(programFolder);
    document["file"] = file.fileName.empty() ? Json(nullptr) : Json(file.fileName);
    document["settingsIndex"] = file.settingsIndex ? Json(*file.settingsIndex) : Json(nullptr);
    document["SETTING"] = std::move(setting);
    document["forcedFlashCode"] = optionalCode(settings.flashType.forcedCode());
    document["DEVICE"] = std::move(devices);
    document["LOG"] = {{"HEADER", settings.logHeader}, {"FORMAT", settings.logFormat}};
    // Never a password: the file may hold one, this output is for anyone.
    document["LINE"] = {{"Database", settings.lineDatabase.empty()
                                         ? Json(nullptr)
                                         : Json(maskConnectionPassword(settings.lineDatabase))},
                        {"Station", settings.station},
                        {"History", settings.history},
                        {"SerialsInMultiBurn", settings.serialsInMultiBurn}};
    // What each template will fill in, so a station's result format can be
    // checked before a shift; kept beside "LOG" so that object stays two texts.
    document["LOGPlaceholders"] = {{"HEADER", placeholderNames(settings.logHeader)},
                                   {"FORMAT", placeholderNames(settings.logFormat)}};
    if (imagePath)
        document["imagePath"] = *imagePath;
    return document;
}

std::optional<std::uint16_t> ParsePidArgument(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    for (char c : text) {
        const bool hexDigit =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hexDigit)
            return std::nullopt;
    }
    return static_cast<std::uint16_t>(ParseHex(text));
}

int runSettingsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::optional<std::uint16_t> productId;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out << settingsUsage;
            return 0;
        }
        if (arg == "--json")
            continue;
        std::string value;
        if (arg == "--pid") {
            if (i + 1 >= args.size()) {
                err << "tessell settings: --pid needs a product ID (hexadecimal, e.g. 0x1234)\n";
                return 2;
            }
            value = args[++i];
        } else if (arg.rfind("--pid=", 0) == 0) {
            value = arg.substr(6);
        } else {
            err << "tessell settings: unknown argument '" << arg << "'\n" << settingsUsage;
            return 2;
        }
        if (productId) {
            err << "tessell settings: --pid given more than once\n";
            return 2;
        }
        productId = ParsePidArgument(value);
        if (!productId) {
            err << "tessell settings: '" << value
                << "' is not a product ID (one to four hexadecimal digits, e.g. 0x1234)\n";
            return 2;
        }
    }

    const auto folder = programFolder();
    ToolSettingsInput input;
    input.file = ChooseSettingsFile(folder);
    input.programFolder = folder;
    input.productId = productId.value_or(0);
    const PrivateProfile file = PrivateProfile::load(input.file.path);
    const SettingsFileCheck check = checkSettingsFile(input.file, file);
    // Defaults under the name of a file that cannot be read would tell a
    // station's script that all is well.
    if (!check.stop.empty()) {
        err << "tessell settings: " << check.stop << "\n";
        return 2;
    }
    if (!check.warning.empty())
        err << "tessell settings: warning: " << check.warning << "\n";
    const ToolSettingsResult result = ReadToolSettings(file, input);

    std::optional<std::string> imagePath;
    if (productId) {
        imagePath = result.imagePath;
        if (!result.imagePathRefusal.empty())
            err << "tessell settings:" << result.imagePathRefusal;
    }
    out << jsonText(SettingsJson(folder, input.file, result.settings, imagePath), 2) << '\n';
    return 0;
}

} // namespace tessell
