// What the three transports of frames share: a request goes to the bus, and
// the module's answer back to the peer the request came from.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "Bus.h"
#include "Endpoint.h"
#include "Replies.h"

namespace emu {

class FrameEndpoint : public Endpoint {
protected:
    FrameEndpoint(Bus& bus, Replies& replies) : bus_(bus), replies_(replies) {}

    // Hands one request frame to the bus (`lineRate` as Bus::OnFrame takes
    // it); the answer, if any module gives one, leaves for `peer` after the
    // module's delay and `lineUs` more.
    void Answer(const Peer& peer, std::span<const uint8_t> frame, std::optional<int32_t> lineRate = std::nullopt,
                int64_t lineUs = 0);

    Bus& bus_;

private:
    Replies& replies_;
};

}  // namespace emu
