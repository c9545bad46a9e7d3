#include "UdpLink.h"

#include "Codes.h"
#include "Frame.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace drv::kv {
namespace {

// An IPv4 address in dotted form is at most 15 characters; a little room for
// blanks, and no reading far past a text that is not ended.
constexpr size_t LongestIpText = 63;

}  // namespace

int32_t ReadParameters(const intptr_t* block, Parameters& out) {
    if (!block || block[0] == 0) return InvalidParameter;
    const char* text = reinterpret_cast<const char*>(block[0]);
    const size_t length = ::strnlen(text, LongestIpText + 1);
    if (length == 0 || length > LongestIpText) return InvalidParameter;
    const std::string ip(text, length);

    Parameters parameters;
    parameters.peer.sin_family = AF_INET;
    if (::inet_pton(AF_INET, ip.c_str(), &parameters.peer.sin_addr) != 1) return InvalidParameter;
    if (block[1] < 1 || block[1] > 65535) return InvalidParameter;
    parameters.peer.sin_port = htons(static_cast<uint16_t>(block[1]));
    if (block[2] < 0 || block[2] > 65535) return InvalidParameter;
    parameters.timeoutMs = static_cast<int32_t>(block[2]);
    out = parameters;
    return Ok;
}

int32_t UdpLink::Open(const sockaddr_in& peer, std::unique_ptr<Transport>& out) {
    std::unique_ptr<UdpLink> link(new UdpLink(peer));
    // Blocking, so that a reply is waited for in the one recvmsg that takes it
    // (SO_RCVTIMEO bounds the wait): an exchange costs the same two system
    // calls as a bare request and reply.
    link->fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (link->fd_ < 0) return IoError;
    // Connected, the kernel already drops datagrams from anyone else; the
    // sender is checked again on every datagram all the same.
    if (::connect(link->fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) return IoError;
    out = std::move(link);
    return Ok;
}

bool UdpLink::FromPeer(const sockaddr_in& sender) const {
    return sender.sin_family == AF_INET && sender.sin_port == peer_.sin_port &&
           sender.sin_addr.s_addr == peer_.sin_addr.s_addr;
}

// Whatever waits before the request goes out answers nothing that was sent:
// a forged reply with the next transaction number would pass the judge, and
// a damaged datagram would turn this exchange's "no reply" into "damaged".
// Costs one recv that finds nothing on a quiet link.  The bound keeps a flood
// from holding the request back; it is above what a receive buffer holds.
int32_t UdpLink::DiscardInput() {
    for (int i = 0; i < 4096; ++i) {
        const ssize_t n = ::recv(fd_, nullptr, 0, MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0 || errno == EINTR || errno == ECONNREFUSED) continue;
        break;
    }
    return Ok;
}

Received UdpLink::TakeWaiting(std::span<uint8_t> buffer) {
    for (;;) {
        sockaddr_in sender{};
        const Packet packet = ReceivePacket(buffer, MSG_DONTWAIT, &sender);
        if (packet.length < 0 && (errno == EINTR || errno == ECONNREFUSED)) continue;
        if (packet.length < 0) return Received{.timedOut = true};
        if (!FromPeer(sender)) continue;
        return packet.AsReceived();
    }
}

int32_t UdpLink::ApplyRate(int32_t rate) {
    if (rate <= 0 || rate > wire::HighestSuffixRate) return InvalidParameter;
    rate_ = rate;
    return Ok;
}

int32_t UdpLink::Send(std::span<const uint8_t> request, Clock::time_point deadline) {
    if (request.size() != wire::RequestSize) return InvalidParameter;
    std::array<uint8_t, wire::RequestSize> frame{};
    std::copy(request.begin(), request.end(), frame.begin());
    const wire::RatedRequest datagram = wire::WithRate(frame, rate_);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t n = ::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(datagram.size())) return Ok;
        // An earlier datagram found no one listening and the kernel reports
        // it now: that says nothing about this one, so send it again.
        if (n < 0 && (errno == ECONNREFUSED || errno == EINTR)) continue;
        if (n < 0 && (errno == EAGAIN || errno == ENOBUFS)) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, MsLeft(deadline)) > 0) continue;
            return NoReply;
        }
        return IoError;
    }
    return IoError;
}

// Sets the socket's receive time-out to what is left until the deadline,
// unless the one set already ends within a millisecond of it.
// SO_RCVTIMEO is counted in the kernel's timer ticks and ends up to a tick
// or two late: 24 ms for 20, which a scan of silent addresses pays at every
// one; a longer one lands on a coarser level of the kernel's timer wheel,
// which may end it up to an eighth of it later (a 423 ms wait ended after
// 447).  So the blocking recvmsg waits for all but the last TickSlackMs and
// that eighth, and what is left of the time-out is waited for in ppoll(),
// whose timer is exact.  A reply that comes before then still costs the one
// recvmsg.
constexpr int TickSlackMs = 10;
constexpr int WheelSlackShare = 8;

bool UdpLink::WaitAtMost(Clock::time_point deadline) {
    const int whole = MsLeft(deadline);
    const int left = whole - TickSlackMs - whole / WheelSlackShare;
    if (left <= 0) return false;
    if (std::abs(left - receiveTimeoutMs_) > 1) {
        const timeval tv{left / 1000, (left % 1000) * 1000};
        if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;
        receiveTimeoutMs_ = left;
    }
    return true;
}

bool UdpLink::ReadableBy(Clock::time_point deadline) const {
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return false;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        pollfd p{fd_, POLLIN, 0};
        const int n = ::ppoll(&p, 1, &wait, nullptr);
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return n != 0;
    }
}

Received UdpLink::Receive(std::span<uint8_t> buffer, Clock::time_point deadline) {
    for (;;) {
        // The last of the wait: ppoll, then a recvmsg that does not block.
        const bool blocking = WaitAtMost(deadline);
        if (!blocking && !ReadableBy(deadline)) return Received{.timedOut = true};
        sockaddr_in sender{};
        const Packet packet = ReceivePacket(buffer, blocking ? 0 : MSG_DONTWAIT, &sender);
        if (packet.length < 0) {
            // A refusal from the kernel (no one at the port) is not a reply:
            // the module may still answer before the time-out.
            if (errno == ECONNREFUSED || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                if (Clock::now() >= deadline) return Received{.timedOut = true};
                // What is left is less than the time-out set: set it anew.
                receiveTimeoutMs_ = -1;
                continue;
            }
            return Received{IoError};
        }
        if (!FromPeer(sender)) continue;
        return packet.AsReceived();
    }
}

}  // namespace drv::kv
