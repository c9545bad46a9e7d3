// The one small interface behind which the emulator is reached: one endpoint
// per transport (UDP, the serial line, the card sockets) and the control
// channel, all served by the one poll() loop of Server.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace emu {

// A descriptor the loop waits on, and what to do when it is readable.
struct Watch {
    int fd;
    std::function<void()> onReadable;
};

// Where a request came from, so that its reply goes back there; each
// endpoint reads what it filled in itself.
struct Peer {
    sockaddr_in address{};    // a UDP sender
    uint64_t connection = 0;  // a card connection
};

class Endpoint {
public:
    virtual ~Endpoint() = default;

    // False with a reason when it cannot be opened.
    virtual bool Open(std::string& why) = 0;
    // Its field of the READY line ("udp=127.0.0.1:5000"); empty for none.
    virtual std::string ReadyField() const = 0;
    // The descriptors to wait on now.
    virtual void AddWatches(std::vector<Watch>& watches) = 0;
    // Sends a reply to the peer of its request (endpoints that carry frames).
    virtual void Deliver(const Peer& /*peer*/, std::span<const uint8_t> /*bytes*/) {}
    // Work on a timer of its own: when it is next due (steady ms), and the work.
    virtual std::optional<int64_t> DueMs() const { return std::nullopt; }
    virtual void OnDue() {}
};

}  // namespace emu
