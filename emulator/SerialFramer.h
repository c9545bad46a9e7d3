// Cuts request frames out of the byte stream of the serial line.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "frame.h"

namespace emu {

class SerialFramer {
public:
    using Frame = std::array<uint8_t, wire::RequestSize>;

    // Takes bytes off the line; gives every complete frame with a good
    // checksum.  Bytes before a sync byte are noise; a candidate frame with a
    // bad checksum is dropped one byte at a time, so the next sync byte inside
    // it gets its chance.  `damaged` counts the dropped candidates.
    std::vector<Frame> Feed(std::span<const uint8_t> bytes, unsigned& damaged);
    void Clear() { buffer_.clear(); }
    size_t Pending() const { return buffer_.size(); }

private:
    std::vector<uint8_t> buffer_;
};

}  // namespace emu
