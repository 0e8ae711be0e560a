// tessell-usbcam: the cameras of a station file as USB devices for QEMU's
// usb-redir, one unix socket per camera, so that the Linux backend can be
// tried against the real uvcvideo driver in a virtual machine. The cameras
// are the simulator's: same firmware, flash files, faults and state files.

#include "platform/sim/sim_platform.h"
#include "tools/usbcam/redir_port.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tessell::Clock;

// The simulator looks at the station file this often (tool time).
constexpr Clock::Duration kStationCheck = 200ms;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

void usage(FILE* out) {
    std::fputs("Usage: tessell-usbcam [--verbose] STATION SOCKET [SOCKET...]\n"
               "\n"
               "Presents the cameras of the station file STATION (the format TESSELL_SIM\n"
               "reads) to QEMU's usb-redir: camera N of the file on the Nth SOCKET, a unix\n"
               "socket this program listens on. Connect QEMU with\n"
               "  -chardev socket,id=cam0,path=SOCKET -device usb-redir,chardev=cam0\n"
               "Cameras beyond the last socket are not presented.\n"
               "\n"
               "  --verbose   trace every request on standard error\n",
               out);
}

} // namespace

int main(int argc, char** argv) {
    bool verbose = false;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--verbose" || argument == "-v") {
            verbose = true;
        } else if (argument == "--help" || argument == "-h") {
            usage(stdout);
            return 0;
        } else if (argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "tessell-usbcam: unknown option %s\n", argument.c_str());
            usage(stderr);
            return 2;
        } else {
            arguments.push_back(argument);
        }
    }
    if (arguments.size() < 2) {
        usage(stderr);
        return 2;
    }

    std::string error;
    auto platform = tessell::sim::SimPlatform::open(arguments[0], {false, true}, error);
    if (!platform) {
        std::fprintf(stderr, "tessell-usbcam: %s\n", error.c_str());
        return 1;
    }
    const std::size_t sockets = arguments.size() - 1;
    if (sockets > platform->cameraCount()) {
        std::fprintf(stderr, "tessell-usbcam: %zu sockets for %zu cameras in %s\n", sockets,
                     platform->cameraCount(), arguments[0].c_str());
        return 2;
    }
    std::vector<std::unique_ptr<tessell::usbcam::RedirPort>> ports;
    for (std::size_t i = 0; i < sockets; ++i) {
        auto port = tessell::usbcam::RedirPort::open(i, platform->camera(i), arguments[i + 1],
                                                     verbose, error);
        if (!port) {
            std::fprintf(stderr, "tessell-usbcam: camera %zu: %s\n", i, error.c_str());
            return 1;
        }
        ports.push_back(std::move(port));
    }

    struct sigaction stop {};
    stop.sa_handler = requestStop;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<pollfd> fds;
    while (!stopRequested) {
        platform->service();
        for (auto& port : ports)
            port->service();

        // Sleep until a socket stirs, a camera is due back, a frame is due or
        // the station file should be looked at again.
        const auto now = tessell::clock().now();
        Clock::Duration wait = kStationCheck;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (const auto back = platform->camera(i).returnTime())
                wait = std::min(wait, std::max(Clock::Duration::zero(), *back - now));
            if (const auto due = ports[i]->nextDue())
                wait = std::min(wait, std::max(Clock::Duration::zero(), *due - now));
        }
        fds.clear();
        for (const auto& port : ports) {
            fds.push_back({port->listenFd(), POLLIN, 0});
            const short events = static_cast<short>(POLLIN | (port->wantsWrite() ? POLLOUT : 0));
            fds.push_back({port->peerFd(), events, 0}); // -1 when none: poll skips it
        }
        const int ready = ::poll(fds.data(), fds.size(),
                                 static_cast<int>(tessell::clock().realInterval(wait).count()));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tessell-usbcam: poll: %s\n", std::strerror(errno));
            return 1;
        }
        for (std::size_t i = 0; i < ports.size(); ++i) {
            const pollfd& listener = fds[2 * i];
            const pollfd& peer = fds[2 * i + 1];
            if (peer.fd >= 0 && (peer.revents & POLLOUT))
                ports[i]->writable();
            if (peer.fd >= 0 && (peer.revents & (POLLIN | POLLHUP | POLLERR)))
                ports[i]->readable();
            if (listener.revents & POLLIN)
                ports[i]->acceptPeer();
        }
    }
    std::fprintf(stderr, "tessell-usbcam: stopped\n");
    return 0;
}
