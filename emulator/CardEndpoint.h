// The three cards (ISA PCI-726, PCI-1726, USB-1726): SOCK_SEQPACKET sockets in
// the card folder, one request per packet, any number of connections.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Clock.h"
#include "Descriptors.h"
#include "FrameEndpoint.h"

namespace emu {

class CardEndpoint final : public FrameEndpoint {
public:
    // `folder` is created with mode 0700 when missing; `isaBase` names the
    // ISA card's socket.
    CardEndpoint(Bus& bus, Replies& replies, const Clock& clock, std::string folder, uint16_t isaBase)
        : FrameEndpoint(bus, replies), clock_(clock), folder_(std::move(folder)), isaBase_(isaBase) {}
    ~CardEndpoint() override;

    bool Open(std::string& why) override;
    std::string ReadyField() const override { return "cards=" + folder_; }
    void AddWatches(std::vector<Watch>& watches) override;
    void Deliver(const Peer& peer, std::span<const uint8_t> bytes) override;
    std::optional<int64_t> DueMs() const override;

private:
    void OnListener(int listener);
    void OnConnection(uint64_t id);

    const Clock& clock_;
    std::string folder_;
    uint16_t isaBase_;
    std::vector<std::pair<int, std::string>> listeners_;  // descriptor, socket path
    ListenerRest rest_;
    std::map<uint64_t, int> connections_;  // by a number of their own, for replies that wait
    uint64_t nextConnection_ = 1;
};

}  // namespace emu
