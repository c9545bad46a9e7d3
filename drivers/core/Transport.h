// The one small interface behind which each interface library reaches its
// module: a serial line, a UDP socket or a card socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace drv {

using Clock = std::chrono::steady_clock;

// Milliseconds left until a deadline, 0 once it has passed (for poll()).
int MsLeft(Clock::time_point deadline);

struct Received {
    int32_t error = 0;      // a code when the transport itself failed
    size_t size = 0;        // bytes (stream) or datagram length (packet)
    bool timedOut = false;  // the deadline passed with nothing new
    bool oversized = false; // a packet longer than the buffer (cut)
};

class Transport {
public:
    virtual ~Transport() = default;

    // True when replies arrive as a byte stream that must be searched for a
    // frame; false when every packet is one candidate frame.
    virtual bool IsStream() const = 0;

    // Throws away whatever arrived since the last exchange, so a late reply
    // to an earlier request is gone before the next request goes out.
    virtual int32_t DiscardInput() = 0;

    virtual int32_t Send(std::span<const uint8_t> frame, Clock::time_point deadline) = 0;

    // Waits for the next bytes or packet until the deadline.
    virtual Received Receive(std::span<uint8_t> buffer, Clock::time_point deadline) = 0;

    // The next bytes or packet that arrived since the last exchange, taken
    // without waiting ({.timedOut = true} when there is none): looked at for
    // a late reply to name before the rest is thrown away.  A transport that
    // cannot look gives none.
    virtual Received TakeWaiting(std::span<uint8_t> /*buffer*/) { return Received{.timedOut = true}; }

    // The line rate in Bd given to _SetConfig, for transports that drive a line.
    virtual int32_t ApplyRate(int32_t /*rate*/) { return 0; }
};

}  // namespace drv
