#include "app/exit_codes.h"
#include "app/paths.h"
#include "app/startup.h"
#include "download/download_worker.h"
#include "platform/instance_guard.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tessell {
namespace {

class FakeGuard final : public platform::InstanceGuard {
public:
    explicit FakeGuard(platform::InstanceStatus status, std::string detail = {})
        : claim_{status, std::move(detail)} {}
    platform::InstanceClaim acquire() override {
        ++calls;
        return claim_;
    }
    int calls = 0;

private:
    platform::InstanceClaim claim_;
};

const std::vector<std::string> kUnattended = {"-s", "/img/a.bin", "-silent", "-m", "-w"};

TEST(StartUp, ASecondCopyEndsSilentlyWithNothingFinished) {
    FakeGuard held(platform::InstanceStatus::HeldElsewhere);
    const auto plan = startUp(held, {}, kUnattended);
    EXPECT_EQ(held.calls, 1);
    EXPECT_EQ(plan.tool, ToolKind::None);
    EXPECT_EQ(plan.exitCode, 99);
    EXPECT_NE(processStatus(plan.exitCode), 0) << "a script would read a pass";
    EXPECT_TRUE(plan.diagnostic.empty());
    EXPECT_TRUE(plan.commandLine.options().empty());

    // Without a working lock nothing would stop two copies writing one flash.
    FakeGuard broken(platform::InstanceStatus::Unavailable, "/run/user/7/x: Read-only file system");
    const auto refused = startUp(broken, {}, kUnattended);
    EXPECT_EQ(refused.tool, ToolKind::None);
    EXPECT_EQ(refused.exitCode, 99);
    EXPECT_NE(refused.diagnostic.find("/run/user/7/x: Read-only file system"), std::string::npos)
        << refused.diagnostic;
}

TEST(StartUp, MultipleModeRunsTheMultiCameraToolAndIgnoresTheCommandLine) {
    for (const int multipleMode : {1, 2, -1}) {
        FakeGuard guard(platform::InstanceStatus::Acquired);
        const auto plan = startUp(guard, {.multipleMode = multipleMode}, kUnattended);
        EXPECT_EQ(plan.tool, ToolKind::MultiCamera) << multipleMode;
        EXPECT_TRUE(plan.commandLine.options().empty()) << multipleMode;
        EXPECT_EQ(plan.flags, StartupFlags{}) << multipleMode;
    }

    FakeGuard guard(platform::InstanceStatus::Acquired);
    const auto plan = startUp(guard, {.multipleMode = 0}, kUnattended);
    EXPECT_EQ(guard.calls, 1);
    EXPECT_EQ(plan.tool, ToolKind::SingleCamera);
    EXPECT_EQ(plan.flags, (StartupFlags{"/img/a.bin", 1, 1, 1, 1}));
    EXPECT_TRUE(plan.commandLine.GetOption("silent"));
}

TEST(ExitCodes, ProcessStatusAndWhichCodesEndAtOnce) {
    // Factory scripts branch on these numbers.
    const std::vector<std::pair<int, int>> statuses = {
        {kExitRefused, 255},
        {kExitPassed, 0},
        {kExitReworkFailed, 1},
        {kExitDownloadFailed, 2},
        {kExitSerialDownloadFailed, 3},
        {kExitWrongCamera, 4},
        {kExitNoImage, 5},
        {kExitImageLoadFailed, 10},
        {kExitWorkerRunning, 38},
        {kExitNothingFinished, 99},
    };
    for (const auto& [code, status] : statuses)
        EXPECT_EQ(processStatus(code), status) << code;

    for (const int code : {-1, 4, 5})
        EXPECT_TRUE(endsProcessAtOnce(code)) << code;
    for (const int code : {0, 1, 2, 3, 10, 38, 99})
        EXPECT_FALSE(endsProcessAtOnce(code)) << code;
}

TEST(RuntimeFolder, IsXdgRuntimeDirElseTheTemporaryFolder) {
    testing::ScopedEnv tmp("TMPDIR", "/var/tmp/line-2");
    {
        testing::ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(runtimeFolder(), "/run/user/1000");
    }
    {
        testing::ScopedEnv runtime("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(runtimeFolder(), "/var/tmp/line-2");
    }
    testing::ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(runtimeFolder(), "/var/tmp/line-2");
}

} // namespace
} // namespace tessell
