// The built program in window mode (offscreen) on a simulated station,
// asked its questions over the query socket as another process would.

#include "app/query_service.h"
#include "download/image_synthesis.h"
#include "platform/query_socket.h"
#include "tests/support/synthetic_image.h"
#include "tests/support/test_env.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tessell::testing {
namespace {

using namespace std::chrono_literals;

// The program running in the background; ended (SIGTERM, then SIGKILL) when
// the test is done with it.
class Running {
public:
    Running(const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& environment) {
        std::vector<std::string> envText;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            if (!environment.count(name) && name != "DISPLAY" && name != "WAYLAND_DISPLAY")
                envText.push_back(text);
        }
        for (const auto& [name, value] : environment)
            envText.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& text : envText)
            envp.push_back(text.data());
        envp.push_back(nullptr);
        std::vector<std::string> argText{TESSELL_BINARY};
        argText.insert(argText.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& text : argText)
            argv.push_back(text.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, TESSELL_BINARY, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Running() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        const Deadline deadline(5s);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (deadline.expired()) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            clock().sleepFor(5ms);
        }
    }
    bool started() const { return pid_ > 0; }
    bool alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
};

TEST(WindowRun, AnswersTheQuestionsOfOtherProcesses) {
    TempDir home;
    const nlohmann::json station = {
        {"time_scale", 0.01},
        {"devices",
         {{{"friendly_name", "Line camera"}, {"chip_id", "0x80"}, {"flash", {{"part", "0x79"}}}}}}};
    home.write("station.json", station.dump());
    home.write("setting.ini", "[SETTING]\r\nBIN=SF.bin\r\n");
    const auto image = synthesized(lineImage(ImageFamily::d));
    ASSERT_FALSE(image.empty());
    writeImage(home, "SF.bin", image);

    Running tool({}, {{"TESSELL_SIM", (home / "station.json").string()},
                      {"TESSELL_HOME", home.path().string()},
                      {"XDG_RUNTIME_DIR", home.path().string()},
                      {"TMPDIR", home.path().string()},
                      {"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(tool.started());
    const auto socket = home / std::string(kQuerySocketName);
    const Deadline deadline(20s);
    while (!std::filesystem::exists(socket) && tool.alive() && !deadline.expired())
        clock().sleepFor(10ms);
    ASSERT_TRUE(std::filesystem::exists(socket)) << "the window's tool serves its socket";

    const auto ask = [&](const std::string& question) {
        std::string why;
        const auto answer = platform::askQuery(socket, question, 10s, why);
        EXPECT_TRUE(answer) << question << ": " << why;
        return answer.value_or("");
    };
    // The socket appears before the window has selected its camera; the
    // answers settle once it has.
    const Deadline selected(10s);
    while (ask("camera") != "1" && !selected.expired())
        clock().sleepFor(10ms);
    EXPECT_EQ(ask("camera"), "1");
    EXPECT_EQ(ask("image"), "1");
    EXPECT_EQ(ask("ac"), "1");
    EXPECT_EQ(ask("what"), "ERR unknown request");
    EXPECT_TRUE(tool.alive()) << "the window stays open for the operator";
}

} // namespace
} // namespace tessell::testing
