// Texts of numbers, times and durations as kv618 prints them, and the
// parsing of the numbers it takes.
#pragma once

#include "Files.h"
#include "Module.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// Decimal, or hexadecimal after 0x; no sign, no blanks; at most `max`.
bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& value);
std::string Trimmed(std::string_view text);
// What went wrong with a file, for the operator.
std::string FileProblem(const files::Failure& failure);
// The text with blanks after it up to `width` characters (not bytes: Czech
// letters take two), and at least one.
std::string Padded(std::string text, size_t width);

std::string Hex32(uint32_t value);   // 0x0000ABCD
std::string Bits32(uint32_t value);  // bit 31 first, a blank between bytes
// "600, 1200, ... 115200"
std::string RateList();

// Local time: 2026-12-07 11:56:39, with .015 when asked.
std::string LocalTime(std::chrono::system_clock::time_point when, bool milliseconds = false);
// 850 ms, 12 s, 3 min 20 s, 1 h 5 min
std::string DurationText(std::chrono::milliseconds duration);

// The module keeps the year within the four-year cycle; the calendar year
// is the one of the computer's present cycle, as the program shows it.
int CurrentYear();
std::string ClockText(const kv618::ClockReading& reading);

// Writes a line to standard output and flushes it at once, so a pipe or a
// file gets every line as it comes; false when the output is gone.
bool PrintLine(std::string_view line);

}  // namespace cli
