#include "Control.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

#include "Clock.h"
#include "Numbers.h"

namespace emu {

namespace {

std::vector<std::string_view> Split(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size() && words.size() < 16) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool ParseRate(std::string_view text, double& hz) {
    uint32_t whole = 0;
    if (ParseU32(text, whole)) {
        hz = whole;
        return true;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, hz, std::chars_format::fixed);
    return ec == std::errc() && ptr == end && std::isfinite(hz) && hz >= 0 && hz <= 1e7;
}

class Parser {
public:
    explicit Parser(std::string_view line) : w_(Split(line)) {}

    std::variant<Command, CommandError> Run();

private:
    using Result = std::variant<Command, CommandError>;

    bool Is(std::initializer_list<std::string_view> words) const {
        if (words.size() > w_.size()) return false;
        size_t i = 0;
        for (auto word : words)
            if (w_[i++] != word) return false;
        return true;
    }
    // A number argument at word `i` no larger than `max`.
    bool Num(size_t i, uint32_t max, uint32_t& out) const {
        return i < w_.size() && ParseU32(w_[i], out) && out <= max;
    }
    Result Error(std::string why) const { return CommandError{std::move(why)}; }
    Result Args(size_t n, CommandKind kind) const {
        if (w_.size() != n) return Error("wrong number of arguments");
        Command c;
        c.kind = kind;
        return c;
    }
    Result Numbers(CommandKind kind, size_t first, uint32_t maxA, std::optional<uint32_t> maxB = std::nullopt);
    Result Moments(CommandKind kind, size_t count, std::string usage);
    Result Fault();
    Result Matching(CommandKind kind);

