// What the transports share below the Transport interface: the one
// descriptor each owns, and the packet sockets' way of taking a packet.
#pragma once

#include "Transport.h"

#include <sys/types.h>

struct sockaddr_in;

namespace drv {

// A transport over a descriptor of its own, closed with it.
class DescriptorTransport : public Transport {
public:
    ~DescriptorTransport() override { CloseDescriptor(); }

protected:
    void CloseDescriptor();

    int fd_ = -1;
};

// A socket of packets (a datagram, a SOCK_SEQPACKET record): every packet is
// one candidate frame.
class PacketSocket : public DescriptorTransport {
public:
    bool IsStream() const final { return false; }

protected:
    // One packet as recvmsg took it: its length (errno says why when it is
    // negative) and whether it was longer than the buffer.
    struct Packet {
        ssize_t length = -1;
        bool cut = false;
        Received AsReceived() const { return Received{.size = static_cast<size_t>(length), .oversized = cut}; }
    };
    // One recvmsg with `flags` into `buffer`; `sender`, when given, is where
    // the packet came from.
    Packet ReceivePacket(std::span<uint8_t> buffer, int flags, sockaddr_in* sender = nullptr) const;
};

}  // namespace drv
