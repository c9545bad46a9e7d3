// The module's live values as one poll reads them, and the line a poll
// becomes in a log: the CSV and JSON lines of `kv618 watch`, which the
// program's log and trend windows write the same way (docs/quantities.md
// names the columns and keys).  No text for the operator here: the column
// keys are the log's, not a language's.
#pragma once

#include "Module.h"
#include "Quantities.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace kv618 {

// What a poll reads: kv618 watch's inputs, status, counters, or all three.
struct Groups {
    bool inputs = false, status = false, counters = false;
};
inline constexpr Groups AllGroups{true, true, true};

struct Sample {
    std::chrono::system_clock::time_point when;  // as the poll began
    uint32_t inputs = 0, status = 0;
    CounterTable counters{};
};

// Reads the groups: the inputs, the status register, then the twenty counter
// quantities, counter by counter.  0, or the code of the exchange that
// failed (the sample then holds what came before it).
int32_t Poll(const Module& module, const Groups& groups, Sample& sample);

enum class LogFormat { Csv, Json };

// The CSV header ("time,inputs,status,counter0_pulses,..."); none for JSON lines.
std::optional<std::string> LogHeader(LogFormat format, const Groups& groups);
// A poll's line, without its end of line: the time with its milliseconds and
// UTC offset, then the values in decimal, in the order of the header.
std::string LogLine(LogFormat format, const Groups& groups, const Sample& sample);

}  // namespace kv618
