#include "SerialFramer.h"

#include <algorithm>

namespace emu {

std::vector<SerialFramer::Frame> SerialFramer::Feed(std::span<const uint8_t> bytes, unsigned& damaged) {
    std::vector<Frame> frames;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    size_t pos = 0;
    for (;;) {
        const auto sync = std::find(buffer_.begin() + static_cast<ptrdiff_t>(pos), buffer_.end(), wire::RequestSync);
        pos = static_cast<size_t>(sync - buffer_.begin());
        if (buffer_.size() - pos < wire::RequestSize) break;
        const std::span<const uint8_t> candidate(buffer_.data() + pos, wire::RequestSize);
        wire::Request request;
        if (wire::decode(candidate, request) == wire::DecodeError::None) {
            Frame frame;
            std::copy(candidate.begin(), candidate.end(), frame.begin());
            frames.push_back(frame);
            pos += wire::RequestSize;
        } else {
            ++damaged;
            ++pos;
        }
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(pos));
    return frames;
}

}  // namespace emu
