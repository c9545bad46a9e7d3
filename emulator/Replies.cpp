#include "Replies.h"

#include "Clock.h"

namespace emu {

void Replies::Send(Endpoint& via, const Peer& to, std::vector<uint8_t> bytes, int64_t delayUs) {
    const int64_t total = delayUs + extraDelayUs_;
    if (total == 0) {
        via.Deliver(to, bytes);
        return;
    }
    pending_.emplace(SteadyUs() + total, Pending{&via, to, std::move(bytes)});
}

void Replies::SendDue() {
    const int64_t now = SteadyUs();
    while (!pending_.empty() && pending_.begin()->first <= now) {
        const Pending p = std::move(pending_.begin()->second);
        pending_.erase(pending_.begin());
        p.via->Deliver(p.to, p.bytes);
    }
}

std::optional<int64_t> Replies::DueUs() const {
    if (pending_.empty()) return std::nullopt;
    return pending_.begin()->first;
}

}  // namespace emu
