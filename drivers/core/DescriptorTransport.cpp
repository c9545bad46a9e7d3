#include "DescriptorTransport.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace drv {

void DescriptorTransport::CloseDescriptor() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

PacketSocket::Packet PacketSocket::ReceivePacket(std::span<uint8_t> buffer, int flags, sockaddr_in* sender) const {
    iovec io{buffer.data(), buffer.size()};
    msghdr message{};
    if (sender) {
        message.msg_name = sender;
        message.msg_namelen = sizeof *sender;
    }
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    const ssize_t n = ::recvmsg(fd_, &message, flags);
    return Packet{n, (message.msg_flags & MSG_TRUNC) != 0};
}

}  // namespace drv
