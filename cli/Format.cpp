#include "Format.h"

#include "Commands.h"
#include "Ini.h"
#include "Messages.h"
#include "Numbers.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace cli {

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& value) {
    const auto n = files::ParseCount(text, max, files::Given);
    if (n) value = *n;
    return n.has_value();
}

std::string Trimmed(std::string_view text) { return std::string(files::Trim(text)); }

std::string Padded(std::string text, size_t width) {
    size_t characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    text.append(characters < width ? width - characters : 1, ' ');
    return text;
}

std::string Bits32(uint32_t value) {
    std::string bits;
    for (int bit = 31; bit >= 0; --bit) {
        bits += (value >> bit) & 1 ? '1' : '0';
        if (bit % 8 == 0 && bit > 0) bits += ' ';
    }
    return bits;
}

std::string DurationText(std::chrono::milliseconds duration) {
    const long long ms = duration.count();
    if (ms < 1000) return std::to_string(ms) + " ms";
    if (ms < 60000) {
        const long long tenths = (ms + 99) / 100;  // rounded up: a worst case is never understated
        return i18n::Fill(_("%s.%s s"), tenths / 10, tenths % 10);
    }
    const long long s = (ms + 999) / 1000;
    if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

int CurrentYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local.tm_year + 1900;
}

std::string ClockText(const kv618::ClockReading& r, char separator) {
    const int year = (CurrentYear() & ~3) + r.date.d3;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u%c%02u:%02u:%02u", year, r.date.d2, r.date.d1, separator,
                  r.time.d3, r.time.d2, r.time.d1);
    return text;
}

nlohmann::ordered_json IdentityJson(const kv618::Identification& identity, uint8_t address) {
    return {{"address", address},
            {"name", Trimmed(identity.Name())},
            {"version", Trimmed(identity.Version())},
            {"text", identity.Text()}};
}

bool PrintLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

}  // namespace cli
