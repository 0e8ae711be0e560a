#include "app/paths.h"
#include "common/path_text.h"
#include "platform/system.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using testing::ScopedEnv;

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
