#include "SlowConverter.h"

#include "Loopback.h"

#include <algorithm>
#include <arpa/inet.h>
#include <deque>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kvtest {

namespace {

using Clock = std::chrono::steady_clock;

int UdpSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("no UDP socket for the slow converter");
    return fd;
}

struct Late {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
};

}  // namespace

SlowConverter::SlowConverter(uint16_t modulePort, std::chrono::milliseconds delay) : delay_(delay) {
    outside_ = UdpSocket();
    inside_ = UdpSocket();
    sockaddr_in own = Loopback(0);
    const sockaddr_in module = Loopback(modulePort);
    socklen_t length = sizeof own;
    if (::bind(outside_, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0 ||
        ::getsockname(outside_, reinterpret_cast<sockaddr*>(&own), &length) != 0 ||
        ::connect(inside_, reinterpret_cast<const sockaddr*>(&module), sizeof module) != 0) {
        ::close(outside_);
        ::close(inside_);
        throw std::runtime_error("the slow converter cannot take a loopback port");
    }
    port_ = ntohs(own.sin_port);
    thread_ = std::thread([this] { Relay(); });
}

SlowConverter::~SlowConverter() {
    stop_ = true;
    thread_.join();
    ::close(outside_);
    ::close(inside_);
}

// Requests go in at once; replies wait their delay in order of arrival, so
// the delay is the same for each.  Polls in short steps to see stop_.
void SlowConverter::Relay() {
    sockaddr_in library{};
    bool known = false;
    std::deque<Late> replies;
    std::vector<uint8_t> buffer(2048);
    while (!stop_) {
        int wait = 5;
        if (!replies.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(replies.front().due - Clock::now()).count();
            wait = static_cast<int>(std::clamp<long>(left, 0, wait));
        }
        pollfd p[2] = {{outside_, POLLIN, 0}, {inside_, POLLIN, 0}};
        ::poll(p, 2, wait);
        if (p[0].revents & POLLIN) {
            sockaddr_in sender{};
            socklen_t length = sizeof sender;
            const ssize_t n = ::recvfrom(outside_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&sender),
                                         &length);
            if (n > 0) {
                library = sender;
                known = true;
                ::send(inside_, buffer.data(), static_cast<size_t>(n), MSG_DONTWAIT);
            }
        }
        if (p[1].revents & (POLLIN | POLLERR)) {
            const ssize_t n = ::recv(inside_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0) replies.push_back({Clock::now() + delay_, {buffer.begin(), buffer.begin() + n}});
        }
        while (!replies.empty() && replies.front().due <= Clock::now()) {
            if (known)
                ::sendto(outside_, replies.front().bytes.data(), replies.front().bytes.size(), MSG_DONTWAIT,
                         reinterpret_cast<const sockaddr*>(&library), sizeof library);
            replies.pop_front();
        }
    }
}

}  // namespace kvtest
