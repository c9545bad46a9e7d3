// One pulse counter of the counter extension, fed by a simulated pulse train.
#pragma once

#include <cstdint>
#include <deque>

namespace emu {

class PulseCounter {
public:
    // The window over which the 10-second power is taken.
    static constexpr int64_t WindowMs = 10'000;

    explicit PulseCounter(int64_t nowMs = 0);

    // A pulse train of `hz` pulses per second from `nowMs` on (0 stops it).
    void SetRate(double hz, int64_t nowMs);
    double Rate() const { return segments_.back().hz; }

    // The counter register: pulses since the last reset, wrapping at 32 bits.
    uint32_t Count(int64_t nowMs) const;
    void SetCount(uint32_t value, int64_t nowMs);
    void Reset(int64_t nowMs) { SetCount(0, nowMs); }

    // Pulses that arrived in the last WindowMs before `nowMs`.
    uint64_t PulsesInWindow(int64_t nowMs) const;
    // Pulse period of the running train in ms, 0 when no train runs.
    uint32_t PeriodMs() const;

private:
    struct Segment {
        int64_t start;
        double hz;
        uint64_t before;  // pulses emitted before `start`
    };
    uint64_t Emitted(int64_t atMs) const;
    void Prune(int64_t nowMs);

    std::deque<Segment> segments_;
    uint32_t offset_ = 0;  // register value = offset + pulses emitted, modulo 2^32
};

// The counter quantities as the module derives them from the pulse count and
// the pulse number k (pulses per kWh).  Results wrap at 32 bits.
uint32_t ConsumptionWh(uint32_t count, uint16_t pulseNumber);
uint32_t PowerW(double hz, uint16_t pulseNumber);
uint32_t PowerW10s(uint64_t pulsesInWindow, uint16_t pulseNumber);

}  // namespace emu
