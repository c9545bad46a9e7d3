// The bridge benchmarks' bus: emulated LAN converters of many modules, one
// line each, and how steadily the bridge polls every module on them.
#pragma once

#include "Emulator.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace bench {

// The thousand modules of figures 10 and 14: four lines of 250.
inline constexpr int ThousandLines = 4;
inline constexpr int ThousandPerLine = 250;
inline constexpr int ThousandModules = ThousandLines * ThousandPerLine;

using Emulators = std::vector<std::unique_ptr<kvtest::Emulator>>;

// `lines` emulators with modules at addresses 1 to `perLine` each, started
// with `extraArgs`.
Emulators emulatedLines(int lines, int perLine, const std::vector<std::string>& extraArgs = {});

// Requests each module has had, line by line, each with the time it was asked.
struct RequestCount {
    double requests;
    std::chrono::steady_clock::time_point at;
};
std::vector<RequestCount> requestCounts(const Emulators& lines, int perLine);

// Per module between two counts: its mean interval between polls against
// `interval` (1 when on time, 1e9 when it was not polled at all).
std::vector<double> cadence(const std::vector<RequestCount>& before, const std::vector<RequestCount>& after,
                            std::chrono::duration<double, std::milli> interval);

}  // namespace bench
