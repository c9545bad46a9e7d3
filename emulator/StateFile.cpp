#include "StateFile.h"

#include "FileTexts.h"
#include "Files.h"
#include "Messages.h"
#include "Numbers.h"

#include <algorithm>
#include <limits>
#include <sstream>

namespace emu {

namespace {

constexpr std::string_view Header = "kv618-state 1";
constexpr size_t MaxFileSize = 64 * 1024;

// A field's number, within what its type holds.
template <typename T>
bool ParseNumber(std::string_view text, T& out, files::NumberForm form = {}) {
    static_assert(sizeof(T) < sizeof(int64_t), "the bounds go through int64_t");
    const auto n = files::ParseNumber(text, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), form);
    if (n) out = static_cast<T>(*n);
    return n.has_value();
}

bool ParseRegisters(std::string_view text, std::array<uint8_t, 256>& regs) {
    if (text.size() != 512) return false;
    for (size_t i = 0; i < 256; ++i) {
        if (!ParseNumber(text.substr(2 * i, 2), regs[i], files::Hexadecimal)) return false;
    }
    return true;
}

bool ParseCounts(std::string_view text, std::array<uint32_t, 4>& counts) {
    for (size_t i = 0; i < 4; ++i) {
        const size_t comma = text.find(',');
        const bool last = i == 3;
        if (last != (comma == std::string_view::npos)) return false;
        if (!ParseNumber(text.substr(0, comma), counts[i])) return false;
        if (!last) text.remove_prefix(comma + 1);
    }
    return true;
}

// Clock values (seconds either way of 1970) and the module clock's offset
// from the host's are kept within about 35,000 years: far beyond a clock that
// `set clock` put at 9999-12-31 and that then ran on, or one behind a host
// clock that went back, and far from overflowing the clock arithmetic.  What
// is written must read back, or the next start loses the whole state.
constexpr int64_t ClockLimit = int64_t{1} << 40;

bool ParseClockValue(std::string_view text, int64_t& out) {
    const auto n = files::ParseNumber(text, -ClockLimit, ClockLimit, {.sign = true});
    if (n) out = *n;
    return n.has_value();
}

int64_t Storable(int64_t clockValue) { return std::clamp(clockValue, -ClockLimit, ClockLimit); }

bool Fail(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return false;
}

bool ParseLine(std::string_view line, ModuleState& state, std::string* why) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return Fail(why, "a line without '='");
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    bool ok = false;
    if (key == "registers") ok = ParseRegisters(value, state.registers);
    else if (key == "clock-offset") ok = ParseClockValue(value, state.clockOffset);
    else if (key == "last-alive") ok = ParseClockValue(value, state.lastAlive);
    else if (key == "failure-start") ok = ParseClockValue(value, state.failureStart);
    else if (key == "failure-end") ok = ParseClockValue(value, state.failureEnd);
    else if (key == "counts") ok = ParseCounts(value, state.counts);
    else if (key == "status") ok = ParseNumber(value, state.status);
    else return Fail(why, "unknown key '" + std::string(key.substr(0, 40)) + "'");
    return ok || Fail(why, "bad value of '" + std::string(key) + "'");
}

}  // namespace

std::optional<ModuleState> ParseState(std::string_view bytes, std::string* why) {
    if (bytes.size() > MaxFileSize) {
        Fail(why, "file too large");
        return std::nullopt;
    }
    ModuleState state;
    bool first = true;
    bool complete = false;
    while (!bytes.empty()) {
        const size_t nl = bytes.find('\n');
        if (nl == std::string_view::npos) {
            Fail(why, "last line not terminated");
            return std::nullopt;
        }
        const std::string_view line = bytes.substr(0, nl);
        bytes.remove_prefix(nl + 1);
        if (complete) {
            Fail(why, "data after the end mark");
            return std::nullopt;
        }
        if (first) {
            if (line != Header) {
                Fail(why, "not a state file of this module");
                return std::nullopt;
            }
            first = false;
        } else if (line == "end") {
            complete = true;
        } else if (!ParseLine(line, state, why)) {
            return std::nullopt;
        }
    }
    if (!complete) {
        Fail(why, first ? "empty file" : "no end mark");
        return std::nullopt;
    }
    return state;
}

std::string FormatState(const ModuleState& s) {
    std::string regs;
    regs.reserve(512);
    static const char hex[] = "0123456789abcdef";
    for (uint8_t r : s.registers) {
        regs += hex[r >> 4];
        regs += hex[r & 15];
    }
    std::ostringstream out;
    out << Header << '\n'
        << "registers=" << regs << '\n'
        << "clock-offset=" << Storable(s.clockOffset) << '\n'
        << "last-alive=" << Storable(s.lastAlive) << '\n'
        << "failure-start=" << Storable(s.failureStart) << '\n'
        << "failure-end=" << Storable(s.failureEnd) << '\n'
        << "counts=" << s.counts[0] << ',' << s.counts[1] << ',' << s.counts[2] << ',' << s.counts[3] << '\n'
        << "status=" << s.status << '\n'
        << "end\n";
    return out.str();
}

LoadResult LoadStateFile(const std::string& path, ModuleState& state, std::string& why) {
    std::string bytes;
    const files::Failure read = files::Read(path, bytes, files::Kinds::RegularOnly, MaxFileSize);
    if (read.kind == files::Failure::Missing) return LoadResult::Missing;
    if (read.failed()) {
        why = read.kind == files::Failure::CannotRead ? i18n::Fill(_("cannot be read: %s"), i18n::FileReason(read))
                                                      : i18n::FileReason(read);
        return LoadResult::Damaged;
    }
    auto parsed = ParseState(bytes, &why);
    if (!parsed) return LoadResult::Damaged;
    state = *parsed;
    return LoadResult::Loaded;
}

bool SaveStateFile(const std::string& path, const ModuleState& state, std::string& why) {
    const files::Failure written = files::Replace(path, FormatState(state));
    if (!written.failed()) return true;
    why = path + ": " + i18n::FileReason(written);
    return false;
}

}  // namespace emu
