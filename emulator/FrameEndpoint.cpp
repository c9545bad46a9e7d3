#include "FrameEndpoint.h"

namespace emu {

void FrameEndpoint::Answer(const Peer& peer, std::span<const uint8_t> frame, std::optional<int32_t> lineRate,
                           int64_t lineUs) {
    auto answer = bus_.OnFrame(frame, lineRate);
    if (!answer) return;
    replies_.Send(*this, peer, std::move(answer->out.bytes), int64_t{answer->out.delayMs} * 1000 + lineUs);
}

}  // namespace emu
