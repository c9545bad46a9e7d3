#include "Format.h"

#include "Commands.h"
#include "Ini.h"
#include "Messages.h"

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
    using i18n::Fill;
    const std::string error = std::strerror(f.error);
    switch (f.kind) {
        case files::Failure::None: return {};
        case files::Failure::Missing:
        case files::Failure::CannotRead: return Fill(_("Cannot read file %s (%s)"), f.path, error);
        case files::Failure::TooLarge: return Fill(_("File %s is too large (over 1 MiB)"), f.path);
        case files::Failure::NotRegular: return Fill(_("File %s is not a regular file; nothing was written"), f.path);
        case files::Failure::ReadOnly: return Fill(_("File %s is read-only; nothing was written"), f.path);
        case files::Failure::CannotMakeFolder: return Fill(_("Cannot create folder %s (%s)"), f.path, error);
        case files::Failure::CannotCreate:
        case files::Failure::CannotWrite:
        case files::Failure::CannotReplace: break;
    }
    return Fill(_("Cannot write file %s (%s)"), f.path, error);
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
