#include "UdpEndpoint.h"
#include "Descriptors.h"
#include "Messages.h"
#include "Frame.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace emu {

UdpEndpoint::~UdpEndpoint() { CloseFd(fd_); }

bool UdpEndpoint::Open(std::string& why) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    if (::inet_pton(AF_INET, host_.c_str(), &address.sin_addr) != 1) {
        why = i18n::Fill(_("%s: not an IPv4 address"), host_);
        return false;
    }
    const bool loopback = (ntohl(address.sin_addr.s_addr) >> 24) == 127;
    if (!loopback && !allowNonlocal_) {
        why = i18n::Fill(_("%s: not a loopback address (give --allow-nonlocal to serve it)"), host_);
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        why = Errno("UDP " + host_ + ":" + std::to_string(port_));
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

std::string UdpEndpoint::ReadyField() const { return "udp=" + host_ + ":" + std::to_string(port_); }

void UdpEndpoint::AddWatches(std::vector<Watch>& watches) { watches.push_back({fd_, [this] { OnReadable(); }}); }

void UdpEndpoint::OnReadable() {
    uint8_t buffer[512];
    for (;;) {
        Peer peer;
        socklen_t length = sizeof peer.address;
        const ssize_t n =
            ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer.address), &length);
        if (n < 0) return;
        // The converter puts the request on its line at the rate the library
        // named; only modules at that rate hear it.  Without one, all do.
        const wire::Datagram datagram = wire::SplitRate(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
        Answer(peer, datagram.frame, datagram.rate);
    }
}

void UdpEndpoint::Deliver(const Peer& peer, std::span<const uint8_t> bytes) {
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&peer.address),
             sizeof peer.address);
}

}  // namespace emu
