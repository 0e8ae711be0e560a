// An unattended run of the built program answers questions while it works,
// and stops answering (and takes its socket away) when it ends.

#include "app/query_service.h"
#include "download/image_synthesis.h"
#include "platform/query_socket.h"
#include "tests/support/process.h"
#include "tests/support/synthetic_image.h"
#include "tests/support/test_env.h"

#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tessell::testing {
namespace {

using namespace std::chrono_literals;

TEST(ConsoleQueries, AnUnattendedRunAnswersWhileItWorks) {
    TempDir home;
    // A slower station than usual: the run must last long enough to be asked.
    const nlohmann::json station = {
        {"time_scale", 0.25},
        {"devices",
         {{{"friendly_name", "Line camera"}, {"chip_id", "0x80"}, {"flash", {{"part", "0x79"}}}}}}};
    home.write("station.json", station.dump());
    const auto image = synthesized(lineImage(ImageFamily::d));
    ASSERT_FALSE(image.empty());
    const auto imagePath = writeImage(home, "SF.bin", image);

    auto run = std::async(std::launch::async, [&] {
        return runProcess(TESSELL_BINARY, {"-s", imagePath.string(), "-silent"},
                          {{"TESSELL_SIM", (home / "station.json").string()},
                           {"TESSELL_HOME", home.path().string()},
                           {"XDG_RUNTIME_DIR", home.path().string()},
                           {"TMPDIR", home.path().string()},
                           {"DISPLAY", std::nullopt},
                           {"WAYLAND_DISPLAY", std::nullopt}});
    });

    const auto socket = home / std::string(kQuerySocketName);
    std::optional<std::string> imageAnswer;
    while (run.wait_for(2ms) != std::future_status::ready && !imageAnswer) {
        // Asked until the tool serves: nobody answers before it does.
        std::string why;
        if (auto answer = platform::askQuery(socket, "image", 5s, why);
            answer && *answer != "ERR tool ending")
            imageAnswer = answer;
    }
    const ProcessResult result = run.get();
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(imageAnswer, "1") << "asked while the download ran";
    std::string why;
    EXPECT_FALSE(platform::askQuery(socket, "image", 1s, why)) << "the questions go with the tool";
#ifndef _WIN32
    // Windows answers through a window and leaves no file.
    EXPECT_FALSE(std::filesystem::exists(socket)) << "the socket goes with the tool";
#endif
}

} // namespace
} // namespace tessell::testing
