// Line speeds: the termios speed of a serial line rate, for both ends of the
// line (the serial library sets it, the emulated module compares with it),
// and how long a library waits for a reply at a rate.
#pragma once

#include "frame.h"

#include <algorithm>
#include <cstdint>
#include <termios.h>

namespace wire {

// Reply time-out in ms from the line rate and the time value of _SetConfig:
// the line time of one request and one reply (25 bytes of 10 bits each) plus
// time x 10 ms, never below MinimumTimeoutMs.  The libraries wait this long;
// a tool that predicts how long a silent module takes asks it too.
constexpr int32_t MinimumTimeoutMs = 200;
constexpr int32_t replyTimeoutMs(int32_t rate, int32_t time) {
    constexpr int64_t lineBits = static_cast<int64_t>(RequestSize + ReplySize) * 10;
    const int64_t lineMs = rate > 0 ? (lineBits * 1000 + rate - 1) / rate : 0;
    const int64_t total = lineMs + 10 * static_cast<int64_t>(std::max(time, int32_t{0}));
    return static_cast<int32_t>(std::clamp<int64_t>(total, MinimumTimeoutMs, INT32_MAX));
}

// B0 for a rate the line does not know.
inline speed_t lineSpeed(int32_t rate) {
    switch (rate) {
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

}  // namespace wire
