#include "tools/usbcam/redir_port.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <usbredirparser.h>

namespace tessell::usbcam {

namespace {

RedirPort& portOf(void* priv) {
    return *static_cast<RedirPort*>(priv);
}

int readPeer(void* priv, std::uint8_t* data, int count);
int writePeer(void* priv, std::uint8_t* data, int count);

void parserLog(void* priv, int level, const char* message) {
    if (level <= usbredirparser_warning)
        portOf(priv).log("usbredir: %s", message);
    else
        portOf(priv).trace("usbredir: %s", message);
}

void onHello(void* priv, usb_redir_hello_header*) {
    portOf(priv).onHello();
}

void onReset(void* priv) {
    // QEMU resets the device several times while it enumerates; the camera
    // has no bus state worth clearing.
    portOf(priv).trace("reset (ignored)");
}

void onSetConfiguration(void* priv, std::uint64_t id, usb_redir_set_configuration_header* h) {
    portOf(priv).onSetConfiguration(id, h->configuration);
}

void onGetConfiguration(void* priv, std::uint64_t id) {
    portOf(priv).onGetConfiguration(id);
}

void onSetAltSetting(void* priv, std::uint64_t id, usb_redir_set_alt_setting_header* h) {
    portOf(priv).onSetAltSetting(id, h->interface, h->alt);
}

void onGetAltSetting(void* priv, std::uint64_t id, usb_redir_get_alt_setting_header* h) {
    portOf(priv).onGetAltSetting(id, h->interface);
}

void onStartIso(void* priv, std::uint64_t id, usb_redir_start_iso_stream_header* h) {
    usb_redir_iso_stream_status_header answer{usb_redir_stall, h->endpoint};
    usbredirparser_send_iso_stream_status(portOf(priv).parser(), id, &answer);
}

void onStopIso(void* priv, std::uint64_t id, usb_redir_stop_iso_stream_header* h) {
    usb_redir_iso_stream_status_header answer{usb_redir_success, h->endpoint};
    usbredirparser_send_iso_stream_status(portOf(priv).parser(), id, &answer);
}

void onStartInterrupt(void* priv, std::uint64_t id, usb_redir_start_interrupt_receiving_header* h) {
    usb_redir_interrupt_receiving_status_header answer{usb_redir_stall, h->endpoint};
    usbredirparser_send_interrupt_receiving_status(portOf(priv).parser(), id, &answer);
}

void onStopInterrupt(void* priv, std::uint64_t id, usb_redir_stop_interrupt_receiving_header* h) {
    usb_redir_interrupt_receiving_status_header answer{usb_redir_success, h->endpoint};
    usbredirparser_send_interrupt_receiving_status(portOf(priv).parser(), id, &answer);
}

void onAllocStreams(void* priv, std::uint64_t id, usb_redir_alloc_bulk_streams_header* h) {
    usb_redir_bulk_streams_status_header answer{h->endpoints, h->no_streams, usb_redir_stall};
    usbredirparser_send_bulk_streams_status(portOf(priv).parser(), id, &answer);
}

void onFreeStreams(void* priv, std::uint64_t id, usb_redir_free_bulk_streams_header* h) {
    usb_redir_bulk_streams_status_header answer{h->endpoints, 0, usb_redir_success};
    usbredirparser_send_bulk_streams_status(portOf(priv).parser(), id, &answer);
}

void onStartBulkReceiving(void* priv, std::uint64_t id, usb_redir_start_bulk_receiving_header* h) {
    usb_redir_bulk_receiving_status_header answer{h->stream_id, h->endpoint, usb_redir_stall};
    usbredirparser_send_bulk_receiving_status(portOf(priv).parser(), id, &answer);
}

void onStopBulkReceiving(void* priv, std::uint64_t id, usb_redir_stop_bulk_receiving_header* h) {
    usb_redir_bulk_receiving_status_header answer{h->stream_id, h->endpoint, usb_redir_success};
    usbredirparser_send_bulk_receiving_status(portOf(priv).parser(), id, &answer);
}

void onCancel(void* priv, std::uint64_t id) {
    portOf(priv).onCancel(id);
}

void onFilterReject(void* priv) {
    portOf(priv).log("the host rejects the device by its filter");
}

void onFilterFilter(void*, usbredirfilter_rule* rules, int) {
    std::free(rules); // the parser hands the rules over
}

void onDisconnectAck(void* priv) {
    portOf(priv).onDisconnectAck();
}

void onControl(void* priv, std::uint64_t id, usb_redir_control_packet_header* h, std::uint8_t* data,
               int length) {
    portOf(priv).onControl(id, *h, data, length);
    usbredirparser_free_packet_data(portOf(priv).parser(), data);
}

void onBulk(void* priv, std::uint64_t id, usb_redir_bulk_packet_header* h, std::uint8_t* data,
            int) {
    portOf(priv).onBulk(id, *h);
    usbredirparser_free_packet_data(portOf(priv).parser(), data);
}

void onIso(void* priv, std::uint64_t id, usb_redir_iso_packet_header* h, std::uint8_t* data, int) {
    usb_redir_iso_packet_header answer{h->endpoint, usb_redir_stall, 0};
    usbredirparser_send_iso_packet(portOf(priv).parser(), id, &answer, nullptr, 0);
    usbredirparser_free_packet_data(portOf(priv).parser(), data);
}

void onInterrupt(void* priv, std::uint64_t id, usb_redir_interrupt_packet_header* h,
                 std::uint8_t* data, int) {
    usb_redir_interrupt_packet_header answer{h->endpoint, usb_redir_stall, 0};
    usbredirparser_send_interrupt_packet(portOf(priv).parser(), id, &answer, nullptr, 0);
    usbredirparser_free_packet_data(portOf(priv).parser(), data);
}

void onBufferedBulk(void* priv, std::uint64_t, usb_redir_buffered_bulk_packet_header*,
                    std::uint8_t* data, int) {
    usbredirparser_free_packet_data(portOf(priv).parser(), data);
}

const char* outcomeName(ControlReply::Outcome outcome) {
    switch (outcome) {
    case ControlReply::Outcome::Ack:
        return "ack";
    case ControlReply::Outcome::Stall:
        return "stall";
    case ControlReply::Outcome::NoDevice:
        return "no device";
    }
    return "?";
}

} // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

int FileDescriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void FileDescriptor::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

void RedirPort::ParserDeleter::operator()(usbredirparser* parser) const {
    usbredirparser_destroy(parser);
}

RedirPort::RedirPort(std::size_t index, sim::SimCamera& camera, std::filesystem::path path,
                     bool verbose)
    : index_(index), camera_(camera), path_(std::move(path)), verbose_(verbose) {}

RedirPort::~RedirPort() {
    if (listener_)
        ::unlink(path_.c_str());
}

std::unique_ptr<RedirPort> RedirPort::open(std::size_t index, sim::SimCamera& camera,
                                           const std::filesystem::path& socketPath, bool verbose,
                                           std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = socketPath.string();
    if (text.empty() || text.size() >= sizeof address.sun_path) {
        error = "socket path too long for a unix socket: " + text;
        return nullptr;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);

    // A socket left by an earlier run is replaced; anything else at that path
    // is somebody's file.
    struct stat existing {};
    if (::lstat(text.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = text + " exists and is not a socket";
            return nullptr;
        }
        // A socket somebody still listens on is theirs.
        FileDescriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (probe && ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address),
                               sizeof address) == 0) {
            error = "another program listens on " + text;
            return nullptr;
        }
        ::unlink(text.c_str());
    }
    FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener) {
        error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0) {
        error = text + ": " + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<RedirPort> port(new RedirPort(index, camera, socketPath, verbose));
    port->listener_ = std::move(listener);
    port->log("listening on %s", text.c_str());
    return port;
}

