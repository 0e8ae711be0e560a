// The emulated camera's usbredir side: any bytes from the virtual machine's
// end of the socket, parsed and answered by the camera. Run with
// -close_fd_mask=2: the port reports every attach on standard error.

#include "fuzz_input.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/station.h"
#include "tools/usbcam/redir_port.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tessell;

namespace {

struct Bench {
    Bench() {
        path =
            fuzz::scratchFolder() / ("tessell-fuzz-redir-" + std::to_string(::getpid()) + ".sock");
        std::string error;
        auto station = sim::parseStation(
            R"({"devices": [{"chip_id": "0xC0", "flash": {"part": "0x79"}}]})", "/", error);
        platform = sim::SimPlatform::fromStation(std::move(*station), {false, false}, error);
        port = usbcam::RedirPort::open(0, platform->camera(0), path, false, error);
        if (!port)
            std::abort();
    }
    std::filesystem::path path;
    std::unique_ptr<sim::SimPlatform> platform;
    std::unique_ptr<usbcam::RedirPort> port;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Bench bench;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, bench.path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        std::abort();
    bench.port->acceptPeer();
    // Inputs are far smaller than the socket's buffer: all of it goes at once.
    for (std::size_t sent = 0; sent < size;) {
        const ssize_t count = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (count <= 0)
            break;
        sent += static_cast<std::size_t>(count);
    }
    ::shutdown(fd, SHUT_WR);
    // Until the port has read the end of the stream and let the host go;
    // whatever it answers is read away so that it never waits to write.
    char answer[4096];
    for (int round = 0; round < 64 && bench.port->peerFd() >= 0; ++round) {
        bench.port->readable();
        bench.port->writable();
        while (::recv(fd, answer, sizeof answer, MSG_DONTWAIT) > 0) {
        }
    }
    ::close(fd);
    // A host that did not let go is let go now, so the next input starts anew.
    if (bench.port->peerFd() >= 0)
        bench.port->readable();
    return 0;
}
