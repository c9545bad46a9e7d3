// The LAN converter: one request per datagram, the reply to its sender.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "FrameEndpoint.h"

namespace emu {

class UdpEndpoint final : public FrameEndpoint {
public:
    // `allowNonlocal`: an address outside 127.0.0.0/8 may be served.
    UdpEndpoint(Bus& bus, Replies& replies, std::string host, uint16_t port, bool allowNonlocal)
        : FrameEndpoint(bus, replies), host_(std::move(host)), port_(port), allowNonlocal_(allowNonlocal) {}
    ~UdpEndpoint() override;

    bool Open(std::string& why) override;
    std::string ReadyField() const override;
    void AddWatches(std::vector<Watch>& watches) override;
    void Deliver(const Peer& peer, std::span<const uint8_t> bytes) override;

private:
    void OnReadable();

    std::string host_;
    uint16_t port_;  // the port bound once open (a free one for 0)
    bool allowNonlocal_;
    int fd_ = -1;
};

}  // namespace emu
