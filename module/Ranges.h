// The module's bus address and line rate as an operator gives them: the one
// rule for each, with the tools' message that refuses a value.  The windows
// keep their own designed texts; the connection dialog and the settings file
// take any number as an address by its low byte (AddressByte).
#pragma once

#include "Commands.h"
#include "Numbers.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv618 {

inline constexpr int64_t LowestAddress = 0;
inline constexpr int64_t HighestAddress = 255;

constexpr bool IsAddress(int64_t n) { return n >= LowestAddress && n <= HighestAddress; }
// A number taken as an address whatever it is: its low byte, so 300 is 44.
constexpr uint8_t AddressByte(int64_t n) { return static_cast<uint8_t>(n); }

// An address in the range, or nothing.
std::optional<uint8_t> ParseAddress(std::string_view text, files::NumberForm form);
// A rate of the baud table (BaudRates), or nothing.
std::optional<int32_t> ParseRate(std::string_view text, files::NumberForm form);

// "600, 1200, ..., 115200": the baud table for a message or a help text.
std::string RateList();
// In the operator's language: "The module's address must be within 0-255."
std::string AddressRefusal();
// "The baud rate must be one of 600, 1200, ..., 115200 Bd."
std::string RateRefusal();

}  // namespace kv618
