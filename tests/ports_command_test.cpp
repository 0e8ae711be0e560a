#include "app/ports_command.h"
#include "app/startup.h"
#include "platform/instance_guard.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using testing::TempDir;

// The built program, as provisioning scripts run it on a station.
TEST(PortsCommand, SetListClearAndTheirExitStatuses) {
#ifdef _WIN32
    GTEST_SKIP() << "reads the INI port store; Windows keeps the ports in the registry "
                    "(tests/windows/registry_port_store_test.cpp)";
#endif
    TempDir config;
    TempDir runtime;
    const auto station = config.write(
        "station.json",
        R"({"devices": [{"friendly_name": "Provisioned", "rom": {"vid": "0x1209", "pid": "0x0002"}}]})");
    const auto run = [&](std::vector<std::string> arguments,
                         std::optional<std::string> configHome = std::nullopt) {
        arguments.insert(arguments.begin(), "ports");
        return testing::runProcess(
            TESSELL_BINARY, arguments,
            {{"TESSELL_SIM", station.string()},
             {"XDG_RUNTIME_DIR", runtime.path().string()},
             {"XDG_CONFIG_HOME", configHome.value_or(config.path().string())}});
    };
    const auto stored = [&] { return config.read("tessell/port-memory.ini"); };

    const auto set = run({"set", "1-2:3", "1-2:4", "Hub-A:1", "hub-a:1"});
    ASSERT_TRUE(set.finished);
    EXPECT_EQ(set.status, kPortsDone) << set.err;
    const auto json = run({"--json"});
    EXPECT_EQ(json.status, kPortsDone) << json.err;
    EXPECT_EQ(json.out,
              R"([{"slot": 1, "hub": "1-2", "port": 3}, {"slot": 2, "hub": "1-2", "port": 4}, )"
              R"({"slot": 3, "hub": "Hub-A", "port": 1}, {"slot": 4, "hub": "hub-a", "port": 1}])"
              "\n");
    const auto text = run({});
    EXPECT_NE(text.out.find("01  hub 1-2  port 3\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("4 ports remembered"), std::string::npos) << text.out;

    // Refused whole: nothing of the store changes.
    const std::string before = stored();
    for (const auto& wrong : std::vector<std::vector<std::string>>{{"set", "1-2:5", "1-2:5"},
                                                                   {"set", "1-2:x"},
                                                                   {"set", "1-2"},
                                                                   {"set"},
                                                                   {"clear", "now"},
                                                                   {"teach", "--count", "17"},
                                                                   {"--xml"}}) {
        const auto refused = run(wrong);
        EXPECT_EQ(refused.status, kPortsError) << wrong.back();
        EXPECT_NE(refused.err.find("usage: tessell ports"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(stored(), before);

    // "Celar" then OK: no port counts, the old values stay in the store.
    const auto cleared = run({"clear"});
    EXPECT_EQ(cleared.status, kPortsDone) << cleared.err;
    EXPECT_EQ(run({"--json"}).out, "[]\n");
    EXPECT_NE(stored().find("SavedCount=0\n"), std::string::npos) << stored();
    EXPECT_NE(stored().find("01-HubName=1-2\n"), std::string::npos) << stored();

    // Teaching in the terminal ends with the end of its input and saves as OK.
    run({"set", "1-2:3"});
    const auto taught = run({"teach", "--timeout", "5"});
    EXPECT_EQ(taught.status, kPortsDone) << taught.err;
    EXPECT_NE(taught.out.find("end of input"), std::string::npos) << taught.out;
    EXPECT_EQ(run({"--json"}).out, "[{\"slot\": 1, \"hub\": \"1-2\", \"port\": 3}]\n");

    // A store that cannot be written: its folder's place is taken by a file.
    const auto blocker = config.write("not-a-folder", "");
    const auto unwritable = run({"set", "1-2:3"}, (blocker / "config").string());
    EXPECT_EQ(unwritable.status, kPortsNotSaved);
    EXPECT_NE(unwritable.err.find("not saved"), std::string::npos) << unwritable.err;

    // Another copy of the tool holds the station.
    const auto guard = platform::makeInstanceGuard(runtime.path(), kInstanceMutexName);
    ASSERT_EQ(guard->acquire().status, platform::InstanceStatus::Acquired);
    const auto busy = run({"set", "9-9:9"});
    EXPECT_EQ(busy.status, kPortsError);
    EXPECT_NE(busy.err.find("another copy"), std::string::npos) << busy.err;
    EXPECT_EQ(stored().find("9-9"), std::string::npos);
}

} // namespace
} // namespace tessell
