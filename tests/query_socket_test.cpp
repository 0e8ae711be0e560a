// The local query socket: the platform's server and client over real
// sockets in scratch folders, the tool's questions and their answers.

#include "app/query_service.h"
#include "platform/query_socket.h"
#include "tests/support/dialog_rig.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tessell::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

std::unique_ptr<platform::QueryServer> serve(const std::filesystem::path& path,
                                             platform::QueryServer::Handler handler) {
    std::string error;
    auto server = platform::serveQueries(path, std::move(handler), error);
    EXPECT_TRUE(server) << error;
    return server;
}

std::optional<std::string> ask(const std::filesystem::path& path, const std::string& request,
                               std::string* errorOut = nullptr) {
    std::string error;
    auto answer = platform::askQuery(path, request, 10s, error);
    if (errorOut)
        *errorOut = error;
    return answer;
}

// A raw client: sends `bytes` as they are, ends its side and reads until
// the server closes.
std::string rawExchange(const std::filesystem::path& path, const std::string& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    ::shutdown(fd, SHUT_WR);
    std::string received;
    char buffer[256];
    for (ssize_t count; (count = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        received.append(buffer, static_cast<std::size_t>(count));
    ::close(fd);
    return received;
}

TEST(QuerySocket, OneLineInOneLineOut) {
    TempDir runtime;
    const auto path = runtime / "q.sock";
    std::vector<std::string> seen;
    auto server = serve(path, [&](const std::string& request) {
        seen.push_back(request);
        return "got:" + request;
    });
    ASSERT_TRUE(server);
    EXPECT_EQ(server->path(), path);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "only the user may ask";

    EXPECT_EQ(ask(path, "camera"), "got:camera");
    EXPECT_EQ(ask(path, ""), "got:");
    // A CR before the LF is not part of the request; what follows the first
    // line is ignored; the answer is one line.
    EXPECT_EQ(rawExchange(path, "ac\r\nimage\n"), "got:ac\n");
    // Split over several writes.
    EXPECT_EQ(rawExchange(path, std::string(200, 'x') + "\n"),
              "got:" + std::string(200, 'x') + "\n");
    EXPECT_EQ(seen, (std::vector<std::string>{"camera", "", "ac", std::string(200, 'x')}));

    // A line longer than the limit, or a client that leaves without a line
    // end, gets no answer and the handler never sees it.
    EXPECT_EQ(rawExchange(path, std::string(platform::kQueryLineLimit + 200, 'y') + "\n"), "");
    EXPECT_EQ(rawExchange(path, "camera"), "") << "no line end: no request";
    EXPECT_EQ(seen.size(), 4u);
    // The server goes on answering afterwards.
    EXPECT_EQ(ask(path, "again"), "got:again");

    server.reset();
    EXPECT_FALSE(std::filesystem::exists(path)) << "the socket file goes with the server";
    std::string error;
    EXPECT_FALSE(ask(path, "camera", &error));
    EXPECT_NE(error.find("connect"), std::string::npos) << error;
}

TEST(QuerySocket, PlaceOfTheSocket) {
    TempDir runtime;
    const auto echo = [](const std::string& request) { return request; };
    {
        // A socket file left by a process that died is replaced.
        const auto path = runtime / "stale.sock";
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        ASSERT_TRUE(std::filesystem::is_socket(path));
        auto server = serve(path, echo);
        ASSERT_TRUE(server);
        EXPECT_EQ(ask(path, "x"), "x");
    }
    {
        // Anything else of that name is somebody's file and stays.
        const auto path = runtime.write("data.sock", "keep me");
        std::string error;
        EXPECT_FALSE(platform::serveQueries(path, echo, error));
        EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
        EXPECT_EQ(runtime.read("data.sock"), "keep me");
    }
    {
        // A path too long for a local socket is refused with the reason.
        const auto path = runtime / (std::string(120, 'n') + ".sock");
        std::string error;
        EXPECT_FALSE(platform::serveQueries(path, echo, error));
        EXPECT_NE(error.find("too long"), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    {
        // A folder that does not exist.
        std::string error;
        EXPECT_FALSE(platform::serveQueries(runtime / "missing" / "q.sock", echo, error));
        EXPECT_FALSE(error.empty());
    }
}

// A connected client that sends nothing.
int silentClient(const std::filesystem::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return fd;
}

TEST(QuerySocket, ClientsThatSayNothingHoldUpNobodyAndAreDroppedInTime) {
    TempDir runtime;
    const auto path = runtime / "q.sock";
    {
        // At real speed each silent client may take 5 s for its line; the
        // question after them is answered long before the first one's time.
        auto server = serve(path, [](const std::string& request) { return request; });
        ASSERT_TRUE(server);
        std::vector<int> silent;
        for (int i = 0; i < 10; ++i)
            silent.push_back(silentClient(path));
        std::string error;
        EXPECT_EQ(platform::askQuery(path, "after", 4s, error), "after") << error;
        for (const int fd : silent)
            ::close(fd);
    }
    // Tool time runs 100 times faster, so a client's 5 s pass in 50 ms: the
    // server then closes the silent connection.
    ScaledClock fast;
    fast.setTimeScale(0.01);
    ClockOverride use(fast);
    auto server = serve(path, [](const std::string& request) { return request; });
    ASSERT_TRUE(server);
    const int silent = silentClient(path);
    const timeval patience{10, 0}; // a server that never closes fails, not hangs, the test
    ::setsockopt(silent, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    char byte;
    EXPECT_EQ(::recv(silent, &byte, 1, 0), 0) << "closed by the server";
    ::close(silent);
}

TEST(ToolQuestions, RequestWords) {
    const std::vector<std::pair<std::string, std::optional<ToolQuestion>>> table = {
        {"ac", ToolQuestion::AcCheck},
        {"AC", ToolQuestion::AcCheck},
        {" 0x8001\t", ToolQuestion::AcCheck},
        {"camera", ToolQuestion::CameraOpen},
        {"Camera\r", ToolQuestion::CameraOpen},
        {"0x8002", ToolQuestion::CameraOpen},
        {"image", ToolQuestion::ImageBuffer},
        {"0X8003", ToolQuestion::ImageBuffer},
        {"", std::nullopt},
        {"acx", std::nullopt},
        {"32769", std::nullopt},
        {"camera open", std::nullopt},
    };
    for (const auto& [request, question] : table)
        EXPECT_EQ(parseToolQuestion(request), question) << '"' << request << '"';
}

// The service with its dialog's thread run by the test.
struct ServiceRig {
    explicit ServiceRig(QueryService::Answer answer)
        : loop([](int) {}),
          service(std::move(answer), loop,
                  [this](platform::QueryServer::Handler handler, std::string& error) {
                      return platform::serveQueries(path, std::move(handler), error);
                  }) {}

    // Asks on another thread while this one runs the dialog's thread.
    std::optional<std::string> askWhilePumping(const std::string& request) {
        auto answer = std::async(std::launch::async, [&] { return ask(path, request); });
        while (answer.wait_for(1ms) != std::future_status::ready) {
            loop.runPending();
            loop.waitForWork(10ms);
        }
        return answer.get();
    }

    TempDir runtime;
    std::filesystem::path path = runtime / std::string(kQuerySocketName);
    DialogLoop loop;
    QueryService service;
};

TEST(QueryService, QuestionsAreAnsweredOnTheDialogsThread) {
    const auto dialogThread = std::this_thread::get_id();
    std::vector<ToolQuestion> asked;
    bool onDialogThread = true;
    ServiceRig rig([&](ToolQuestion question) {
        onDialogThread = onDialogThread && std::this_thread::get_id() == dialogThread;
        asked.push_back(question);
        return question == ToolQuestion::AcCheck ? std::string("-1") : std::string("1");
    });
    ASSERT_TRUE(rig.service.serving()) << rig.service.error();

    EXPECT_EQ(rig.askWhilePumping("ac"), "-1");
    EXPECT_EQ(rig.askWhilePumping("CAMERA"), "1");
    EXPECT_EQ(rig.askWhilePumping("0x8003"), "1");
    // Unknown requests never reach the dialog.
    EXPECT_EQ(ask(rig.path, "reboot"), "ERR unknown request");
    EXPECT_EQ(asked, (std::vector<ToolQuestion>{ToolQuestion::AcCheck, ToolQuestion::CameraOpen,
                                                ToolQuestion::ImageBuffer}));
    EXPECT_TRUE(onDialogThread);
}

TEST(QueryService, AQuestionWaitingWhenTheToolEndsIsToldSo) {
    int calls = 0;
    auto rig = std::make_unique<ServiceRig>([&](ToolQuestion) {
        ++calls;
        return std::string("1");
    });
    ASSERT_TRUE(rig->service.serving());
    const auto path = rig->path;
    // Nobody runs the dialog's thread: the question waits until the service closes.
    auto answer = std::async(std::launch::async, [&] { return ask(path, "camera"); });
    EXPECT_EQ(answer.wait_for(100ms), std::future_status::timeout);
    // The closing dialog still has the question posted; it is dropped, not answered.
    rig.reset();
    EXPECT_EQ(answer.get(), "ERR tool ending");
    EXPECT_EQ(calls, 0);
}

TEST(QueryService, TheDialogsAnswers) {
    const json camera = {
        {"friendly_name", "Bench camera"}, {"chip_id", "0x80"}, {"flash", {{"part", "0x79"}}}};
    image::SynthesisRequest request;
    request.family = ImageFamily::d;
    request.vid = 0x1209;
    request.pid = 0x0002;
    request.bcdDevice = 0x0102;
    {
        DialogRig rig(json::array({camera}));
        rig.image("SF.bin", request);
        rig.start();
        ASSERT_TRUE(rig.initialised);
        EXPECT_EQ(answerToolQuestion(ToolQuestion::CameraOpen, *rig.dialog), "1");
        EXPECT_EQ(answerToolQuestion(ToolQuestion::ImageBuffer, *rig.dialog), "1");
        EXPECT_EQ(answerToolQuestion(ToolQuestion::AcCheck, *rig.dialog), "1");
    }
    {
        // No camera and no image file: both answers are no.
        DialogRig rig(json::array());
        rig.start();
        ASSERT_TRUE(rig.initialised);
        EXPECT_EQ(answerToolQuestion(ToolQuestion::CameraOpen, *rig.dialog), "0");
        EXPECT_EQ(answerToolQuestion(ToolQuestion::ImageBuffer, *rig.dialog), "0");
    }
    {
        // On battery with the check on: the window answers 0 once the warning
        // is closed, an unattended run -1 without a box.
        DialogRig rig(json::array({camera}));
        rig.settings("[SETTING]\r\ncheckac=1\r\n");
        rig.image("SF.bin", request);
        rig.start();
        rig.power.line = platform::kAcOffline;
        EXPECT_EQ(answerToolQuestion(ToolQuestion::AcCheck, *rig.dialog), "0");
        EXPECT_EQ(rig.view.boxes.size(), 1u);
        rig.power.line = platform::kAcOnline;
        EXPECT_EQ(answerToolQuestion(ToolQuestion::AcCheck, *rig.dialog), "1");
    }
    {
        DialogRig rig(json::array({camera}));
        rig.settings("[SETTING]\r\ncheckac=1\r\nCmdLineMode=1\r\n");
        rig.image("SF.bin", request);
        StartupFlags flags;
        flags.cmdLineMode = 1;
        flags.silentMode = 1;
        rig.power.line = platform::kAcOnline;
        rig.start(flags);
        rig.power.line = platform::kAcOffline;
        EXPECT_EQ(answerToolQuestion(ToolQuestion::AcCheck, *rig.dialog), "-1");
        EXPECT_TRUE(rig.view.boxes.empty());
    }
}

} // namespace
} // namespace tessell::testing
