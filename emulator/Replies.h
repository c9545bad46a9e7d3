// Replies on their way out of the endpoints: at once, or after a delay (an
// injected fault, the serial line's timing, --reply-delay).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "Endpoint.h"

namespace emu {

class Replies {
public:
    // `extraDelayMs` (--reply-delay) is added to every reply's delay.
    explicit Replies(uint32_t extraDelayMs) : extraDelayUs_(int64_t{extraDelayMs} * 1000) {}

    // Sends now when there is no delay, else when the delay is over.
    void Send(Endpoint& via, const Peer& to, std::vector<uint8_t> bytes, int64_t delayUs);
    // Sends the replies whose delay is over.
    void SendDue();
    // When the next delayed reply is due (SteadyUs()), nullopt for none.
    std::optional<int64_t> DueUs() const;

private:
    struct Pending {
        Endpoint* via;
        Peer to;
        std::vector<uint8_t> bytes;
    };
    int64_t extraDelayUs_;
    std::multimap<int64_t, Pending> pending_;  // by SteadyUs()
};

}  // namespace emu
