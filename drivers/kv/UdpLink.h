// The LAN converter: one request frame per UDP datagram, one reply frame per
// datagram, only from the converter's own address and port.
#pragma once

#include "DescriptorTransport.h"

#include <memory>
#include <netinet/in.h>
#include <string>

namespace drv::kv {

// Reads the parameter block of QKV1726_Init: cell 0 the IP text, cell 1 the
// UDP port, cell 2 the time-out in ms.  0 or InvalidParameter.
struct Parameters {
    sockaddr_in peer{};
    int32_t timeoutMs = 0;  // 0: the rule of _SetConfig
};
int32_t ReadParameters(const intptr_t* block, Parameters& out);

class UdpLink : public PacketSocket {
public:
    static int32_t Open(const sockaddr_in& peer, std::unique_ptr<Transport>& out);

    int32_t DiscardInput() override;
    int32_t Send(std::span<const uint8_t> frame, Clock::time_point deadline) override;
    Received Receive(std::span<uint8_t> buffer, Clock::time_point deadline) override;
    Received TakeWaiting(std::span<uint8_t> buffer) override;
    // The converter is told the rate with every request.
    int32_t ApplyRate(int32_t rate) override;

private:
    explicit UdpLink(const sockaddr_in& peer) : peer_(peer) {}
    bool FromPeer(const sockaddr_in& sender) const;
    bool WaitAtMost(Clock::time_point deadline);
    bool ReadableBy(Clock::time_point deadline) const;

    sockaddr_in peer_;
    int receiveTimeoutMs_ = -1;  // SO_RCVTIMEO as last set
    int32_t rate_ = 9600;        // the rate of _SetConfig, 9600 Bd before it, as on the serial line
};

}  // namespace drv::kv
