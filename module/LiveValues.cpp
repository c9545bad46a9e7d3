#include "LiveValues.h"

#include "Times.h"

#include <nlohmann/json.hpp>

namespace kv618 {

int32_t Poll(const Module& module, const Groups& groups, Sample& sample) {
    if (groups.inputs) {
        const auto inputs = module.ReadInputs();
        if (!inputs.ok()) return inputs.error;
        sample.inputs = inputs.value;
    }
    if (groups.status) {
        const auto status = module.ReadStatus();
        if (!status.ok()) return status.error;
        sample.status = status.value;
    }
    if (groups.counters) {
        for (int counter = 0; counter < wire::CounterCount; ++counter) {
            for (size_t q = 0; q < wire::Quantities.size(); ++q) {
                const auto value = module.ReadQuantity(wire::Quantities[q], counter);
                if (!value.ok()) return value.error;
                sample.counters[counter][q] = value.value;
            }
        }
    }
    return 0;
}

std::optional<std::string> LogHeader(LogFormat format, const Groups& groups) {
    if (format == LogFormat::Json) return std::nullopt;
    std::string line = "time";
    if (groups.inputs) line += ",inputs";
    if (groups.status) line += ",status";
    if (groups.counters)
        for (int c = 0; c < wire::CounterCount; ++c)
            for (const QuantityName& q : QuantityNames) line += ",counter" + std::to_string(c) + "_" + q.key;
    return line;
}

namespace {

std::string JsonLine(const Groups& groups, const Sample& s) {
    // Keys in the order of the CSV columns.
    nlohmann::ordered_json line = {{"time", i18n::IsoTime(s.when)}};
    if (groups.inputs) line["inputs"] = s.inputs;
    if (groups.status) line["status"] = s.status;
    if (groups.counters) {
        auto& counters = line["counters"] = nlohmann::ordered_json::array();
        for (const auto& values : s.counters) {
            nlohmann::ordered_json counter = nlohmann::ordered_json::object();
            for (size_t q = 0; q < QuantityNames.size(); ++q) counter[QuantityNames[q].key] = values[q];
            counters.push_back(std::move(counter));
        }
    }
    return line.dump();
}

}  // namespace

std::string LogLine(LogFormat format, const Groups& groups, const Sample& s) {
    if (format == LogFormat::Json) return JsonLine(groups, s);
    std::string line = i18n::IsoTime(s.when);
    if (groups.inputs) line += "," + std::to_string(s.inputs);
    if (groups.status) line += "," + std::to_string(s.status);
    if (groups.counters)
        for (const auto& counter : s.counters)
            for (const uint32_t value : counter) line += "," + std::to_string(value);
    return line;
}

}  // namespace kv618
