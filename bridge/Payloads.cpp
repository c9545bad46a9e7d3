#include "Payloads.h"

#include "Ini.h"
#include "Quantities.h"
#include "Times.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <ctime>

namespace kvbridge {

namespace {

using nlohmann::json;

constexpr size_t EchoedPayload = 200;  // bytes of a refused payload sent back

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

json Bits(uint32_t value) {
    json bits = json::array();
    for (int i = 0; i < 32; ++i) bits.push_back((value >> i) & 1);
    return bits;
}

std::string Trim(std::string_view text) { return std::string(files::Trim(text)); }

// A whole number in 0..2^32-1, decimal or 0x hexadecimal.
std::optional<uint32_t> Number32(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u)) return std::nullopt;
    uint64_t value = 0;
    for (const char c : digits) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
        if (d < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    }
    if (value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<uint32_t> OutputsOf(std::string_view payload) {
    const std::string text = Trim(payload);
    if (auto n = Number32(text)) return n;
    const json j = json::parse(text, nullptr, false);
    if (!j.is_object() || j.size() != 1 || !j.contains("value")) return std::nullopt;
    const json& value = j["value"];
    if (value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFFFFFFu) return value.get<uint32_t>();
    if (value.is_string()) return Number32(Trim(value.get<std::string>()));
    return std::nullopt;
}

}  // namespace

std::string Topic(const std::string& module, std::string_view what) {
    return std::string(topic::Root) + "/" + module + "/" + std::string(what);
}

std::string Timestamp(WallTime when) { return i18n::IsoTime(when); }

std::string InputsJson(uint32_t inputs, WallTime when) {
    return Dump({{"time", Timestamp(when)}, {"value", inputs}, {"bits", Bits(inputs)}});
}

std::string OutputsJson(uint32_t outputs, WallTime when) {
    return Dump({{"time", Timestamp(when)}, {"value", outputs}, {"bits", Bits(outputs)}});
}

std::string StatusJson(uint32_t status, WallTime when) {
    namespace s = wire::status;
    return Dump({{"time", Timestamp(when)},
                 {"value", status},
                 {"FN", (status & s::FN) != 0},
                 {"PRF", (status & s::PRF) != 0},
                 {"PWR", (status & s::PWR) != 0},
                 {"RST", (status & s::RST) != 0},
                 {"ERR24", (status & s::ERR24) != 0}});
}

std::string CountersJson(const kv618::CounterTable& values, WallTime when) {
    json counters = json::array();
    for (const auto& counter : values) {
        json one = json::object();
        for (size_t q = 0; q < kv618::QuantityNames.size(); ++q) one[kv618::QuantityNames[q].key] = counter[q];
        counters.push_back(one);
    }
    return Dump({{"time", Timestamp(when)}, {"counters", counters}});
}

std::string IdentificationJson(const kv618::Identification& id, uint8_t address, WallTime when) {
    std::string name = id.Name();
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return Dump({{"time", Timestamp(when)},
                 {"name", name},
                 {"version", id.Version()},
                 {"text", id.Text()},
                 {"address", address}});
}

std::string CommandErrorJson(const std::string& topic, std::string_view payload, const std::string& why,
                             WallTime when) {
    return Dump({{"time", Timestamp(when)},
                 {"topic", topic},
                 {"payload", std::string(payload.substr(0, EchoedPayload))},
                 {"error", why}});
}

std::string PollErrorJson(const char* poll, int code, const std::string& text, WallTime when) {
    return Dump({{"time", Timestamp(when)}, {"poll", poll}, {"code", code}, {"error", text}});
}

kv618::Outcome<Command> ParseCommand(std::string_view what, std::string_view payload) {
    const std::string text = Trim(payload);
    if (what == topic::SetOutputs) {
        if (auto outputs = OutputsOf(payload)) return Command{Command::SetOutputs, *outputs};
        return kv618::Failed{"set/outputs takes the 32 outputs as a number (decimal or 0x hexadecimal, DOUT0 = bit 0) or "
                "{\"value\": N}"};
    }
    if (what.rfind(topic::SetOutput, 0) == 0) {
        const std::string_view number = what.substr(std::string_view(topic::SetOutput).size());
        const auto bit = Number32(std::string(number));
        const std::string refusal = "set/DOUT0 to set/DOUT31 take ON or OFF (true or false, 1 or 0)";
        if (!bit || *bit > 31 || number.size() > 2 || (number.size() == 2 && number[0] == '0'))
            return kv618::Failed{"unknown output; there are set/DOUT0 to set/DOUT31"};
        const std::optional<bool> on = text == "ON" || text == "true" || text == "1"     ? std::optional<bool>(true)
                                       : text == "OFF" || text == "false" || text == "0" ? std::optional<bool>(false)
                                                                                          : std::nullopt;
        if (!on) return kv618::Failed{refusal};
        return Command{Command::SetOutputs, *on ? 1u << *bit : 0u, -1, 1u << *bit};
    }
    if (what == topic::ResetCounters) {
        if (text.empty() || text == "all") return Command{Command::ResetCounters};
        if (text.size() == 1 && text[0] >= '0' && text[0] <= '3')
            return Command{Command::ResetCounters, 0, text[0] - '0'};
        return kv618::Failed{"reset/counters takes an empty payload or \"all\" (all four) or a counter 0-3"};
    }
    if (what == topic::ResetStatus) {
        if (text.empty() || text == "{}" || text == "true") return Command{Command::ResetStatus};
        return kv618::Failed{"reset/status takes an empty payload"};
    }
    return kv618::Failed{"unknown command; there are set/outputs, set/DOUT0-31, reset/counters and reset/status"};
}

}  // namespace kvbridge
