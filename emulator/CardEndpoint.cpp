#include "CardEndpoint.h"
#include "CardFolder.h"
#include "Options.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace emu {

namespace {

// A packet of no bytes reads as 0 just as the end of the connection does;
// only the end leaves the socket hung up.
bool PeerClosed(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) != 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

CardEndpoint::~CardEndpoint() {
    for (auto& [id, fd] : connections_) ::close(fd);
    for (auto& [fd, path] : listeners_) {
        ::close(fd);
        ::unlink(path.c_str());
    }
}

bool CardEndpoint::Open(std::string& why) {
    // Whoever can put a socket in the folder can pose as the cards.
    if (!wire::PreparePrivateFolder(folder_, why)) return false;
    for (const std::string& name : {IsaSocketName(isaBase_), std::string("pci1726.sock"), std::string("usb1726.sock")}) {
        const std::string path = folder_ + "/" + name;
        const int fd = ListenUnix(path, SOCK_SEQPACKET, why);
        if (fd < 0) return false;
        listeners_.emplace_back(fd, path);
    }
    return true;
}

void CardEndpoint::AddWatches(std::vector<Watch>& watches) {
    if (rest_.Listening(clock_.SteadyMs())) {
        for (auto& [fd, path] : listeners_) watches.push_back({fd, [this, fd = fd] { OnListener(fd); }});
    }
    for (auto& [id, fd] : connections_) watches.push_back({fd, [this, id = id] { OnConnection(id); }});
}

std::optional<int64_t> CardEndpoint::DueMs() const {
    if (rest_.Listening(clock_.SteadyMs())) return std::nullopt;
    return rest_.UntilMs();
}

void CardEndpoint::OnListener(int listener) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) connections_.emplace(nextConnection_++, fd);
    else rest_.AfterFailedAccept(clock_.SteadyMs());
}

// Handlers of one turn of the loop may drop connections; a connection's
// handler looks itself up by its number.
void CardEndpoint::OnConnection(uint64_t id) {
    const auto it = connections_.find(id);
    if (it == connections_.end()) return;
    const int fd = it->second;
    uint8_t buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n < 0 || (n == 0 && PeerClosed(fd))) {
        ::close(fd);
        connections_.erase(it);
        return;
    }
    Peer peer;
    peer.connection = id;
    Answer(peer, std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
}

void CardEndpoint::Deliver(const Peer& peer, std::span<const uint8_t> bytes) {
    if (const auto it = connections_.find(peer.connection); it != connections_.end())
        ::send(it->second, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace emu
