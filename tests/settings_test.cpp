#include "common/utf16_text.h"
#include "station/settings.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace tessell {
namespace {

// The separator the tool puts between a folder and a name.

using namespace std::string_literals;
using testing::TempDir;
using Action = SettingsAction;

std::string folderOf(const TempDir& dir) {
    return dir.path().string();
}

ToolSettingsResult readSettings(const TempDir& dir, std::string namedImage = "",
                                std::string imagePath = "", std::uint16_t productId = 0) {
    ToolSettingsInput input;
    input.file = ChooseSettingsFile(dir.path());
    input.programFolder = dir.path();
    input.namedImage = std::move(namedImage);
    input.imagePath = std::move(imagePath);
    input.productId = productId;
    return ReadToolSettings(input);
}

std::vector<Action> actionsOf(const ToolSettingsResult& result) {
    std::vector<Action> actions;
    for (const auto& step : result.steps)
        actions.push_back(step.action);
    return actions;
}

bool has(const ToolSettingsResult& result, Action action) {
    const auto actions = actionsOf(result);
    return std::find(actions.begin(), actions.end(), action) != actions.end();
}

TEST(SettingsFileChoice, FirstExistingNameInOrderWithItsLoadLine) {
    TempDir dir;
    auto none = ChooseSettingsFile(dir.path());
    EXPECT_EQ(none.path, dir.path());
    EXPECT_FALSE(none.settingsIndex);
    EXPECT_EQ(none.loadLine, "");

    // A folder of that name is still the choice, and one the tool refuses
    // to run on rather than take every default or a later name.
    std::filesystem::create_directory(dir / "setting.ini");
    dir.write("brevik.ini", "[SETTING]\nWriteLog=1\n");
    const auto folder = ChooseSettingsFile(dir.path());
    EXPECT_EQ(folder.settingsIndex, 0);
    EXPECT_EQ(checkSettingsFile(folder, PrivateProfile::load(folder.path)).stop,
              "the settings file \"" + folder.path.string() + "\" is a folder");
    EXPECT_EQ(checkSettingsFile(none, PrivateProfile::load(none.path)).stop, "");
    std::filesystem::remove(dir / "brevik.ini");
    std::filesystem::remove(dir / "setting.ini");

    for (int index = 5; index >= 1; --index) {
        const std::string name(settingsFileNames[static_cast<std::size_t>(index)]);
        dir.write(name, "[SETTING]\n");
        const auto choice = ChooseSettingsFile(dir.path());
        EXPECT_EQ(choice.settingsIndex, index);
        EXPECT_EQ(choice.fileName, name);
        EXPECT_EQ(choice.path, dir / name);
        EXPECT_EQ(choice.loadLine, " Load " + name + " \r\n\r\n");
    }
    std::filesystem::remove(dir / "setting.ini");
    dir.write("setting.ini", "");
    const auto first = ChooseSettingsFile(dir.path());
    EXPECT_EQ(first.settingsIndex, 0);
    EXPECT_EQ(first.loadLine, " Load setting.ini \r\n\r\n");
    const auto check = checkSettingsFile(first, PrivateProfile::load(first.path));
    EXPECT_EQ(check.stop, "");
    EXPECT_EQ(check.warning, "") << "an empty file asks for every default";

    // UTF-16 without its byte-order mark: read, but nothing in it is a key.
    dir.write("setting.ini", std::string("[\0S\0]\0\r\0\n\0k\0=\0\x31\0", 16));
    EXPECT_NE(checkSettingsFile(first, PrivateProfile::load(first.path))
                  .warning.find("holds no key the tool can read"),
              std::string::npos);
}

TEST(SettingsParsers, HexFlashTypeAndPreviewTime) {
    const std::pair<std::string, std::uint32_t> hex[] = {
        {"38", 0x38},     {"0x0a0b", 0x0A0B},
        {"12G4", 0x12},   {"", 0},
        {"5a", 0x5A},     {"5A", 0x5A},
        {"0x5A", 0x5A},   {"0X1f", 0x1F},
        {"x12", 0},       {"0x", 0},
        {"00x12", 0},     {" 12", 0},
        {"FFFF", 0xFFFF}, {"123456789", 0x23456789},
    };
    for (const auto& [text, value] : hex)
        EXPECT_EQ(ParseHex(text), value) << text;

    const std::uint8_t codes[] = {0x79, 0x7A, 0x7E, 0x7D, 0x7F, 0x80, 0x81,
                                  0x7C, 0x83, 0x85, 0x86, 0x87, 0x88};
    EXPECT_EQ(FlashTypeFromSFType(0).kind, FlashTypeChoice::Kind::AskCamera);
    EXPECT_FALSE(FlashTypeFromSFType(0).forcedCode());
    for (int type = 1; type <= 13; ++type) {
        EXPECT_EQ(FlashTypeFromSFType(type).kind, FlashTypeChoice::Kind::Forced);
        EXPECT_EQ(FlashTypeFromSFType(type).forcedCode(), codes[type - 1]) << type;
    }
    for (int type : {14, -1, 255}) {
        EXPECT_EQ(FlashTypeFromSFType(type).kind, FlashTypeChoice::Kind::LeaveUnset) << type;
        EXPECT_FALSE(FlashTypeFromSFType(type).forcedCode());
    }

    const std::pair<std::string, int> previewTimes[] = {
        {"0", 3000},         {"x", 3000},
        {"", 3000},          {"-5", 3000},
        {"1", 1000},         {"12", 12000},
        {"12abc", 12000},    {"+4", 4000},
        {"99999", 99999000}, {"99999999999", 2147483000},
    };
    for (const auto& [text, ms] : previewTimes)
        EXPECT_EQ(PreviewTimeMs(text), ms) << text;
}

TEST(ToolSettingsRead, WithoutSettingsFileEverythingTakesItsDefault) {
    TempDir dir;
    const auto result = readSettings(dir);
    const ToolSettings& s = result.settings;
    EXPECT_FALSE(s.settingsIndex);
    EXPECT_EQ(s.snFilePath, "");
    EXPECT_EQ(s.burnSnFlag, 0);
    EXPECT_EQ(s.timeout, 30);
    EXPECT_EQ(s.rev, 0x38);
    EXPECT_EQ(s.previewTimeMs, 3000);
    EXPECT_EQ(s.bin, "SF.bin");
    EXPECT_EQ(s.num, "8");
    EXPECT_EQ(s.flashType.kind, FlashTypeChoice::Kind::AskCamera);
    EXPECT_FALSE(s.revCheck);
    EXPECT_TRUE(s.devices.empty());
    EXPECT_FALSE(s.snFormat);
    EXPECT_EQ(result.imagePath, folderOf(dir) + testing::kPathSeparator + "SF.bin");
    EXPECT_EQ(result.appendedLog(), "");
    const std::vector<Action> expected = {Action::UncheckOutputLogFile, Action::ShowLog,
                                          Action::UncheckReworkToggle, Action::HideReworkToggle,
                                          Action::UncheckPreviewBox};
    EXPECT_EQ(actionsOf(result), expected);
}

TEST(ToolSettingsRead, KeysAsTheStationsWriteThem) {
    TempDir dir;
    dir.write("setting.ini", "[setting]\r\n"
                             "  bin = \"my image.bin\"  \r\n"
                             "rev=0x5A\r\n"
                             "sftype=14\r\n"
                             "Preview_Time=12\r\n"
                             "SNAddr=0x1FF\r\n"
                             "SNAddr=511\r\n"
                             "checkac=257\r\n"
                             "Timeout=45s\r\n"
                             "NUM=12\r\n"
                             "[LOG]\r\n"
                             "HEADER=" +
                                 std::string(2500, 'h') +
                                 "\r\n"
                                 "FORMAT='{pid}{tab}{result}'\r\n");
    const auto s = readSettings(dir).settings;
    EXPECT_EQ(s.bin, "my image.bin");
    EXPECT_EQ(s.rev, 0x5A);
    EXPECT_EQ(s.sfType, 14);
    EXPECT_EQ(s.flashType.kind, FlashTypeChoice::Kind::LeaveUnset);
    EXPECT_EQ(s.previewTimeMs, 12000);
    EXPECT_EQ(s.snAddr, 0); // the first SNAddr wins: "0x1FF" reads as 0
    EXPECT_EQ(s.checkac, 1);
    EXPECT_EQ(s.timeout, 45);
    EXPECT_EQ(s.num, "12");
    EXPECT_EQ(s.logHeader, std::string(1999, 'h'));
    EXPECT_EQ(s.logFormat, "{pid}{tab}{result}");

    for (const char* rev : {"5a", "5A", "0x5A", "0x5a", "15A"}) {
        dir.write("setting.ini",
                  "[SETTING]\nRev="s + rev + "\nPreview_Time=x\nSNAddr=511\nTimeout=abc\n");
        const auto again = readSettings(dir).settings;
        EXPECT_EQ(again.rev, 0x5A) << rev;
        EXPECT_EQ(again.timeout, 30); // not a number: the default
        EXPECT_EQ(again.previewTimeMs, 3000);
        EXPECT_EQ(again.snAddr, 0xFF);
    }
}

TEST(ToolSettingsRead, SerialNumberFileAndCaldenBurnSn) {
    TempDir dir;
    dir.write("sn.txt", "AB12****\nAB120001\n");
    dir.write("setting.ini", "[SETTING]\nSNFile=sn.txt\nBurnSN=0\n");
    auto result = readSettings(dir);
    EXPECT_EQ(result.settings.snFilePath, folderOf(dir) + testing::kPathSeparator + "sn.txt");
    EXPECT_EQ(result.settings.burnSnFlag, 1);
    EXPECT_EQ(result.appendedLog(),
              " Load" + folderOf(dir) + testing::kPathSeparator + "sn.txt .\r\n\r\n");

    // A station set up for numbers stays so without its file: its downloads
    // fail instead of passing cameras without a number.
    dir.write("setting.ini", "[SETTING]\nSNFile=missing.txt\n");
    result = readSettings(dir);
    EXPECT_EQ(result.settings.burnSnFlag, 1);
    EXPECT_EQ(result.appendedLog(),
              " Load" + folderOf(dir) + testing::kPathSeparator + "missing.txt fail.\r\n\r\n");

    // A Windows-style subfolder name.
    dir.write("serial/line2.txt", "A*\nA1\n");
    dir.write("setting.ini", "[SETTING]\nSNFile=serial\\line2.txt\n");
    EXPECT_EQ(readSettings(dir).settings.burnSnFlag, 1);

    // "calden.ini": BurnSN replaces the flag the file check set.
    std::filesystem::remove(dir / "setting.ini");
    dir.write("calden.ini", "[SETTING]\nSNFile=sn.txt\nBurnSN=0\n");
    result = readSettings(dir);
    EXPECT_EQ(result.settings.burnSnFlag, 0);
    EXPECT_EQ(result.appendedLog(),
              " Load" + folderOf(dir) + testing::kPathSeparator + "sn.txt .\r\n\r\n");
    EXPECT_EQ(result.settings.snFormat, "SY%Y%m%d%H%M%S");

    dir.write("calden.ini", "[SETTING]\nBurnSN=1\nSNFormat=SN%Y\n");
    result = readSettings(dir);
    EXPECT_EQ(result.settings.burnSnFlag, 1);
    EXPECT_EQ(result.settings.snFormat, "SN%Y");

    // With "setting.ini" beside it, "calden.ini" and BurnSN are not read.
    dir.write("setting.ini", "[SETTING]\nBurnSN=1\n");
    result = readSettings(dir);
    EXPECT_EQ(result.settings.settingsIndex, 0);
    EXPECT_EQ(result.settings.burnSnFlag, 0);
    EXPECT_FALSE(result.settings.snFormat);
}

TEST(ToolSettingsRead, ReworkToggleOnlyForMoravel) {
    TempDir dir;
    dir.write("moravel.ini", "[SETTING]\nrework=1\n");
    auto result = readSettings(dir);
    EXPECT_EQ(result.settings.reworkFlag, 1);
    std::vector<Action> expected = {Action::UncheckOutputLogFile, Action::ShowLog,
                                    Action::UncheckReworkToggle,  Action::HideReworkToggle,
                                    Action::EnableReworkToggle,   Action::ShowReworkToggle,
                                    Action::CheckReworkToggle,    Action::RunReworkHandler,
                                    Action::UncheckPreviewBox};
    EXPECT_EQ(actionsOf(result), expected);

    dir.write("moravel.ini", "[SETTING]\nrework=0\n");
    result = readSettings(dir);
    EXPECT_EQ(result.settings.reworkFlag, 0);
    expected = {Action::UncheckOutputLogFile, Action::ShowLog,
                Action::UncheckReworkToggle,  Action::HideReworkToggle,
                Action::EnableReworkToggle,   Action::ShowReworkToggle,
                Action::UncheckPreviewBox};
    EXPECT_EQ(actionsOf(result), expected);

    std::filesystem::remove(dir / "moravel.ini");
    dir.write("setting.ini", "[SETTING]\nrework=1\n");
    result = readSettings(dir);
    EXPECT_EQ(result.settings.reworkFlag, 0);
    EXPECT_FALSE(has(result, Action::ShowReworkToggle));
}

TEST(ToolSettingsRead, PreviewAtStartForTanquilAndPreviewBoxForAll) {
    TempDir dir;
    dir.write("tanquil.ini", "[SETTING]\nPreview=1\n");
    auto result = readSettings(dir);
    std::vector<Action> expected = {
        Action::UncheckOutputLogFile, Action::ShowLog,          Action::UncheckReworkToggle,
        Action::HideReworkToggle,     Action::EnablePreviewBox, Action::ShowPreviewBox,
        Action::CheckPreviewBox,      Action::HideLogBox,       Action::ShowPreviewPicture,
        Action::ShowPreviewLabel,     Action::StartPreview,     Action::UncheckReworkToggle,
        Action::HideReworkToggle,     Action::CheckPreviewBox,  Action::EnablePreviewBox,
        Action::ShowPreviewBox};
    EXPECT_EQ(actionsOf(result), expected);
    EXPECT_EQ(result.settings.preview, 1);

    dir.write("tanquil.ini", "[SETTING]\nPreview=0\n");
    result = readSettings(dir);
    expected = {Action::UncheckOutputLogFile, Action::ShowLog,
                Action::UncheckReworkToggle,  Action::HideReworkToggle,
                Action::EnablePreviewBox,     Action::ShowPreviewBox,
                Action::UncheckPreviewBox,    Action::ShowLogBox,
                Action::HidePreviewPicture,   Action::HidePreviewLabel,
                Action::UncheckReworkToggle,  Action::HideReworkToggle,
                Action::UncheckPreviewBox};
    EXPECT_EQ(actionsOf(result), expected);

    // Other files: the box is shown checked, the preview does not start.
    std::filesystem::remove(dir / "tanquil.ini");
    dir.write("brevik.ini", "[SETTING]\nPreview=2\nCmdLineMode=1\nCmdLineMsg=2\n");
    result = readSettings(dir);
    expected = {Action::UncheckOutputLogFile, Action::ShowLog,        Action::UncheckReworkToggle,
                Action::HideReworkToggle,     Action::SetCmdLineMode, Action::CheckPreviewBox,
                Action::EnablePreviewBox,     Action::ShowPreviewBox};
    EXPECT_EQ(actionsOf(result), expected);
    EXPECT_EQ(result.settings.cmdLineMsg, 2);
}

TEST(ToolSettingsRead, DevicePairsUpToTwenty) {
    TempDir dir;
    dir.write("setting.ini", "[SETTING]\nCam_Num=3\n[DEVICE]\nPID_1=0x000e\nVID_1=1209\n"
                             "PID_2=12G4\nPID_3=ABCDE\nVID_21=1\n");
    auto s = readSettings(dir).settings;
    EXPECT_TRUE(s.revCheck);
    ASSERT_EQ(s.devices.size(), 3u);
    EXPECT_EQ(s.devices[0].pid, 0x000Eu);
    EXPECT_EQ(s.devices[0].vid, 0x1209u);
    EXPECT_EQ(s.devices[1].pid, 0x12u);
    EXPECT_EQ(s.devices[1].vid, 0u);
    EXPECT_EQ(s.devices[2].pid, 0xABCDEu);

    dir.write("setting.ini", "[SETTING]\nCam_Num=25\n");
    s = readSettings(dir).settings;
    EXPECT_TRUE(s.revCheck);
    EXPECT_EQ(s.camNum, 25);
    EXPECT_EQ(s.devices.size(), 20u);

    dir.write("setting.ini", "[SETTING]\nCam_Num=-2\n");
    s = readSettings(dir).settings;
    EXPECT_TRUE(s.revCheck);
    EXPECT_TRUE(s.devices.empty());
}

TEST(ToolSettingsRead, ImagePathFromBinOrPidIni) {
    TempDir dir;
    const std::string folder = folderOf(dir);
    dir.write("setting.ini", "[SETTING]\nBIN=images\\cam.bin\n");
    EXPECT_EQ(readSettings(dir).imagePath,
              folder + testing::kPathSeparator + "images" + testing::kPathSeparator + "cam.bin");
    // BIN is taken only while imagePath is empty.
    EXPECT_EQ(readSettings(dir, "", "/kept/path.bin").imagePath, "/kept/path.bin");

    dir.write("pid.ini", "[PID_1234]\nBIN=cam1234.bin\n");
    dir.write("setting.ini", "[SETTING]\nChooseBinUsePid=1\nBIN=generic.bin\n");
    auto result = readSettings(dir, "", "/old.bin", 0x1234);
    EXPECT_EQ(result.settings.chooseBinUsePid, 1);
    EXPECT_EQ(result.imagePath,
              folder + testing::kPathSeparator + "bin" + testing::kPathSeparator + "cam1234.bin");
    // No camera yet: the path is emptied.
    EXPECT_EQ(readSettings(dir, "", "/old.bin", 0).imagePath, "");

    // An image named on the command line turns the choice by PID off.
    result = readSettings(dir, "/named.bin", "", 0x1234);
    EXPECT_EQ(result.settings.chooseBinUsePid, 0);
    EXPECT_EQ(result.imagePath, folder + testing::kPathSeparator + "generic.bin");
    // An option given without a path names no image.
    result = readSettings(dir, "TRUE", "", 0x1234);
    EXPECT_EQ(result.settings.chooseBinUsePid, 1);
    EXPECT_EQ(result.imagePath,
              folder + testing::kPathSeparator + "bin" + testing::kPathSeparator + "cam1234.bin");
}

TEST(ToolSettingsRead, ImagePathsUpToTheSystemsLimit) {
#ifdef _WIN32
    GTEST_SKIP() << "written for a 4095-byte path limit; Windows opens 259 characters";
#endif
    TempDir dir;
    // Far beyond the old 259 characters of the stations, well within the
    // system's limit.
    const std::string deep(300, 'n');
    dir.write("setting.ini", "[SETTING]\nBIN=" + deep + "\n");
    auto result = readSettings(dir);
    EXPECT_EQ(result.imagePath, folderOf(dir) + testing::kPathSeparator + "" + deep);
    EXPECT_EQ(result.imagePathRefusal, "");

    // Beyond what the system opens: refused, not cut.
    const std::string tooLong = "/" + std::string(4095, 'n');
    const ImagePathChoice refused = checkedImagePath(tooLong);
    EXPECT_TRUE(refused.path.empty());
    EXPECT_TRUE(refused.refusal ==
                " Image path longer than 4095 bytes, not used: " + tooLong + "\r\n\r\n");
    EXPECT_EQ(checkedImagePath(tooLong.substr(1)).path.size(), 4095u);
}

TEST(ToolSettingsRead, HugeTimeoutIsHeldAtTenMinutes) {
    TempDir dir;
    dir.write("setting.ini", "[SETTING]\nTimeout=99999999999999999999\n");
    EXPECT_EQ(readSettings(dir).settings.timeout, 600);
    dir.write("setting.ini", "[SETTING]\nTimeout=45\n");
    EXPECT_EQ(readSettings(dir).settings.timeout, 45);
}

TEST(PidIni, SectionNamesArePidAndFourHexDigits) {
    const std::pair<std::string, std::optional<std::uint16_t>> cases[] = {
        {"PID_1234", 0x1234},       {"PID_abcd", 0xABCD},        {"pid_ABCD", 0xABCD},
        {"PID_:;<=", std::nullopt}, {"PID_1 2 ", std::nullopt},  {"PID_12", std::nullopt},
        {"PID_", std::nullopt},     {"PID_12345", std::nullopt}, {"XYZW0001", std::nullopt},
        {"PID_12G4", std::nullopt}, {"PID_-123", std::nullopt},  {"PID_12ä4", std::nullopt},
    };
    for (const auto& [name, pid] : cases)
        EXPECT_EQ(PidFromSectionName(name), pid) << name;
}

TEST(PidIni, ChoosesTheFirstSectionNamedForTheCamera) {
    TempDir dir;
    const std::string bin =
        folderOf(dir) + testing::kPathSeparator + "bin" + testing::kPathSeparator;
    dir.write("pid.ini", "[PID_00c1]\nBIN=lower.bin\n"
                         "[XYZW00C1]\nBIN=other.bin\n"
                         "[PID_00C1]\nBIN=second.bin\n"
                         "[PID_0002]\n");
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0x00C1).path, bin + "lower.bin");
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0x0002).path, bin + "SF.bin");
    // No match: the path names the folder, and loading it fails later.
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0x9999).path, bin);
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0).path, "");

    // Neither a short name nor a long one hides the sections after it, and
    // neither stands for a camera by four of its characters.
    dir.write("pid.ini", "[PID_]\n[PID_1]\n[PID_12345]\nBIN=long.bin\n[PID_0003]\nBIN=three.bin\n");
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0x0003).path, bin + "three.bin");
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0x1234).path, bin);
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0x1000).path, bin);
    dir.write("pid.ini", "[XYZW0003]\nBIN=nopid.bin\n");
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0x0003).path, bin);

    // However many sections come first.
    std::string many;
    for (int i = 1; i <= 400; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "PID_%04X", i);
        many += "["s + name + "]\nBIN=" + std::to_string(i) + ".bin\n";
    }
    dir.write("pid.ini", many);
    EXPECT_EQ(ChooseImageByPid(dir.path(), 111).path, bin + "111.bin");
    EXPECT_EQ(ChooseImageByPid(dir.path(), 400).path, bin + "400.bin");

    // Missing "pid.ini": nothing matches.
    std::filesystem::remove(dir / "pid.ini");
    EXPECT_EQ(ChooseImageByPid(dir.path(), 0x00C1).path, bin);
}

} // namespace
} // namespace tessell
