#include "SparkplugCommands.h"

#include "sparkplug_b.pb.h"

#include <nlohmann/json.hpp>

namespace kvbridge::sparkplug {

namespace {

std::string Named(const spb::Payload::Metric& m) {
    return (m.has_name() ? m.name() : "alias " + std::to_string(m.alias())) + " = " + ValueText(m);
}

void Join(std::string& list, const std::string& what) { list += (list.empty() ? "" : ", ") + what; }

// The metric a host names, by name or, as a host that learnt the aliases
// from the birth, by alias (which also names the device).
std::optional<size_t> MetricOf(const spb::Payload::Metric& m, size_t module) {
    if (m.has_name()) return MetricNamed(m.name());
    if (const auto of = MetricOfAlias(m.alias()); of && of->first == module) return of->second;
    return std::nullopt;
}

// The 32 outputs as a host writes them: the birth says UInt64 (long_value),
// and a host that writes them as UInt32 puts them in int_value, as the
// standard has it, or in long_value, as the reference libraries do.
std::optional<uint32_t> OutputsWord(const spb::Payload::Metric& m) {
    if (m.value_case() == spb::Payload::Metric::kIntValue) return m.int_value();
    if (m.value_case() == spb::Payload::Metric::kLongValue && m.long_value() <= AllOutputs)
        return static_cast<uint32_t>(m.long_value());
    return std::nullopt;
}

}  // namespace

std::string ValueText(const spb::Payload::Metric& m) {
    switch (m.value_case()) {
        case spb::Payload::Metric::kBooleanValue: return m.boolean_value() ? "true" : "false";
        case spb::Payload::Metric::kIntValue: return std::to_string(m.int_value());
        case spb::Payload::Metric::kLongValue: return std::to_string(m.long_value());
        case spb::Payload::Metric::kStringValue: return "\"" + m.string_value().substr(0, 64) + "\"";
        default: return "(another type)";
    }
}

std::optional<Refusal> DecodeCommand(std::string_view payload, spb::Payload& command) {
    if (payload.size() > MostCommandBytes)
        return Refusal{"(" + std::to_string(payload.size()) + " bytes)",
                       "at most " + std::to_string(MostCommandBytes) + " bytes are taken", "too large"};
    if (!command.ParseFromArray(payload.data(), static_cast<int>(payload.size())))
        return Refusal{"(not a Sparkplug B payload)", "it cannot be decoded", "undecodable"};
    return std::nullopt;
}

DeviceWrites DecodeDeviceCommand(const spb::Payload& command, size_t module, const ModuleConfig& config) {
    DeviceWrites writes;
    uint32_t mask = 0, outputs = 0;
    std::string written;  // the outputs' metrics, for a refusal
    for (const auto& m : command.metrics()) {
        const std::string what = Named(m);
        const auto refuse = [&](std::string why, const char* kind) {
            writes.refused.push_back({what, std::move(why), kind});
        };
        const auto index = MetricOf(m, module);
        if (!index) {
            refuse("no such metric on this device", "no such metric");
            continue;
        }
        const DeviceMetric& metric = DeviceMetrics()[*index];
        if (!Writable(metric)) {
            refuse(metric.name + " is not writable", "not writable");
            continue;
        }
        if (!Enabled(metric, config.commands)) {
            refuse("writing " + metric.name + " is not enabled for this module (key \"commands\" of [module " +
                       config.name + "])",
                   "not enabled");
            continue;
        }
        const bool isBool = m.value_case() == spb::Payload::Metric::kBooleanValue;
        if (metric.source == Source::OutputsValue) {
            const auto word = OutputsWord(m);
            if (!word) {
                refuse(metric.name + " takes a whole number 0-4294967295", "wrong value");
                continue;
            }
            mask = AllOutputs;
            outputs = *word;
            Join(written, what);
            continue;
        }
        if (!isBool) {
            refuse(metric.name + " takes a Boolean", "wrong value");
            continue;
        }
        if (metric.source == Source::Output) {
            mask |= 1u << metric.bit;
            outputs = m.boolean_value() ? outputs | (1u << metric.bit) : outputs & ~(1u << metric.bit);
            Join(written, what);
            continue;
        }
        if (!m.boolean_value()) continue;  // a button released
        writes.commands.push_back({metric.source == Source::CounterReset
                                       ? Command{Command::ResetCounters, 0, metric.counter}
                                       : Command{Command::ResetStatus},
                                   what});
    }
    if (mask != 0) writes.commands.push_back({Command{Command::SetOutputs, outputs, -1, mask}, written});
    return writes;
}

NodeCommand DecodeNodeCommand(const spb::Payload& command) {
    NodeCommand node;
    for (const auto& m : command.metrics()) {
        const bool rebirth = m.has_name() ? m.name() == RebirthName : m.alias() == RebirthAlias;
        if (!rebirth) node.refused.push_back({Named(m), "not a metric the node takes", "no such metric"});
        else if (m.has_boolean_value() && m.boolean_value()) node.rebirth = true;
    }
    return node;
}

std::optional<HostState> ParseHostState(std::string_view payload) {
    const auto j = nlohmann::json::parse(payload, nullptr, false);
    if (j.is_object() && j.contains("online") && j["online"].is_boolean()) {
        HostState state{j["online"].get<bool>(), 0};
        if (j.contains("timestamp") && j["timestamp"].is_number_unsigned()) state.time = j["timestamp"].get<uint64_t>();
        return state;
    }
    if (payload == "ONLINE" || payload == "OFFLINE") return HostState{payload == "ONLINE", 0};
    return std::nullopt;
}

}  // namespace kvbridge::sparkplug
