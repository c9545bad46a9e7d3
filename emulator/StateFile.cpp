#include "StateFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace emu {

namespace {

constexpr std::string_view Header = "kv618-state 1";
constexpr size_t MaxFileSize = 64 * 1024;

template <typename T>
bool ParseNumber(std::string_view text, T& out, int base = 10) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
    return ec == std::errc() && ptr == end;
}

bool ParseRegisters(std::string_view text, std::array<uint8_t, 256>& regs) {
    if (text.size() != 512) return false;
    for (size_t i = 0; i < 256; ++i) {
        if (!ParseNumber(text.substr(2 * i, 2), regs[i], 16)) return false;
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

// Clock values stay within years 1970-9999, and the offset within a few
// centuries, so that the clock arithmetic can never overflow.
constexpr int64_t MaxWall = 253'402'300'799;  // 9999-12-31 23:59:59
constexpr int64_t MaxOffset = 10'000'000'000;

bool ParseWallValue(std::string_view text, int64_t& out) {
    return ParseNumber(text, out) && out >= 0 && out <= MaxWall;
}

bool ParseOffset(std::string_view text, int64_t& out) {
    return ParseNumber(text, out) && out >= -MaxOffset && out <= MaxOffset;
}

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
    else if (key == "clock-offset") ok = ParseOffset(value, state.clockOffset);
    else if (key == "last-alive") ok = ParseWallValue(value, state.lastAlive);
    else if (key == "failure-start") ok = ParseWallValue(value, state.failureStart);
    else if (key == "failure-end") ok = ParseWallValue(value, state.failureEnd);
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
        << "clock-offset=" << s.clockOffset << '\n'
        << "last-alive=" << s.lastAlive << '\n'
        << "failure-start=" << s.failureStart << '\n'
        << "failure-end=" << s.failureEnd << '\n'
        << "counts=" << s.counts[0] << ',' << s.counts[1] << ',' << s.counts[2] << ',' << s.counts[3] << '\n'
        << "status=" << s.status << '\n'
        << "end\n";
    return out.str();
}

LoadResult LoadStateFile(const std::string& path, ModuleState& state, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return LoadResult::Missing;
        why = std::string("cannot read: ") + std::strerror(errno);
        return LoadResult::Damaged;
    }
    std::string bytes;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::string("cannot read: ") + std::strerror(errno);
            ::close(fd);
            return LoadResult::Damaged;
        }
        if (n == 0 || bytes.size() > MaxFileSize) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    auto parsed = ParseState(bytes, &why);
    if (!parsed) return LoadResult::Damaged;
    state = *parsed;
    return LoadResult::Loaded;
}

bool SaveStateFile(const std::string& path, const ModuleState& state, std::string& why) {
    const std::string text = FormatState(state);
    const std::string temp = path + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = temp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = temp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        why = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace emu
