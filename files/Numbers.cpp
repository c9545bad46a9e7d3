#include "Numbers.h"

#include <charconv>
#include <cstdio>

namespace files {

namespace {

struct Magnitude {
    bool negative;
    uint64_t value;
};

std::optional<Magnitude> Read(std::string_view text, NumberForm form) {
    if (form.blanks) {
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
        while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    }
    bool negative = false;
    if (form.sign && !text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = form.base;
    if (form.hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    // from_chars takes no sign of its own for an unsigned number: "+-5" and "0x-5" fail.
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return Magnitude{negative, value};
}

}  // namespace

std::optional<int64_t> ParseNumber(std::string_view text, int64_t least, int64_t most, NumberForm form) {
    const auto m = Read(text, form);
    if (!m) return std::nullopt;
    constexpr uint64_t Largest = static_cast<uint64_t>(INT64_MAX);
    if (m->value > Largest + (m->negative ? 1 : 0)) return std::nullopt;
    const int64_t value = m->negative ? static_cast<int64_t>(0 - m->value) : static_cast<int64_t>(m->value);
    if (value < least || value > most) return std::nullopt;
    return value;
}

std::optional<uint64_t> ParseCount(std::string_view text, uint64_t most, NumberForm form) {
    const auto m = Read(text, form);
    if (!m || (m->negative && m->value != 0) || m->value > most) return std::nullopt;
    return m->value;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace files
