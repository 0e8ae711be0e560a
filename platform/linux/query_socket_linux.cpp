#include "common/trace.h"
#include "platform/query_socket.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tessell::platform {

namespace {

using namespace std::chrono_literals;

// How long a connected client may take to send its request line: one that
// connects and says nothing must not keep the others waiting.
constexpr auto kRequestTime = 5s;
// How often blocking polls look at the stop signal and the clock.
constexpr auto kPollSlice = 100ms;
// Clients read at the same time; one more drops the one waiting longest.
constexpr std::size_t kMaxPendingClients = 32;

class SocketDescriptor {
public:
    explicit SocketDescriptor(int fd = -1) : fd_(fd) {}
    ~SocketDescriptor() { reset(); }
    SocketDescriptor(SocketDescriptor&& other) noexcept : fd_(other.release()) {}
    SocketDescriptor& operator=(SocketDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string socketError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool socketAddress(const std::filesystem::path& path, sockaddr_un& address, std::string& error) {
    const std::string text = path.string();
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (text.empty() || text.size() >= sizeof address.sun_path) {
        error = "socket path too long for a local socket (" + std::to_string(text.size()) +
                " bytes, at most " + std::to_string(sizeof address.sun_path - 1) + "): " + text;
        return false;
    }
    std::memcpy(address.sun_path, text.data(), text.size());
    return true;
}

int pollSliceMs(const Deadline& deadline) {
    const auto remaining = std::min<Clock::Duration>(deadline.remaining(), kPollSlice);
    return static_cast<int>(clock().realInterval(remaining).count());
}

// Reads one line (without its end) before `deadline`; none on end of stream,
// a line over the limit, an error or the time running out. `wake` is polled
// too and ends the read when signalled.
std::optional<std::string> readLine(int fd, int wake, const Deadline& deadline) {
    std::string line;
    char buffer[128];
    while (!deadline.expired()) {
        pollfd watched[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        const int ready = ::poll(watched, wake >= 0 ? 2 : 1, pollSliceMs(deadline));
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        if (wake >= 0 && (watched[1].revents & POLLIN))
            return std::nullopt;
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return std::nullopt;
        for (ssize_t index = 0; index < count; ++index) {
            if (buffer[index] == '\n') {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            line += buffer[index];
        }
        if (line.size() > kQueryLineLimit)
            return std::nullopt;
    }
    return std::nullopt;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t count = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        sent += static_cast<std::size_t>(count);
    }
    return true;
}

// A connected client still sending its request line.
struct PendingClient {
    SocketDescriptor fd;
    Deadline deadline{kRequestTime};
    std::string line;
};

// What one look at a client's socket gave.
enum class ClientRead { Waiting, Complete, Gone };

// Takes what the client has sent so far, without waiting for more.
ClientRead readAvailable(PendingClient& client) {
    char buffer[128];
    for (;;) {
        const ssize_t count = ::recv(client.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? ClientRead::Waiting : ClientRead::Gone;
        if (count == 0)
            return ClientRead::Gone;
        for (ssize_t index = 0; index < count; ++index) {
            if (buffer[index] == '\n') {
                if (!client.line.empty() && client.line.back() == '\r')
                    client.line.pop_back();
                return ClientRead::Complete;
            }
            client.line += buffer[index];
        }
        if (client.line.size() > kQueryLineLimit)
            return ClientRead::Gone;
    }
}

class LinuxQueryServer final : public QueryServer {
public:
    LinuxQueryServer(std::filesystem::path path, SocketDescriptor listener, SocketDescriptor wake,
                     Handler handler)
        : path_(std::move(path)), listener_(std::move(listener)), wake_(std::move(wake)),
          handler_(std::move(handler)) {
        thread_ = std::thread([this] { serve(); });
    }
    ~LinuxQueryServer() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
        thread_.join();
        listener_.reset();
        ::unlink(path_.c_str());
    }
    const std::filesystem::path& path() const override { return path_; }

private:
    // Every client is read as its bytes come, each against its own time
    // limit, so one that connects and says nothing holds up no other. The
    // answers still come one at a time, in the order the lines complete.
    void serve() {
        std::vector<PendingClient> clients;
        for (;;) {
            std::vector<pollfd> watched = {{wake_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
            for (const PendingClient& client : clients)
                watched.push_back({client.fd.get(), POLLIN, 0});
            int timeoutMs = -1;
            for (const PendingClient& client : clients)
                timeoutMs = timeoutMs < 0 ? pollSliceMs(client.deadline)
                                          : std::min(timeoutMs, pollSliceMs(client.deadline));
            const int ready = ::poll(watched.data(), watched.size(), timeoutMs);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                trace::writef("query socket: poll failed (errno %d); not answering", errno);
                return;
            }
            if (watched[0].revents & POLLIN)
                return;
            for (std::size_t index = 0; index < clients.size(); ++index) {
                PendingClient& client = clients[index];
                if (!watched[index + 2].revents)
                    continue;
                const ClientRead read = readAvailable(client);
                if (read == ClientRead::Complete)
                    writeAll(client.fd.get(), handler_(client.line) + "\n");
                if (read != ClientRead::Waiting)
                    client.fd.reset();
            }
            // A client whose line is in time has been read above; the rest
            // of the time is up.
            std::erase_if(clients, [](const PendingClient& client) {
                return !client.fd || client.deadline.expired();
            });
            if (watched[1].revents & POLLIN)
                accept(clients);
        }
    }

    void accept(std::vector<PendingClient>& clients) {
        SocketDescriptor client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client)
            return;
        // A crowd of clients that say nothing makes room: the one that has
        // waited longest goes first.
        if (clients.size() >= kMaxPendingClients)
            clients.erase(clients.begin());
        clients.push_back({std::move(client), Deadline(kRequestTime), {}});
    }

    std::filesystem::path path_;
    SocketDescriptor listener_;
    SocketDescriptor wake_;
    Handler handler_;
    std::thread thread_;
};

} // namespace

std::unique_ptr<QueryServer> serveQueries(const std::filesystem::path& socketPath,
                                          QueryServer::Handler handler, std::string& error) {
    sockaddr_un address;
    if (!socketAddress(socketPath, address, error))
        return nullptr;
    SocketDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener) {
        error = socketError("socket");
        return nullptr;
    }
    // Only a socket is replaced: a regular file of that name is someone's data.
    struct stat existing;
    if (::lstat(socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = socketPath.string() + " exists and is not a socket";
            return nullptr;
        }
        ::unlink(socketPath.c_str());
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = socketError(("bind " + socketPath.string()).c_str());
        return nullptr;
    }
    // Questions are for the same user only (the temporary folder may be shared).
    ::chmod(socketPath.c_str(), 0600);
    if (::listen(listener.get(), 8) != 0) {
        error = socketError("listen");
        ::unlink(socketPath.c_str());
        return nullptr;
    }
    SocketDescriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) {
        error = socketError("eventfd");
        ::unlink(socketPath.c_str());
        return nullptr;
    }
    return std::make_unique<LinuxQueryServer>(socketPath, std::move(listener), std::move(wake),
                                              std::move(handler));
}

std::optional<std::string> askQuery(const std::filesystem::path& socketPath,
                                    const std::string& request, Clock::Duration timeout,
                                    std::string& error) {
    sockaddr_un address;
    if (!socketAddress(socketPath, address, error))
        return std::nullopt;
    SocketDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = socketError("socket");
        return std::nullopt;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = socketError(("connect " + socketPath.string()).c_str());
        return std::nullopt;
    }
    if (!writeAll(fd.get(), request + "\n")) {
        error = socketError("send");
        return std::nullopt;
    }
    const Deadline deadline(timeout);
    std::optional<std::string> answer = readLine(fd.get(), -1, deadline);
    if (!answer)
        error = "no answer line from " + socketPath.string();
    return answer;
}

} // namespace tessell::platform
