#include "SyncFramer.h"

#include <algorithm>

namespace wire {

void SyncFramer::Add(std::span<const uint8_t> bytes) {
    // What is gone is erased only now, once per read off the line.
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(start_));
    start_ = 0;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::span<const uint8_t> SyncFramer::Candidate() {
    const auto sync = std::find(buffer_.begin() + static_cast<ptrdiff_t>(start_), buffer_.end(), sync_);
    Drop(static_cast<size_t>(sync - buffer_.begin()) - start_);
    if (Pending() < size_) return {};
    return std::span<const uint8_t>(buffer_.data() + start_, size_);
}

void SyncFramer::Take() {
    start_ += std::min(size_, Pending());
    inFrame_ = 0;
}

void SyncFramer::Pass(bool wasFrame) {
    if (wasFrame) inFrame_ = size_;
    Drop(std::min<size_t>(1, Pending()));
}

void SyncFramer::Drop(size_t count) {
    if (count > inFrame_) sawNoise_ = true;
    inFrame_ -= std::min(count, inFrame_);
    start_ += count;
}

void SyncFramer::Clear() {
    buffer_.clear();
    start_ = 0;
    inFrame_ = 0;
    sawNoise_ = false;
}

std::vector<RequestFrame> TakeRequests(SyncFramer& framer, unsigned& damaged) {
    std::vector<RequestFrame> frames;
    for (auto candidate = framer.Candidate(); !candidate.empty(); candidate = framer.Candidate()) {
        Request request;
        if (Decode(candidate, request) != DecodeError::None) {
            ++damaged;
            framer.Pass();
            continue;
        }
        RequestFrame& frame = frames.emplace_back();
        std::copy(candidate.begin(), candidate.end(), frame.begin());
        framer.Take();
    }
    return frames;
}

}  // namespace wire
