#include "app/paths.h"
#include "common/path_text.h"
#include "platform/system.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

// An installed program as the package lays it out: the executable's folder
// "usr/bin" and the starter settings in "usr/share/tessell".
struct InstalledLayout {
    TempDir root;
    std::filesystem::path bin = root / "usr/bin";
    std::string starter = "[SETTING]\n;BIN=SF.bin\n";
    ScopedEnv home{"TESSELL_HOME", nullptr};
    ScopedEnv data{"XDG_DATA_HOME", root / "data"};
    InstalledLayout() {
        std::filesystem::create_directories(bin);
        root.write(std::string("usr/") + kStarterSettingsPath, starter);
    }
};

TEST(ProgramFolder, IsTheExecutablesFolderUnlessTessellHomeIsSet) {
    {
        ScopedEnv home("TESSELL_HOME", nullptr);
        const auto folder = programFolder();
#ifdef _WIN32
        EXPECT_TRUE(std::filesystem::exists(folder / "tessell_tests.exe")) << folder;
#else
        EXPECT_TRUE(std::filesystem::exists(folder / "tessell_tests")) << folder;
#endif
    }
    {
        ScopedEnv home("TESSELL_HOME", "/srv/station-4");
        EXPECT_EQ(programFolder(), "/srv/station-4");
    }
    {
        ScopedEnv home("TESSELL_HOME", "");
        EXPECT_NE(programFolder(), "");
    }
}

TEST(ProgramFolder, AnInstalledProgramKeepsTheStationsFilesInTheUsersDataFolder) {
    InstalledLayout installed;
    const auto station = installed.root / "data/tessell";
    const ProgramFolderChoice first = chooseProgramFolder(installed.bin);
#ifdef _WIN32
    // Windows keeps every file beside the executable, as it always has.
    EXPECT_EQ(first.folder, installed.bin);
    EXPECT_FALSE(std::filesystem::exists(station));
#else
    EXPECT_EQ(first.folder, station);
    EXPECT_EQ(TempDir::readFile(station / "setting.ini"), installed.starter);
    EXPECT_NE(first.note.find(pathText(station)), std::string::npos) << first.note;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(station), {}), 1);

    // The station's own settings are kept, and nothing more is said.
    installed.root.write("data/tessell/setting.ini", "[SETTING]\nBIN=line.bin\n");
    const ProgramFolderChoice again = chooseProgramFolder(installed.bin);
    EXPECT_EQ(again.folder, station);
    EXPECT_EQ(again.note, "");
    EXPECT_EQ(installed.root.read("data/tessell/setting.ini"), "[SETTING]\nBIN=line.bin\n");

    // A relative XDG_DATA_HOME counts as unset.
    {
        ScopedEnv data("XDG_DATA_HOME", "data");
        ScopedEnv home("HOME", installed.root / "home");
        EXPECT_EQ(chooseProgramFolder(installed.bin).folder,
                  installed.root / "home/.local/share/tessell");
    }
#endif
    // A settings file beside the executable, and TESSELL_HOME, come first.
    {
        ScopedEnv home("TESSELL_HOME", installed.root / "line");
        EXPECT_EQ(chooseProgramFolder(installed.bin).folder, installed.root / "line");
    }
    installed.root.write("usr/bin/calden.ini", "[SETTING]\n");
    EXPECT_EQ(chooseProgramFolder(installed.bin).folder, installed.bin);
}

TEST(ProgramFolder, APortableFolderStaysTheProgramFolder) {
    TempDir root;
    ScopedEnv home("TESSELL_HOME", nullptr);
    ScopedEnv data("XDG_DATA_HOME", root / "data");
    const auto portable = root / "station";
    std::filesystem::create_directories(portable);
    // Writable, with no settings file yet: the station's files go beside
    // the executable, as they always did.
    EXPECT_EQ(chooseProgramFolder(portable).folder, portable);
    EXPECT_FALSE(std::filesystem::exists(root / "data"));
#ifndef _WIN32
    // One this user cannot write in, without settings: the station folder,
    // with no starter settings to copy. (Root may write anywhere.)
    std::filesystem::permissions(portable, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    if (!platform::mayCreateFilesIn(portable)) {
        EXPECT_EQ(chooseProgramFolder(portable).folder, root / "data/tessell");
        EXPECT_TRUE(std::filesystem::is_directory(root / "data/tessell"));
        EXPECT_FALSE(std::filesystem::exists(root / "data/tessell/setting.ini"));
    }
    std::filesystem::permissions(portable, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
#endif
}

TEST(TemporaryFolder, IsTmpdirOrElseSlashTmp) {
#ifdef _WIN32
    // The system's own: GetTempPathW, without its final backslash.
    const std::filesystem::path system = platform::systemTemporaryFolder();
    EXPECT_TRUE(std::filesystem::is_directory(system)) << system;
    EXPECT_NE(pathText(system).back(), '\\');
#else
    const std::filesystem::path system = "/tmp";
#endif
    {
        ScopedEnv tmp("TMPDIR", "/var/tmp/line-2");
        EXPECT_EQ(temporaryFolder(), "/var/tmp/line-2");
    }
    {
        ScopedEnv tmp("TMPDIR", nullptr);
        EXPECT_EQ(temporaryFolder(), system);
    }
    {
        ScopedEnv tmp("TMPDIR", "");
        EXPECT_EQ(temporaryFolder(), system);
    }
}

} // namespace
} // namespace tessell
