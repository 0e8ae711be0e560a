#include "app/startup.h"
#include "platform/linux/instance_guard_linux.h"
#include "tests/support/process.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tessell::platform {
namespace {

using testing::TempDir;

// What the single-camera tool says when it runs unattended without a camera.
constexpr const char* kNoCamera = "*** Device not found! ***";

TEST(FileInstanceGuard, OneHolderAtATimeUntilItLetsGo) {
    TempDir folder;
    const auto lockFile = folder / std::string(kInstanceMutexName);
    // A file left by an earlier run does not count as a running copy.
    folder.write(std::string(kInstanceMutexName), "");

    auto first = std::make_unique<FileInstanceGuard>(lockFile);
    FileInstanceGuard second(lockFile);
    EXPECT_EQ(first->acquire().status, InstanceStatus::Acquired);
    EXPECT_EQ(first->acquire().status, InstanceStatus::Acquired) << "asking again keeps it";
    EXPECT_EQ(second.acquire().status, InstanceStatus::HeldElsewhere);
    first.reset();
    EXPECT_EQ(second.acquire().status, InstanceStatus::Acquired);

    // The factory puts the lock in the folder it is given, under the name.
    TempDir runtime;
    const auto made = makeInstanceGuard(runtime.path(), kInstanceMutexName);
    EXPECT_EQ(made->acquire().status, InstanceStatus::Acquired);
    EXPECT_TRUE(std::filesystem::exists(runtime / std::string(kInstanceMutexName)));
    EXPECT_EQ(FileInstanceGuard(runtime / std::string(kInstanceMutexName)).acquire().status,
              InstanceStatus::HeldElsewhere);
}

TEST(FileInstanceGuard, ALockThatCannotBeMadeIsReportedWithItsPath) {
    TempDir folder;
    const auto missing = folder / "no-such-folder" / "lock";
    const auto claim = FileInstanceGuard(missing).acquire();
    EXPECT_EQ(claim.status, InstanceStatus::Unavailable);
    EXPECT_NE(claim.detail.find(missing.string()), std::string::npos) << claim.detail;

    // A link planted under the lock's name is not followed.
    const auto target = folder.write("elsewhere", "keep");
    std::filesystem::create_symlink(target, folder / "planted");
    EXPECT_EQ(FileInstanceGuard(folder / "planted").acquire().status, InstanceStatus::Unavailable);
    EXPECT_EQ(folder.read("elsewhere"), "keep");

    // A folder that takes no new file: the reason is the folder's refusal,
    // not the lock file it could not hold. (sysfs refuses even root.)
    const auto locked = folder / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    const auto refusing = ::geteuid() == 0 ? std::filesystem::path("/sys") : locked;
    const auto refused = FileInstanceGuard(refusing / "lock").acquire();
    EXPECT_EQ(refused.status, InstanceStatus::Unavailable);
    EXPECT_EQ(refused.detail.find("No such file"), std::string::npos) << refused.detail;
    EXPECT_NE(refused.detail.find(refusing.string()), std::string::npos) << refused.detail;
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}

// The built program as the second copy: this test process holds the lock.
TEST(SingleInstance, ASecondProgramEndsAtOnceWithoutOutput) {
    TempDir runtime;
    TempDir home;
    const testing::EnvironmentChanges environment = {
        {"TMPDIR", runtime.path().string()},
        {"XDG_RUNTIME_DIR", std::nullopt},
        {"TESSELL_HOME", home.path().string()},
        // Simulated cameras: the tool must not reach for real ones here.
        {"TESSELL_SIM", home.write("station.json", R"({"devices": []})").string()},
    };
    const std::vector<std::string> arguments = {"-s", "/img/a.bin", "-silent"};

    {
        FileInstanceGuard first(runtime / std::string(kInstanceMutexName));
        ASSERT_EQ(first.acquire().status, InstanceStatus::Acquired);

        const auto second = testing::runProcess(TESSELL_BINARY, arguments, environment);
        ASSERT_TRUE(second.finished);
        EXPECT_EQ(second.status, 99);
        EXPECT_EQ(second.out, "");
        EXPECT_EQ(second.err, "");

        // $XDG_RUNTIME_DIR, when set, is where the lock lives instead.
        TempDir otherRuntime;
        auto elsewhere = environment;
        elsewhere["XDG_RUNTIME_DIR"] = otherRuntime.path().string();
        const auto separate = testing::runProcess(TESSELL_BINARY, arguments, elsewhere);
        ASSERT_TRUE(separate.finished);
        EXPECT_NE(separate.out.find(kNoCamera), std::string::npos) << separate.out;
    }

    // Once the first copy has gone, the program starts: with no camera and
    // no image file it ends with the failed image load.
    const auto alone = testing::runProcess(TESSELL_BINARY, arguments, environment);
    ASSERT_TRUE(alone.finished);
    EXPECT_EQ(alone.status, 10);
    EXPECT_NE(alone.out.find(kNoCamera), std::string::npos) << alone.out;
    EXPECT_EQ(alone.err, "");

    // Help and version answer even while another copy runs.
    FileInstanceGuard first(runtime / std::string(kInstanceMutexName));
    ASSERT_EQ(first.acquire().status, InstanceStatus::Acquired);
    const auto version = testing::runProcess(TESSELL_BINARY, {"--version"}, environment);
    ASSERT_TRUE(version.finished);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tessell ", 0), 0u) << version.out;
}

// The settings file chosen in the program folder decides which tool starts.
TEST(SingleInstance, MultipleModeInTheSettingsFileChoosesTheTool) {
    TempDir runtime;
    TempDir home;
    testing::EnvironmentChanges environment = {
        {"TMPDIR", runtime.path().string()},
        {"XDG_RUNTIME_DIR", std::nullopt},
        {"TESSELL_HOME", home.path().string()},
        // Simulated cameras: the tool must not reach for real ones here.
        {"TESSELL_SIM", home.write("station.json", R"({"devices": []})").string()},
    };
    const auto run = [&] {
        const auto result =
            testing::runProcess(TESSELL_BINARY, {"-s", "/img/a.bin", "-wait", "0"}, environment);
        EXPECT_TRUE(result.finished);
        return result;
    };
    home.write("brevik.ini", "[SETTING]\nMultipleMode=1\n");
    // Without a display the station's window cannot open: the operator is
    // pointed at the console station instead.
    environment["DISPLAY"] = std::nullopt;
    environment["WAYLAND_DISPLAY"] = std::nullopt;
    environment["QT_QPA_PLATFORM"] = std::nullopt;
    const auto multi = run();
    EXPECT_EQ(multi.status, 99);
    EXPECT_NE(multi.err.find("multi-camera window"), std::string::npos) << multi.err;
    EXPECT_NE(multi.err.find("`tessell burn`"), std::string::npos) << multi.err;
    // "setting.ini" comes first among the names and says 0.
    home.write("setting.ini", "[Setting]\nmultiplemode=0\n");
    EXPECT_NE(run().out.find(kNoCamera), std::string::npos);
}

} // namespace
} // namespace tessell::platform
