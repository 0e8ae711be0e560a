#include "app/settings_command.h"
#include "common/path_text.h"
#include "tests/support/process.h"
#include "tests/support/test_env.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace tessell {
namespace {

// The separator the tool puts between a folder and a name.

using testing::ProcessResult;
using testing::runProcess;
using testing::ScopedEnv;
using testing::TempDir;

struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

CommandRun runInProcess(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    CommandRun run;
    run.status = runSettingsCommand(args, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// Runs the built executable with blank-separated `arguments`.
CommandRun runBinary(const TempDir&, const std::string& arguments) {
    std::vector<std::string> words;
    std::istringstream split(arguments);
    for (std::string word; split >> word;)
        words.push_back(word);
    words.insert(words.begin(), "settings");
    const ProcessResult result = runProcess(TESSELL_BINARY, words);
    CommandRun run;
    run.status = result.finished ? result.status : -1;
    run.out = result.out;
    run.err = result.err;
    return run;
}

TEST(SettingsCommand, PidArgumentIsOneToFourHexDigits) {
    EXPECT_EQ(ParsePidArgument("0x1234"), 0x1234);
    EXPECT_EQ(ParsePidArgument("1234"), 0x1234);
    EXPECT_EQ(ParsePidArgument("0XaBcD"), 0xABCD);
    EXPECT_EQ(ParsePidArgument("c1"), 0xC1);
    EXPECT_EQ(ParsePidArgument("0"), 0);
    for (const char* bad : {"", "0x", "12345", "0x12345", "12G4", "-1", " 12", "0x 1", "x12"})
        EXPECT_FALSE(ParsePidArgument(bad)) << bad;
}

TEST(SettingsCommand, BadArgumentsExitTwoWithAMessage) {
    TempDir dir;
    ScopedEnv home("TESSELL_HOME", dir.path().c_str());
    const std::vector<std::vector<std::string>> bad = {
        {"--pid"},     {"--pid", "zz"}, {"--pid=12345"}, {"--pid", "1", "--pid", "2"},
        {"--verbose"}, {"0x1234"}};
    for (const auto& args : bad) {
        const CommandRun run = runInProcess(args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("tessell settings:"), std::string::npos) << run.err;
    }
    const CommandRun help = runInProcess({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tessell settings"), std::string::npos);
}

TEST(SettingsCommand, DefaultsWithoutSettingsFile) {
    TempDir dir;
    ScopedEnv home("TESSELL_HOME", dir.path().c_str());
    const CommandRun run = runInProcess({});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["programFolder"], pathText(dir.path()));
    EXPECT_TRUE(json["file"].is_null());
    EXPECT_TRUE(json["settingsIndex"].is_null());
    EXPECT_EQ(json["SETTING"]["Timeout"], 30);
    EXPECT_EQ(json["SETTING"]["Rev"], 0x38);
    EXPECT_EQ(json["SETTING"]["BIN"], "SF.bin");
    EXPECT_EQ(json["SETTING"]["NUM"], "8");
    EXPECT_EQ(json["SETTING"]["SNFile"], "");
    EXPECT_TRUE(json["SETTING"]["forcedFlashCode"].is_null());
    EXPECT_TRUE(json["forcedFlashCode"].is_null());
    EXPECT_EQ(json["DEVICE"], nlohmann::json::array());
    EXPECT_EQ(json["LOG"], (nlohmann::json{{"HEADER", ""}, {"FORMAT", ""}}));
    EXPECT_FALSE(json.contains("imagePath"));
}

// Defaults shown under the name of a file that cannot be read would tell a
// station's script that all is well.
TEST(SettingsCommand, ASettingsFileThatCannotBeReadIsNamed) {
    TempDir dir;
    ScopedEnv home("TESSELL_HOME", dir.path().c_str());
    std::filesystem::create_directory(dir / "setting.ini");
    CommandRun run = runInProcess({});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "tessell settings: the settings file \"" + (dir / "setting.ini").string() +
                           "\" is a folder\n");

    std::filesystem::remove(dir / "setting.ini");
    dir.write("setting.ini", std::string("[\0S\0E\0T\0]\0\n\0k\0=\0\x31\0", 18));
    run = runInProcess({});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("warning: the settings file"), std::string::npos) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["file"], "setting.ini");
}

TEST(SettingsCommand, EndToEndThroughTheBuiltProgram) {
    TempDir dir;
    ScopedEnv home("TESSELL_HOME", dir.path().c_str());
    dir.write("sn.txt", "A*\nA1\n");
    dir.write("calden.ini", "[SETTING]\r\n"
                            "SNFile=sn.txt\r\n"
                            "BurnSN=0\r\n"
                            "SFType=9\r\n"
                            "Rev=5a\r\n"
                            "Preview_Time=12\r\n"
                            "Cam_Num=1\r\n"
                            "ChooseBinUsePid=1\r\n"
                            "BIN=\"generic.bin\"\r\n"
                            "SNAddr=258\r\n"
                            "[DEVICE]\r\n"
                            "PID_1=0x000b\r\n"
                            "VID_1=1209\r\n"
                            "[LOG]\r\n"
                            "HEADER=Date{tab}PID\r\n"
                            "FORMAT={Y}/{m}/{d}{tab}{pid}\r\n");
    dir.write("pid.ini", "[PID_000b]\r\nBIN=cam.bin\r\n");

    const CommandRun run = runBinary(dir, "--pid 000B");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto json = nlohmann::json::parse(run.out);
    const std::string folder = dir.path().string();
    EXPECT_EQ(json["file"], "calden.ini");
    EXPECT_EQ(json["settingsIndex"], 5);
    const auto& setting = json["SETTING"];
    EXPECT_EQ(setting["SNFile"], folder + testing::kPathSeparator + "sn.txt");
    EXPECT_EQ(setting["BurnSN"], 0);
    EXPECT_EQ(setting["SFType"], 9);
    EXPECT_EQ(setting["forcedFlashCode"], 0x83);
    EXPECT_EQ(json["forcedFlashCode"], 0x83);
    EXPECT_EQ(setting["Rev"], 0x5A);
    EXPECT_EQ(setting["Preview_Time"], 12000);
    EXPECT_EQ(setting["Cam_Num"], 1);
    EXPECT_EQ(setting["ChooseBinUsePid"], 1);
    EXPECT_EQ(setting["BIN"], "generic.bin");
    EXPECT_EQ(setting["SNAddr"], 2);
    EXPECT_EQ(setting["Timeout"], 30);
    EXPECT_EQ(json["DEVICE"], (nlohmann::json::array({{{"PID", 0x000B}, {"VID", 0x1209}}})));
    EXPECT_EQ(json["LOG"]["HEADER"], "Date{tab}PID");
    EXPECT_EQ(json["LOG"]["FORMAT"], "{Y}/{m}/{d}{tab}{pid}");
    EXPECT_EQ(json["LOGPlaceholders"]["HEADER"], (nlohmann::json{"tab"}));
    EXPECT_EQ(json["LOGPlaceholders"]["FORMAT"], (nlohmann::json{"Y", "m", "d", "tab", "pid"}));
    EXPECT_EQ(json["imagePath"],
              folder + testing::kPathSeparator + "bin" + testing::kPathSeparator + "cam.bin");

    // Every key of the [SETTING] table is there, under its own name.
    for (const char* key :
         {"MultipleMode", "SNFile",          "rework",  "Preview",        "BurnSN",   "CmdLineMode",
          "CmdLineMsg",   "WriteLog",        "SFType",  "CheckPidVid",    "AutoDL",   "Cam_Num",
          "Preview_Time", "ChooseBinUsePid", "BIN",     "LEDTest",        "ShowDump", "Erase",
          "SNAddr",       "checkac",         "RomBurn", "Timeout",        "ShowSN",   "Rev",
          "ShowFWVer",    "isMCM",           "NUM",     "forcedFlashCode"})
        EXPECT_TRUE(setting.contains(key)) << key;
    EXPECT_EQ(setting.size(), 28u);

    // Without ChooseBinUsePid the BIN path is printed; without --pid no path.
    dir.write("calden.ini", "[SETTING]\r\nBIN=generic.bin\r\n");
    auto plain = nlohmann::json::parse(runBinary(dir, "--pid=1").out);
    EXPECT_EQ(plain["imagePath"], folder + testing::kPathSeparator + "generic.bin");
    plain = nlohmann::json::parse(runBinary(dir, "").out);
    EXPECT_FALSE(plain.contains("imagePath"));

    const CommandRun bad = runBinary(dir, "--pid 12345");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("not a product ID"), std::string::npos) << bad.err;
}

} // namespace
} // namespace tessell
