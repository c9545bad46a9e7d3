#include "CardSocket.h"

#include "CardFolder.h"
#include "Codes.h"
#include "Links.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace drv::cards {

int32_t OpenCard(int32_t* handle, const std::string& socketName) {
    const std::string path = CardFolder() + "/" + socketName;
    return OpenLink(handle, [&](std::unique_ptr<Transport>& transport) { return CardSocket::Open(path, transport); });
}

std::string CardFolder() {
    const char* folder = std::getenv("KV618_CARD_DIR");
    return folder && *folder ? folder : wire::DefaultCardFolder();
}

int32_t CheckCardFolder(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return Ok;  // no folder, no card: connecting says so
    if (wire::UntrustedFolderReason(folder).empty()) return Ok;
    SetDetailedText(UntrustedFolder,
                    "Složka karet " + folder + " není soukromá (jiný vlastník nebo zápis pro ostatní)");
    return UntrustedFolder;
}

std::string IsaSocketName(int32_t base) {
    char name[32];
    std::snprintf(name, sizeof name, "pci726-%03x.sock", static_cast<unsigned>(base));
    return name;
}

namespace {

// A card busy taking other connections gets this long to take a new one.
constexpr auto ConnectWait = std::chrono::milliseconds(1000);

}  // namespace

int32_t CardSocket::Open(const std::string& path, std::unique_ptr<Transport>& out) {
    if (const int32_t e = CheckCardFolder(path.substr(0, path.rfind('/')))) return e;
    std::unique_ptr<CardSocket> card(new CardSocket(path));
    if (const int32_t e = card->ConnectCard(Clock::now() + ConnectWait)) return e;
    out = std::move(card);
    return Ok;
}

// The connect blocks, bounded by SO_SNDTIMEO: a non-blocking one fails at
// once with EAGAIN while the card's queue of waiting connections is full,
// although the card takes the connection a moment later.
int32_t CardSocket::ConnectCard(Clock::time_point deadline) {
    CloseDescriptor();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) return CardMissing;
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return IoError;
    int result;
    do {
        const int left = std::max(MsLeft(deadline), 1);  // 0 would mean no bound at all
        const timeval wait{left / 1000, (left % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        result = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR && MsLeft(deadline) > 0);
    const int error = errno;
    if (result != 0) {
        CloseDescriptor();
        return error == EACCES || error == EPERM ? PortDenied : CardMissing;
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        CloseDescriptor();
        return IoError;
    }
    return Ok;
}

int32_t CardSocket::Lost() {
    CloseDescriptor();
    return CardMissing;
}

// A read of 0 bytes is either an empty packet or the far end gone; only
// the second shows as a hang-up.
bool CardSocket::FarEndClosed() const {
    pollfd p{fd_, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP)) != 0;
}

int32_t CardSocket::DiscardInput() {
    if (fd_ < 0) return Ok;  // the card is looked for again before the request
    uint8_t scrap[16];
    for (int i = 0; i < 1024; ++i) {
        const ssize_t n = ::recv(fd_, scrap, sizeof scrap, MSG_DONTWAIT);
        if (n > 0 || (n < 0 && errno == EINTR)) continue;
        if (n == 0 && !FarEndClosed()) continue;
        // The far end closed (its driver restarted): a new connection.
        if (n == 0) CloseDescriptor();
        break;
    }
    return Ok;
}

Received CardSocket::TakeWaiting(std::span<uint8_t> buffer) {
    if (fd_ < 0) return Received{.timedOut = true};
    const Packet packet = ReceivePacket(buffer, MSG_DONTWAIT);
    // An empty packet, or a far end gone, is for DiscardInput to see.
    if (packet.length <= 0) return Received{.timedOut = true};
    return packet.AsReceived();
}

int32_t CardSocket::Send(std::span<const uint8_t> frame, Clock::time_point deadline) {
    if (fd_ < 0) {
        if (const int32_t e = ConnectCard(deadline)) return e;
    }
    for (;;) {
        const ssize_t n = ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(frame.size())) return Ok;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            const int ready = ::poll(&p, 1, MsLeft(deadline));
            if (ready == 0) return NoReply;
            if (ready > 0 && !(p.revents & (POLLERR | POLLHUP))) continue;
        }
        return Lost();
    }
}

Received CardSocket::Receive(std::span<uint8_t> buffer, Clock::time_point deadline) {
    for (;;) {
        // Checked before every wait: under a flood poll() always finds a
        // packet, and the time-out would never come.
        const int left = MsLeft(deadline);
        if (left == 0) return Received{.timedOut = true};
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Received{Lost()};
        if (ready == 0) return Received{.timedOut = true};

        const Packet packet = ReceivePacket(buffer, MSG_DONTWAIT);
        if (packet.length < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        // An empty packet makes no frame: the judge counts it as damaged.
        if (packet.length == 0 && !FarEndClosed()) return Received{.size = 0};
        if (packet.length <= 0) return Received{Lost()};  // the card's far end went away
        return packet.AsReceived();
    }
}

}  // namespace drv::cards