void RedirPort::log(const char* format, ...) {
    std::fprintf(stderr, "tessell-usbcam: camera %zu: ", index_);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

void RedirPort::trace(const char* format, ...) {
    if (!verbose_)
        return;
    std::fprintf(stderr, "tessell-usbcam: camera %zu: ", index_);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

bool RedirPort::wantsWrite() const {
    return parser_ && usbredirparser_has_data_to_write(parser_.get()) > 0;
}

void RedirPort::acceptPeer() {
    FileDescriptor peer(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!peer)
        return; // gone again, or nothing there after all
    if (peer_) {
        log("a second host connected while one is attached: refused");
        return;
    }
    peer_ = std::move(peer);
    parser_.reset(usbredirparser_create());
    usbredirparser* parser = parser_.get();
    parser->priv = this;
    parser->log_func = parserLog;
    parser->read_func = readPeer;
    parser->write_func = writePeer;
    parser->hello_func = usbcam::onHello;
    parser->reset_func = onReset;
    parser->set_configuration_func = usbcam::onSetConfiguration;
    parser->get_configuration_func = usbcam::onGetConfiguration;
    parser->set_alt_setting_func = usbcam::onSetAltSetting;
    parser->get_alt_setting_func = usbcam::onGetAltSetting;
    parser->start_iso_stream_func = onStartIso;
    parser->stop_iso_stream_func = onStopIso;
    parser->start_interrupt_receiving_func = onStartInterrupt;
    parser->stop_interrupt_receiving_func = onStopInterrupt;
    parser->alloc_bulk_streams_func = onAllocStreams;
    parser->free_bulk_streams_func = onFreeStreams;
    parser->start_bulk_receiving_func = onStartBulkReceiving;
    parser->stop_bulk_receiving_func = onStopBulkReceiving;
    parser->cancel_data_packet_func = usbcam::onCancel;
    parser->filter_reject_func = onFilterReject;
    parser->filter_filter_func = onFilterFilter;
    parser->device_disconnect_ack_func = usbcam::onDisconnectAck;
    parser->control_packet_func = usbcam::onControl;
    parser->bulk_packet_func = usbcam::onBulk;
    parser->iso_packet_func = onIso;
    parser->interrupt_packet_func = onInterrupt;
    parser->buffered_bulk_packet_func = onBufferedBulk;

    std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_device_disconnect_ack);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
    usbredirparser_init(parser, "tessell-usbcam " TESSELL_VERSION, caps, USB_REDIR_CAPS_SIZE,
                        usbredirparser_fl_usb_host);
    helloSeen_ = false;
    awaitingAck_ = false;
    camera_.forget();
    log("host attached");
    flush();
}

void RedirPort::dropPeer(const char* why) {
    log("host detached (%s)", why);
    parser_.reset();
    peer_.reset();
    helloSeen_ = false;
    awaitingAck_ = false;
    bulk_.clear();
    camera_.forget();
}

void RedirPort::readable() {
    if (!parser_)
        return;
    // The parser reads until the socket has nothing more (the read callback
    // answers 0), so a non-blocking socket never stalls the loop.
    if (usbredirparser_do_read(parser_.get()) == usbredirparser_read_io_error) {
        dropPeer("connection closed");
        return;
    }
    service();
}

void RedirPort::writable() {
    flush();
}

void RedirPort::flush() {
    if (parser_ && usbredirparser_has_data_to_write(parser_.get()) > 0 &&
        usbredirparser_do_write(parser_.get()) == usbredirparser_write_io_error)
        dropPeer("write failed");
}

void RedirPort::sendDeviceInfo() {
    usb_redir_interface_info_header interfaces{};
    interfaces.interface_count = 2;
    interfaces.interface[0] = kControlInterface;
    interfaces.interface_class[0] = usb::kClassVideo;
    interfaces.interface_subclass[0] = usb::kSubclassVideoControl;
    interfaces.interface[1] = kStreamingInterface;
    interfaces.interface_class[1] = usb::kClassVideo;
    interfaces.interface_subclass[1] = usb::kSubclassVideoStreaming;
    usbredirparser_send_interface_info(parser_.get(), &interfaces);

    // Indexed by direction bit then endpoint number.
    usb_redir_ep_info_header endpoints{};
    for (auto& type : endpoints.type)
        type = usb_redir_type_invalid;
    endpoints.type[0x00] = endpoints.type[0x10] = usb_redir_type_control;
    endpoints.max_packet_size[0x00] = endpoints.max_packet_size[0x10] = kControlPacketSize;
    const int stream = ((kStreamEndpoint & 0x80) >> 3) | (kStreamEndpoint & 0x0F);
    endpoints.type[stream] = usb_redir_type_bulk;
    endpoints.interface[stream] = kStreamingInterface;
    endpoints.max_packet_size[stream] = kStreamPacketSize;
    usbredirparser_send_ep_info(parser_.get(), &endpoints);
}

void RedirPort::onHello() {
    helloSeen_ = true;
    trace("hello from the host");
    pump();
}

void RedirPort::service() {
    if (!parser_)
        return;
    pump();
    flush();
}

// Called from the parser's callbacks too: it queues, never writes, so the
// parser is never torn down under its own feet.
void RedirPort::pump() {
    if (!parser_ || !helloSeen_)
        return;
    while (!awaitingAck_) {
        const auto change = camera_.nextChange();
        if (!change)
            break;
        if (*change == UsbCamera::BusChange::Disconnect) {
            bulk_.clear();
            usbredirparser_send_device_disconnect(parser_.get());
            log("disconnected");
            // The host acknowledges; until then its packets are for the old device.
            awaitingAck_ = usbredirparser_peer_has_cap(parser_.get(),
                                                       usb_redir_cap_device_disconnect_ack) != 0;
            continue;
        }
        const CameraLayout& layout = camera_.layout();
        sendDeviceInfo();
        usb_redir_device_connect_header connect{};
        connect.speed = usb_redir_speed_high;
        connect.device_class = usb::kClassMiscellaneous;
        connect.device_subclass = usb::kSubclassCommon;
        connect.device_protocol = usb::kProtocolInterfaceAssociation;
        connect.vendor_id = layout.vid;
        connect.product_id = layout.pid;
        connect.device_version_bcd = layout.bcdDevice;
        usbredirparser_send_device_connect(parser_.get(), &connect);
        log("connected as %04x:%04x bcdDevice %04x", layout.vid, layout.pid, layout.bcdDevice);
    }

    // Bulk transfers wait for their frame's time, oldest first.
    while (!bulk_.empty() && camera_.connected()) {
        const PendingBulk pending = bulk_.front();
        auto payload = camera_.stream().nextPayload(pending.capacity);
        if (!payload)
            break;
        bulk_.pop_front();
        sendBulk(pending, usb_redir_success, *payload);
    }
}

std::optional<Clock::TimePoint> RedirPort::nextDue() const {
    std::optional<Clock::TimePoint> due;
    if (!bulk_.empty())
        due = camera_.stream().nextFrameAt().value_or(clock().now());
    return due;
}

void RedirPort::onSetConfiguration(std::uint64_t id, std::uint8_t configuration) {
    usb_redir_configuration_status_header answer{};
    answer.configuration = camera_.configuration();
    answer.status = usb_redir_stall;
    if (camera_.connected() && camera_.setConfiguration(configuration)) {
        answer.status = usb_redir_success;
        answer.configuration = configuration;
        sendDeviceInfo();
    }
    trace("set configuration %u: %s", configuration,
          answer.status == usb_redir_success ? "ok" : "stall");
    usbredirparser_send_configuration_status(parser_.get(), id, &answer);
}

void RedirPort::onGetConfiguration(std::uint64_t id) {
    usb_redir_configuration_status_header answer{usb_redir_success, camera_.configuration()};
    usbredirparser_send_configuration_status(parser_.get(), id, &answer);
}

void RedirPort::onSetAltSetting(std::uint64_t id, std::uint8_t interfaceNumber, std::uint8_t alt) {
    usb_redir_alt_setting_status_header answer{usb_redir_stall, interfaceNumber, 0};
    if (camera_.connected() && camera_.setAltSetting(interfaceNumber, alt)) {
        answer.status = usb_redir_success;
        answer.alt = alt;
    }
    trace("set interface %u alternate setting %u: %s", interfaceNumber, alt,
          answer.status == usb_redir_success ? "ok" : "stall");
    usbredirparser_send_alt_setting_status(parser_.get(), id, &answer);
}

void RedirPort::onGetAltSetting(std::uint64_t id, std::uint8_t interfaceNumber) {
    const bool known =
        interfaceNumber == kControlInterface || interfaceNumber == kStreamingInterface;
    usb_redir_alt_setting_status_header answer{
        static_cast<std::uint8_t>(known ? usb_redir_success : usb_redir_inval), interfaceNumber, 0};
    usbredirparser_send_alt_setting_status(parser_.get(), id, &answer);
}

void RedirPort::onControl(std::uint64_t id, const usb_redir_control_packet_header& header,
                          const std::uint8_t* data, int length) {
    SetupPacket setup{header.requesttype, header.request, header.value, header.index,
                      header.length};
    const std::span<const std::uint8_t> out(data, data && length > 0 ? std::size_t(length) : 0);
    const ControlReply reply = awaitingAck_ ? ControlReply{ControlReply::Outcome::NoDevice, {}}
                                            : camera_.control(setup, out);

    usb_redir_control_packet_header answer = header;
    switch (reply.outcome) {
    case ControlReply::Outcome::Ack:
        answer.status = usb_redir_success;
        answer.length =
            static_cast<std::uint16_t>(setup.deviceToHost() ? reply.data.size() : out.size());
        break;
    case ControlReply::Outcome::Stall:
        answer.status = usb_redir_stall;
        answer.length = 0;
        break;
    case ControlReply::Outcome::NoDevice:
        answer.status = usb_redir_ioerror;
        answer.length = 0;
        break;
    }
    trace("control %02x %02x value %04x index %04x length %u: %s, %u bytes (error code %u)",
          header.requesttype, header.request, header.value, header.index, header.length,
          outcomeName(reply.outcome), unsigned{answer.length}, unsigned{camera_.requestError()});
    const bool withData = setup.deviceToHost() && !reply.data.empty();
    usbredirparser_send_control_packet(parser_.get(), id, &answer,
                                       withData ? const_cast<std::uint8_t*>(reply.data.data())
                                                : nullptr,
                                       withData ? static_cast<int>(reply.data.size()) : 0);
    // A request may have reset or unplugged the camera: say so right after
    // its answer.
    pump();
}

void RedirPort::onBulk(std::uint64_t id, const usb_redir_bulk_packet_header& header) {
    std::size_t capacity = header.length;
    if (usbredirparser_have_cap(parser_.get(), usb_redir_cap_32bits_bulk_length) &&
        usbredirparser_peer_has_cap(parser_.get(), usb_redir_cap_32bits_bulk_length))
        capacity |= std::size_t{header.length_high} << 16;
    const PendingBulk pending{id, header.endpoint, capacity};
    if (header.endpoint != kStreamEndpoint || !camera_.connected() || awaitingAck_) {
        sendBulk(pending, usb_redir_stall, {});
        return;
    }
    bulk_.push_back(pending);
    pump();
}

void RedirPort::sendBulk(const PendingBulk& pending, std::uint8_t status, const Bytes& data) {
    usb_redir_bulk_packet_header answer{};
    answer.endpoint = pending.endpoint;
    answer.status = status;
    answer.length = static_cast<std::uint16_t>(data.size());
    answer.length_high = static_cast<std::uint16_t>(data.size() >> 16);
    usbredirparser_send_bulk_packet(parser_.get(), pending.id, &answer,
                                    data.empty() ? nullptr : const_cast<std::uint8_t*>(data.data()),
                                    static_cast<int>(data.size()));
}

void RedirPort::onCancel(std::uint64_t id) {
    for (auto it = bulk_.begin(); it != bulk_.end(); ++it)
        if (it->id == id) {
            const PendingBulk pending = *it;
            bulk_.erase(it);
            sendBulk(pending, usb_redir_cancelled, {});
            return;
        }
}

void RedirPort::onDisconnectAck() {
    awaitingAck_ = false;
    trace("disconnect acknowledged");
    pump();
}

namespace {

int readPeer(void* priv, std::uint8_t* data, int count) {
    RedirPort& port = portOf(priv);
    const ssize_t got = ::recv(port.peerFd(), data, static_cast<std::size_t>(count), 0);
    if (got > 0)
        return static_cast<int>(got);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1; // closed by the host, or broken
}

int writePeer(void* priv, std::uint8_t* data, int count) {
    RedirPort& port = portOf(priv);
    const ssize_t sent = ::send(port.peerFd(), data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    if (sent >= 0)
        return static_cast<int>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    return -1;
}

} // namespace

} // namespace tessell::usbcam
