#include "Format.h"

#include "Commands.h"
#include "Ini.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace cli {

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return false;
    uint64_t parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed, base);
    if (error != std::errc() || end != text.data() + text.size() || parsed > max) return false;
    value = parsed;
    return true;
}

std::string Trimmed(std::string_view text) { return std::string(files::Trim(text)); }

std::string FileProblem(const files::Failure& f) {
    const std::string error = std::strerror(f.error);
    switch (f.kind) {
        case files::Failure::None: return {};
        case files::Failure::Missing:
        case files::Failure::CannotRead: return "Nelze číst soubor " + f.path + " (" + error + ")";
        case files::Failure::TooLarge: return "Soubor " + f.path + " je příliš velký (nad 1 MiB)";
        case files::Failure::NotRegular: return "Soubor " + f.path + " není obyčejný soubor; nic se nezapsalo";
        case files::Failure::ReadOnly: return "Soubor " + f.path + " je jen pro čtení; nic se nezapsalo";
        case files::Failure::CannotMakeFolder: return "Nelze vytvořit složku " + f.path + " (" + error + ")";
        case files::Failure::CannotCreate:
        case files::Failure::CannotWrite:
        case files::Failure::CannotReplace: break;
    }
    return "Nelze zapsat soubor " + f.path + " (" + error + ")";
}

std::string Padded(std::string text, size_t width) {
    size_t characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    text.append(characters < width ? width - characters : 1, ' ');
    return text;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
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

std::string RateList() {
    std::string list;
    for (const int32_t rate : kv618::BaudRates) list += (list.empty() ? "" : ", ") + std::to_string(rate);
    return list;
}

std::string LocalTime(std::chrono::system_clock::time_point when, bool milliseconds) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    if (!milliseconds) return text;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    char withMs[48];
    std::snprintf(withMs, sizeof withMs, "%s.%03lld", text, static_cast<long long>(ms < 0 ? ms + 1000 : ms));
    return withMs;
}

std::string DurationText(std::chrono::milliseconds duration) {
    const long long ms = duration.count();
    if (ms < 1000) return std::to_string(ms) + " ms";
    if (ms < 60000) {
        const long long tenths = (ms + 99) / 100;  // rounded up: a worst case is never understated
        return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " s";
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

std::string ClockText(const kv618::ClockReading& r) {
    const int year = (CurrentYear() & ~3) + r.date.d3;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", year, r.date.d2, r.date.d1, r.time.d3,
                  r.time.d2, r.time.d1);
    return text;
}

bool PrintLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

}  // namespace cli
