#include "FakePeer.h"

#include "Loopback.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace fake {
namespace {

void pause(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void putCrc(Bytes& frame) {
    const uint16_t crc = wire::Crc16(std::span<const uint8_t>(frame.data(), frame.size() - 2));
    frame[frame.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc >> 8);
}

bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0 && (p.revents & POLLIN);
}

int32_t rateOf(speed_t speed) {
    switch (speed) {
        case B600: return 600;
        case B1200: return 1200;
        case B2400: return 2400;
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        default: return -1;
    }
}

}  // namespace

Bytes replyTo(const wire::Request& request, uint8_t status, std::array<uint8_t, 4> data, wire::Outcome outcome) {
    wire::Reply reply;
    reply.transaction = request.transaction;
    reply.address = request.address;
    reply.outcome = outcome;
    reply.status = status;
    reply.data = data;
    const auto frame = wire::Encode(reply);
    return Bytes(frame.begin(), frame.end());
}

Bytes withTransaction(Bytes frame, uint16_t transaction) {
    frame[1] = static_cast<uint8_t>(transaction & 0xFF);
    frame[2] = static_cast<uint8_t>(transaction >> 8);
    putCrc(frame);
    return frame;
}

Bytes withAddress(Bytes frame, uint8_t address) {
    frame[3] = address;
    putCrc(frame);
    return frame;
}

Bytes withBadCrc(Bytes frame) {
    frame[frame.size() - 1] ^= 0x5A;
    return frame;
}

std::vector<wire::Request> Peer::requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

int Peer::requestCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(requests_.size());
}

void Peer::record(const wire::Request& request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
}

void Peer::start(std::function<void()> loop) { thread_ = std::thread(std::move(loop)); }

void Peer::finish(std::initializer_list<int> descriptors) {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : descriptors) ::close(fd);
}

UdpPeer::UdpPeer(Script script) : Peer(std::move(script)) {
    sockaddr_in address = kvtest::Loopback(0);
    for (int* fd : {&fd_, &otherFd_}) {
        *fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (*fd < 0 || ::bind(*fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("UDP peer: no socket");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    start([this] { loop(); });
}

UdpPeer::~UdpPeer() {
    finish({fd_, otherFd_});
}

void UdpPeer::loop() {
    while (!stop_) {
        if (!readable(fd_, 20)) continue;
        uint8_t buffer[64];
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &length);
        if (n <= 0) continue;
        const wire::Datagram datagram = wire::SplitRate(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
        wire::Request request;
        if (wire::Decode(datagram.frame, request) != wire::DecodeError::None) continue;
        lastRate_ = datagram.rate.value_or(0);
        record(request);
        for (const Answer& answer : script_(request)) {
            pause(answer.delayMs);
            ::sendto(answer.fromOtherPort ? otherFd_ : fd_, answer.bytes.data(), answer.bytes.size(), 0,
                     reinterpret_cast<sockaddr*>(&sender), length);
        }
    }
}

PtyPeer::PtyPeer(Script script) : Peer(std::move(script)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("no pty");
    path_ = ::ptsname(master_);
    // Held open so the master never sees the line hang up between the
    // library's opens; raw, so nothing is echoed before the library sets it.
    slaveKeeper_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(slaveKeeper_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
    start([this] { loop(); });
}

PtyPeer::~PtyPeer() {
    finish({slaveKeeper_, master_});
}

int32_t PtyPeer::lineRate() {
    termios tio{};
    if (::tcgetattr(master_, &tio) != 0) return -1;
    return rateOf(::cfgetospeed(&tio));
}

void PtyPeer::inject(const Bytes& bytes) {
    if (::write(master_, bytes.data(), bytes.size()) < 0) throw std::runtime_error("pty write");
}

void PtyPeer::loop() {
    Bytes pending;
    while (!stop_) {
        if (!readable(master_, 20)) continue;
        uint8_t buffer[64];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) continue;
        pending.insert(pending.end(), buffer, buffer + n);
        for (;;) {
            const auto sync = std::find(pending.begin(), pending.end(), wire::RequestSync);
            pending.erase(pending.begin(), sync);
            if (pending.size() < wire::RequestSize) break;
            wire::Request request;
            if (wire::Decode(std::span<const uint8_t>(pending.data(), wire::RequestSize), request) !=
                wire::DecodeError::None) {
                pending.erase(pending.begin());
                continue;
            }
            pending.erase(pending.begin(), pending.begin() + wire::RequestSize);
            record(request);
            for (const Answer& answer : script_(request)) {
                pause(answer.delayMs);
                if (::write(master_, answer.bytes.data(), answer.bytes.size()) < 0) break;
            }
        }
    }
}

CardPeer::CardPeer(Script script, const std::string& folder, const std::string& name)
    : Peer(std::move(script)), folder_(folder), path_(folder + "/" + name) {
    listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0)
        throw std::runtime_error("card peer: no socket");
    start([this] { loop(); });
}

CardPeer::~CardPeer() {
    finish({listener_});
    ::unlink(path_.c_str());
}

void CardPeer::loop() {
    int connection = -1;
    while (!stop_) {
        if (connection < 0) {
            if (readable(listener_, 20)) connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            continue;
        }
        if (!readable(connection, 20)) continue;
        uint8_t buffer[64];
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) {
            ::close(connection);
            connection = -1;
            continue;
        }
        wire::Request request;
        if (wire::Decode(std::span<const uint8_t>(buffer, static_cast<size_t>(n)), request) !=
            wire::DecodeError::None)
            continue;
        record(request);
        for (const Answer& answer : script_(request)) {
            pause(answer.delayMs);
            ::send(connection, answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL);
        }
    }
    if (connection >= 0) ::close(connection);
}

}  // namespace fake
