// Texts of numbers, times and durations as kv618 prints them, and the
// parsing of the numbers it takes.
#pragma once

#include "FileTexts.h"
#include "Files.h"
#include "Module.h"
#include "Numbers.h"
#include "Ranges.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// A number as the command line gives it (files::Given): decimal, or
// hexadecimal after 0x; no sign, no blanks; at most `max`.
bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& value);
std::string Trimmed(std::string_view text);
using i18n::FileProblem;
// The text with blanks after it up to `width` characters (not bytes: Czech
// letters take two), and at least one.
std::string Padded(std::string text, size_t width);

using files::Hex32;                  // 0x0000ABCD
std::string Bits32(uint32_t value);  // bit 31 first, a blank between bytes
using kv618::RateList;

// 850 ms, 1.5 s (1,5 s in Czech), 3 min 20 s, 1 h 5 min
std::string DurationText(std::chrono::milliseconds duration);

// The module keeps the year within the four-year cycle; the calendar year
// is the one of the computer's present cycle, as the program shows it.
int CurrentYear();
// 2026-12-07 11:56:39, or 2026-12-07T11:56:39 with 'T' (ISO 8601 without an
// offset: the module's clock keeps none).
std::string ClockText(const kv618::ClockReading& reading, char separator = ' ');
// The module's identification as kv618 --json and the bridge give it:
// name, version, text and address.
nlohmann::ordered_json IdentityJson(const kv618::Identification& identity, uint8_t address);

// Writes a line to standard output and flushes it at once, so a pipe or a
// file gets every line as it comes; false when the output is gone.
bool PrintLine(std::string_view line);

}  // namespace cli