    std::vector<std::string_view> w_;
};

Parser::Result Parser::Numbers(CommandKind kind, size_t first, uint32_t maxA, std::optional<uint32_t> maxB) {
    const size_t n = first + (maxB ? 2 : 1);
    if (w_.size() != n) return Error("wrong number of arguments");
    Command c;
    c.kind = kind;
    if (!Num(first, maxA, c.a)) return Error("bad number '" + std::string(w_[first]) + "'");
    if (maxB && !Num(first + 1, *maxB, c.b)) return Error("bad number '" + std::string(w_[first + 1]) + "'");
    return c;
}

// `count` moments of the module's clock (one or two), each a date and a time
// from the third word on: into wall1, then wall2.
Parser::Result Parser::Moments(CommandKind kind, size_t count, std::string usage) {
    if (w_.size() != 2 + 2 * count) return Error(std::move(usage));
    Command c;
    c.kind = kind;
    int64_t* const walls[] = {&c.wall1, &c.wall2};
    for (size_t i = 0; i < count; ++i)
        if (!ParseWall(w_[2 + 2 * i], w_[3 + 2 * i], *walls[i])) return Error("bad date or time");
    return c;
}

Parser::Result Parser::Matching(CommandKind kind) {
    if (w_.size() != 4 && w_.size() != 5) return Error("usage: fault refuse|timeout FUNC SUB [COUNT]");
    Command c;
    c.kind = kind;
    if (!Num(2, 255, c.a) || !Num(3, 255, c.b)) return Error("bad function or sub-code");
    if (w_.size() == 5 && (!Num(4, 0xFFFFFFFF, c.count) || c.count == 0)) return Error("bad count");
    return c;
}

Parser::Result Parser::Fault() {
    if (Is({"fault", "drop"})) return Numbers(CommandKind::FaultDrop, 2, 100);
    if (Is({"fault", "crc"})) return Numbers(CommandKind::FaultCrc, 2, 100);
    if (Is({"fault", "address"})) return Numbers(CommandKind::FaultAddress, 2, 100);
    if (Is({"fault", "delay"})) return Numbers(CommandKind::FaultDelay, 2, 100, 600'000);
    if (Is({"fault", "refuse"})) return Matching(CommandKind::FaultRefuse);
    if (Is({"fault", "timeout"})) return Matching(CommandKind::FaultTimeout);
    if (Is({"fault", "readback"})) return Numbers(CommandKind::FaultReadback, 2, 255);
    if (Is({"fault", "register"})) return Numbers(CommandKind::FaultRegister, 2, 255);
    if (Is({"fault", "clear"})) return Args(2, CommandKind::FaultClear);
    return Error("unknown fault");
}

Parser::Result Parser::Run() {
    if (w_.empty()) return Error("empty command");
    if (Is({"ping"})) return Args(1, CommandKind::Ping);
    if (Is({"quit"})) return Args(1, CommandKind::Quit);
    if (Is({"get", "reg"})) return Numbers(CommandKind::GetReg, 2, 255);
    if (Is({"set", "reg"})) return Numbers(CommandKind::SetReg, 2, 255, 255);
    if (Is({"set", "inputs"})) return Numbers(CommandKind::SetInputs, 2, 0xFFFFFFFF);
    if (Is({"get", "inputs"})) return Args(2, CommandKind::GetInputs);
    if (Is({"get", "outputs"})) return Args(2, CommandKind::GetOutputs);
    if (Is({"get", "pins"})) return Args(2, CommandKind::GetPins);
    if (Is({"get", "status"})) return Args(2, CommandKind::GetStatus);
    if (Is({"set", "status"})) return Numbers(CommandKind::SetStatus, 2, 0xFFFFFFFF);
    if (Is({"get", "counter"})) return Numbers(CommandKind::GetCounter, 2, 3);
    if (Is({"set", "counter"})) return Numbers(CommandKind::SetCounter, 2, 3, 0xFFFFFFFF);
    if (Is({"set", "quantity"})) return Numbers(CommandKind::SetQuantity, 2, 255, 0xFFFFFFFF);
    if (Is({"clear", "quantity"})) return Numbers(CommandKind::ClearQuantity, 2, 255);
    if (Is({"pulses"})) {
        if (w_.size() != 3) return Error("usage: pulses N HZ");
        Command c;
        c.kind = CommandKind::Pulses;
        if (!Num(1, 3, c.a)) return Error("bad counter");
        if (!ParseRate(w_[2], c.hz)) return Error("bad rate");
        return c;
    }
    if (Is({"get", "clock"})) return Args(2, CommandKind::GetClock);
    if (Is({"set", "clock"})) return Moments(CommandKind::SetClock, 1, "usage: set clock YYYY-MM-DD HH:MM:SS");
    if (Is({"get", "stamps"})) return Args(2, CommandKind::GetStamps);
    if (Is({"set", "stamps"})) return Moments(CommandKind::SetStamps, 2, "usage: set stamps DATE TIME DATE TIME");
    if (Is({"power-fail"})) return Args(1, CommandKind::PowerFail);
    if (Is({"supply-fault"})) return Args(1, CommandKind::SupplyFault);
    if (Is({"fault"})) return Fault();
    if (Is({"get", "requests"})) return Args(2, CommandKind::GetRequests);
    if (Is({"get", "last"})) return Args(2, CommandKind::GetLast);
    if (Is({"get", "log"})) return Args(2, CommandKind::GetLog);
    if (Is({"clear", "log"})) return Args(2, CommandKind::ClearLog);
    if (Is({"get", "address"})) return Args(2, CommandKind::GetAddress);
    if (Is({"get", "baud"})) return Args(2, CommandKind::GetBaud);
    return Error("unknown command");
}

}  // namespace

bool ParseU32(std::string_view text, uint32_t& value) {
    const auto n = files::ParseCount(text, UINT32_MAX, files::Given);
    if (n) value = static_cast<uint32_t>(*n);
    return n.has_value();
}

std::variant<Command, CommandError> ParseCommand(std::string_view line) { return Parser(line).Run(); }

Targeted SplitTarget(std::string_view line) {
    const auto words = Split(line);
    uint32_t address = 0;
    if (words.size() < 3 || words[0] != "at" || !ParseU32(words[1], address) || address > 255) return {std::nullopt, line};
    const size_t rest = static_cast<size_t>(words[2].data() - line.data());
    return {static_cast<uint8_t>(address), line.substr(rest)};
}

bool IsModulesCommand(std::string_view line) {
    const auto words = Split(line);
    return words.size() == 1 && words[0] == "modules";
}

}  // namespace emu
