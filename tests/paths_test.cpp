#include "app/paths.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using testing::ScopedEnv;

TEST(ProgramFolder, IsTheExecutablesFolderUnlessTessellHomeIsSet) {
    {
        ScopedEnv home("TESSELL_HOME", nullptr);
        const auto folder = programFolder();
        EXPECT_TRUE(std::filesystem::exists(folder / "tessell_tests")) << folder;
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
    {
        ScopedEnv tmp("TMPDIR", "/var/tmp/line-2");
        EXPECT_EQ(temporaryFolder(), "/var/tmp/line-2");
    }
    {
        ScopedEnv tmp("TMPDIR", nullptr);
        EXPECT_EQ(temporaryFolder(), "/tmp");
    }
    {
        ScopedEnv tmp("TMPDIR", "");
        EXPECT_EQ(temporaryFolder(), "/tmp");
    }
}

} // namespace
} // namespace tessell
