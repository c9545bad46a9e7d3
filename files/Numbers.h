// The one reader of whole numbers in text: settings files, the windows'
// fields, command-line options, the bridge's file and the emulator's
// control lines all read their numbers here.  Each keeps the form it has
// always taken (NumberForm); the text must be the number and nothing else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace files {

struct NumberForm {
    bool hex = false;     // "0x2A" as well as decimal
    bool sign = false;    // a leading "+" or "-"
    bool blanks = false;  // spaces before and after
    int base = 10;        // of the digits without a "0x"
};

// As a person types a number into a window or a settings file: decimal,
// with a sign and spaces around it (" +7 ").
inline constexpr NumberForm Typed{.sign = true, .blanks = true};
// As a command line or a control line gives it: decimal or 0x and
// hexadecimal digits, no sign, no spaces.
inline constexpr NumberForm Given{.hex = true};
// Hexadecimal digits alone ("2A"), as a card's I/O base is written.
inline constexpr NumberForm Hexadecimal{.base = 16};

// The number when the text is one in `form` within [least, most].
std::optional<int64_t> ParseNumber(std::string_view text, int64_t least, int64_t most, NumberForm form);
// The same for a count that may take all 64 bits.
std::optional<uint64_t> ParseCount(std::string_view text, uint64_t most, NumberForm form);

// A Typed number within the 32 signed bits a settings field holds, before it
// is cut to the field's width.
inline std::optional<int64_t> ParseTyped(std::string_view text) {
    return ParseNumber(text, INT32_MIN, INT32_MAX, Typed);
}

// A 32-bit value with all its digits, as the settings file and kv618 write
// bits: 0x0000ABCD.
std::string Hex32(uint32_t value);

}  // namespace files
