// Time sources of the module.  The module model never asks the system for the
// time itself, so tests can move time by hand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace emu {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds, for pulse trains and reply timing.
    virtual int64_t SteadyMs() const = 0;
    // The host's local wall time in milliseconds, counted like UTC (so that
    // calendar arithmetic needs no time-zone rules).
    virtual int64_t HostWallMs() const = 0;
    // The same in whole seconds.
    int64_t HostWall() const { return FloorDiv(HostWallMs(), 1000); }

    static int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }
};

class SystemClock final : public Clock {
public:
    int64_t SteadyMs() const override;
    int64_t HostWallMs() const override;
};

// The host's monotonic clock in µs, for the serving loop alone (delayed
// replies, the state files' save slices); the module keeps to its Clock.
int64_t SteadyUs();

// A clock that moves only when told to.
class ManualClock final : public Clock {
public:
    int64_t SteadyMs() const override { return Ms; }
    int64_t HostWallMs() const override { return Wall * 1000 + Ms; }
    void Advance(int64_t ms) { Ms += ms; }
    int64_t Ms = 1'000'000;
    int64_t Wall = 1'780'000'000;  // some day in 2026
};

// Calendar helpers on wall seconds.
struct CivilTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
CivilTime ToCivil(int64_t wall);
int64_t FromCivil(const CivilTime& t);
int DaysInMonth(int year, int month);
// "YYYY-MM-DD HH:MM:SS"
std::string FormatWall(int64_t wall);
bool ParseWall(std::string_view date, std::string_view time, int64_t& wall);

}  // namespace emu
