#pragma once

// One camera on one unix socket, as the device side of the usbredir
// protocol: QEMU's usb-redir connects, says hello, and from then on sees the
// camera plugged in whenever it is on the bus. One host at a time; when it
// goes away the socket waits for the next.

#include "tools/usbcam/usb_camera.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

struct usbredirparser;
struct usb_redir_bulk_packet_header;
struct usb_redir_control_packet_header;

namespace tessell::usbcam {

// A file descriptor that closes itself.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

class RedirPort {
public:
    // Listens on `socketPath` (a stale socket there is replaced; any other
    // file is left alone and refused).
    static std::unique_ptr<RedirPort> open(std::size_t index, sim::SimCamera& camera,
                                           const std::filesystem::path& socketPath, bool verbose,
                                           std::string& error);
    ~RedirPort();
    RedirPort(const RedirPort&) = delete;
    RedirPort& operator=(const RedirPort&) = delete;

    int listenFd() const { return listener_.get(); }
    int peerFd() const { return peer_.get(); }
    bool wantsWrite() const;

    void acceptPeer();
    void readable();
    void writable();
    // Tells the host of bus changes and answers the bulk transfers whose
    // data is due.
    void service();
    // When service() next has something to do without the host asking.
    std::optional<Clock::TimePoint> nextDue() const;

    // Parser callbacks.
    void onHello();
    void onSetConfiguration(std::uint64_t id, std::uint8_t configuration);
    void onGetConfiguration(std::uint64_t id);
    void onSetAltSetting(std::uint64_t id, std::uint8_t interfaceNumber, std::uint8_t alt);
    void onGetAltSetting(std::uint64_t id, std::uint8_t interfaceNumber);
    void onControl(std::uint64_t id, const usb_redir_control_packet_header& header,
                   const std::uint8_t* data, int length);
    void onBulk(std::uint64_t id, const usb_redir_bulk_packet_header& header);
    void onCancel(std::uint64_t id);
    void onDisconnectAck();
    [[gnu::format(printf, 2, 3)]] void log(const char* format, ...);
    // Only with --verbose.
    [[gnu::format(printf, 2, 3)]] void trace(const char* format, ...);
    usbredirparser* parser() { return parser_.get(); }

private:
    struct ParserDeleter {
        void operator()(usbredirparser* parser) const;
    };
    struct PendingBulk {
        std::uint64_t id;
        std::uint8_t endpoint;
        std::size_t capacity;
    };

    RedirPort(std::size_t index, sim::SimCamera& camera, std::filesystem::path path, bool verbose);
    void dropPeer(const char* why);
    void pump();
    void sendDeviceInfo();
    void sendBulk(const PendingBulk& pending, std::uint8_t status, const Bytes& data);
    void flush();

    const std::size_t index_;
    UsbCamera camera_;
    const std::filesystem::path path_;
    const bool verbose_;
    FileDescriptor listener_;
    FileDescriptor peer_;
    std::unique_ptr<usbredirparser, ParserDeleter> parser_;
    bool helloSeen_ = false;
    bool awaitingAck_ = false;
    std::deque<PendingBulk> bulk_;
};

} // namespace tessell::usbcam
