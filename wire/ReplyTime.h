// How long a reply takes and how long the libraries wait for one: the line
// time of an exchange at a rate, the module's turnaround, and the reply
// time-out rule of _SetConfig (docs/library-abi.md).  Pure functions, so the
// libraries, the tool and the benchmarks use the one rule.
#pragma once

#include "Frame.h"

#include <algorithm>
#include <cstdint>

namespace wire {

// Ten bits a byte (start, eight data bits, stop): one request and its reply.
inline constexpr int64_t ExchangeBits = static_cast<int64_t>(RequestSize + ReplySize) * 10;

// The line time of one request and its reply at `rate`, in µs and in whole
// ms rounded up; 0 for a rate of 0 or less.
constexpr int64_t LineTimeUs(int32_t rate) { return rate > 0 ? (ExchangeBits * 1'000'000 + rate - 1) / rate : 0; }
constexpr int32_t LineTimeMs(int32_t rate) {
    return rate > 0 ? static_cast<int32_t>((ExchangeBits * 1000 + rate - 1) / rate) : 0;
}

// A module starts its reply within this time of a request's last byte.
inline constexpr int32_t ModuleTurnaroundMs = 3;

// The reply time-out rule of _SetConfig, in ms.  A time value of 0-6000 adds
// time x 10 ms to the line time, never below MinimumTimeoutMs: room for
// converters and hosts that are slow to hand a reply on.  A negative time
// value -N asks for exactly N ms (1-65535), whatever the rate: a caller that
// knows how long a module needs, such as a scan of silent addresses.
inline constexpr int32_t MinimumTimeoutMs = 200;
inline constexpr int32_t LongestTime = 6000;           // time values above 60 s are refused
inline constexpr int32_t LongestExactTimeoutMs = 65535;  // as the LAN block's time-out

constexpr bool IsValidTime(int32_t time) { return time >= -LongestExactTimeoutMs && time <= LongestTime; }

constexpr int32_t ReplyTimeoutMs(int32_t rate, int32_t time) {
    if (time < 0) return -time;
    const int64_t total = LineTimeMs(rate) + 10 * static_cast<int64_t>(time);
    return static_cast<int32_t>(std::clamp<int64_t>(total, MinimumTimeoutMs, INT32_MAX));
}

}  // namespace wire
