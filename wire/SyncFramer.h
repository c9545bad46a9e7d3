// Frames out of a byte stream (the serial line), found by their sync byte.
// Both ends of the line use it: the module for requests, the serial library
// for replies; what makes a candidate the frame each wants is theirs to judge.
#pragma once

#include "Frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace wire {

// Bytes before a sync byte are noise.  From a sync byte, a frame's worth of
// bytes is a candidate; one that is not taken is passed by one byte only, so
// that a frame beginning inside it is still found (resynchronisation).
class SyncFramer {
public:
    SyncFramer(uint8_t sync, size_t frameSize) : sync_(sync), size_(frameSize) {}

    void Add(std::span<const uint8_t> bytes);
    // The next candidate, after dropping the noise before it; empty until a
    // whole frame's worth has come.  Valid until the next Add() or Clear().
    std::span<const uint8_t> Candidate();
    // The candidate is a frame and is taken: its bytes are consumed.
    void Take();
    // The candidate is passed by one byte.  `wasFrame`: it was a whole frame,
    // only not the one wanted (another module's reply), so its bytes are no
    // noise on the line.
    void Pass(bool wasFrame = false);
    // Whether the candidate begins inside a frame passed before.
    bool InsideFrame() const { return inFrame_ > 0; }
    // Whether bytes came that made no frame: held now, or dropped as noise.
    bool HoldsNoise() const { return Pending() > inFrame_ || sawNoise_; }
    size_t Pending() const { return buffer_.size() - start_; }
    void Clear();

private:
    void Drop(size_t count);

    uint8_t sync_;
    size_t size_;
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;    // the bytes before it are gone
    size_t inFrame_ = 0;  // leading bytes that belong to a frame already passed
    bool sawNoise_ = false;
};

// A framer for each direction of the line.
inline SyncFramer RequestFramer() { return SyncFramer(RequestSync, RequestSize); }
inline SyncFramer ReplyFramer() { return SyncFramer(ReplySync, ReplySize); }

// The module's side: every request frame with a good checksum among the bytes
// added to a RequestFramer(); `damaged` counts the candidates passed.
using RequestFrame = std::array<uint8_t, RequestSize>;
std::vector<RequestFrame> TakeRequests(SyncFramer& framer, unsigned& damaged);

}  // namespace wire
