#include "CardSocket.h"

#include "Codes.h"
#include "card_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace drv::cards {

std::string cardFolder() {
    const char* folder = std::getenv("KV618_CARD_DIR");
    return folder && *folder ? folder : wire::defaultCardFolder();
}

int32_t checkCardFolder(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return Ok;  // no folder, no card: connecting says so
    if (wire::untrustedFolderReason(folder).empty()) return Ok;
    setDetailedText(UntrustedFolder,
                    "Složka karet " + folder + " není soukromá (jiný vlastník nebo zápis pro ostatní)");
    return UntrustedFolder;
}

std::string isaSocketName(int32_t base) {
    char name[32];
    std::snprintf(name, sizeof name, "pci726-%03x.sock", static_cast<unsigned>(base));
    return name;
}

int32_t CardSocket::open(const std::string& path, std::unique_ptr<Transport>& out) {
    if (const int32_t e = checkCardFolder(path.substr(0, path.rfind('/')))) return e;
    std::unique_ptr<CardSocket> card(new CardSocket(path));
    if (const int32_t e = card->connectCard()) return e;
    out = std::move(card);
    return Ok;
}

CardSocket::~CardSocket() { closeSocket(); }

void CardSocket::closeSocket() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int32_t CardSocket::connectCard() {
    closeSocket();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) return CardMissing;
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return IoError;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        closeSocket();
        return error == EACCES || error == EPERM ? PortDenied : CardMissing;
    }
    return Ok;
}

int32_t CardSocket::lost() {
    closeSocket();
    return CardMissing;
}

int32_t CardSocket::discardInput() {
    // A card that went away (its driver restarted) is looked for again.
    if (fd_ < 0) return connectCard();
    uint8_t scrap[16];
    for (int i = 0; i < 1024; ++i) {
        const ssize_t n = ::recv(fd_, scrap, sizeof scrap, MSG_DONTWAIT);
        if (n > 0 || (n < 0 && errno == EINTR)) continue;
        if (n == 0) return connectCard();  // the far end closed: a new connection
        break;
    }
    return Ok;
}

int32_t CardSocket::send(std::span<const uint8_t> frame, Clock::time_point deadline) {
    for (;;) {
        const ssize_t n = ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(frame.size())) return Ok;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            const int ready = ::poll(&p, 1, msLeft(deadline));
            if (ready == 0) return NoReply;
            if (ready > 0 && !(p.revents & (POLLERR | POLLHUP))) continue;
        }
        return lost();
    }
}

Received CardSocket::receive(std::span<uint8_t> buffer, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Received{lost()};
        if (ready == 0) return Received{.timedOut = true};

        iovec io{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(fd_, &message, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return Received{lost()};  // the card's far end went away
        return Received{.size = static_cast<size_t>(n), .oversized = (message.msg_flags & MSG_TRUNC) != 0};
    }
}

}  // namespace drv::cards
