// The query socket's request line: any bytes from a client, read by the
// server of the running tool and answered.

#include "app/query_service.h"
#include "fuzz_input.h"
#include "platform/query_socket.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tessell;

namespace {

struct Server {
    Server() {
        path =
            fuzz::scratchFolder() / ("tessell-fuzz-query-" + std::to_string(::getpid()) + ".sock");
        std::string error;
        server = platform::serveQueries(
            path,
            [](const std::string& request) {
                const auto question = parseToolQuestion(request);
                return question ? std::to_string(static_cast<int>(*question))
                                : std::string("ERR unknown request");
            },
            error);
        if (!server)
            std::abort();
    }
    std::filesystem::path path;
    std::unique_ptr<platform::QueryServer> server;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Server server;
    (void)parseToolQuestion(std::string_view(reinterpret_cast<const char*>(data), size));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, server.path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        std::abort();
    for (std::size_t sent = 0; sent < size;) {
        const ssize_t count = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (count <= 0)
            break; // the server closed a line over its limit
        sent += static_cast<std::size_t>(count);
    }
    ::shutdown(fd, SHUT_WR);
    char answer[512];
    while (::recv(fd, answer, sizeof answer, 0) > 0) {
    }
    ::close(fd);
    return 0;
}
