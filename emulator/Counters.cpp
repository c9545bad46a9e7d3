#include "Counters.h"

#include <cmath>

namespace emu {

namespace {

// A pulse number of 0 would divide by zero; the module takes it as 1.
uint64_t Divisor(uint16_t pulseNumber) { return pulseNumber == 0 ? 1 : pulseNumber; }

uint64_t PulsesOf(double hz, int64_t elapsedMs) {
    if (hz <= 0 || elapsedMs <= 0) return 0;
    return static_cast<uint64_t>(std::floor(hz * static_cast<double>(elapsedMs) / 1000.0));
}

}  // namespace

PulseCounter::PulseCounter(int64_t nowMs) { segments_.push_back({nowMs, 0.0, 0}); }

uint64_t PulseCounter::Emitted(int64_t atMs) const {
    for (auto it = segments_.rbegin(); it != segments_.rend(); ++it) {
        if (it->start <= atMs) return it->before + PulsesOf(it->hz, atMs - it->start);
    }
    return segments_.front().before;
}

void PulseCounter::Prune(int64_t nowMs) {
    // Keep every segment that still reaches into the window.
    while (segments_.size() > 1 && segments_[1].start <= nowMs - WindowMs) segments_.pop_front();
}

void PulseCounter::SetRate(double hz, int64_t nowMs) {
    if (!(hz > 0) || !std::isfinite(hz)) hz = 0;
    const uint64_t before = Emitted(nowMs);
    if (segments_.back().start >= nowMs) {
        segments_.back().hz = hz;
        segments_.back().before = before;
        segments_.back().start = nowMs;
    } else {
        segments_.push_back({nowMs, hz, before});
    }
    Prune(nowMs);
}

uint32_t PulseCounter::Count(int64_t nowMs) const {
    return static_cast<uint32_t>(offset_ + static_cast<uint32_t>(Emitted(nowMs)));
}

void PulseCounter::SetCount(uint32_t value, int64_t nowMs) {
    offset_ = static_cast<uint32_t>(value - static_cast<uint32_t>(Emitted(nowMs)));
}

uint64_t PulseCounter::PulsesInWindow(int64_t nowMs) const { return Emitted(nowMs) - Emitted(nowMs - WindowMs); }

uint32_t PulseCounter::PeriodMs() const {
    const double hz = Rate();
    if (hz <= 0) return 0;
    const double ms = std::round(1000.0 / hz);
    return ms >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

uint32_t ConsumptionWh(uint32_t count, uint16_t pulseNumber) {
    return static_cast<uint32_t>(uint64_t{count} * 1000 / Divisor(pulseNumber));
}

uint32_t PowerW(double hz, uint16_t pulseNumber) {
    if (hz <= 0) return 0;
    const double watts = std::round(hz * 3'600'000.0 / static_cast<double>(Divisor(pulseNumber)));
    return static_cast<uint32_t>(static_cast<uint64_t>(std::fmod(watts, 4294967296.0)));
}

uint32_t PowerW10s(uint64_t pulsesInWindow, uint16_t pulseNumber) {
    return static_cast<uint32_t>(pulsesInWindow * 360'000 / Divisor(pulseNumber));
}

}  // namespace emu
