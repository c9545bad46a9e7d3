#include "SparkplugMetrics.h"

#include "Quantities.h"
#include "sparkplug_b.pb.h"

#include <algorithm>
#include <unordered_map>

namespace kvbridge::sparkplug {

namespace {

// Device d's aliases: FirstDeviceAlias + d * AliasBlock + the metric's index.
constexpr uint64_t FirstDeviceAlias = 1000;
constexpr uint64_t AliasBlock = 128;

// The counter quantities' metric names, in the order of wire::Quantities;
// their units are the one table's (Quantities.h).
constexpr const char* QuantityMetrics[] = {"Pulses", "Consumption", "Power", "Period", "Power10s"};
static_assert(std::size(QuantityMetrics) == kv618::QuantityNames.size());

// The datatype of the 32-bit unsigned values (counters, the outputs' word).
// UInt32 would be the natural one, but the standard carries it in int_value
// while the reference libraries (Eclipse Tahu's Java and JavaScript) read and
// write it in long_value, so a host on either reads null.  UInt64 lives in
// long_value for both, and every 32-bit value is the same number there.
constexpr uint32_t WholeNumber = spb::UInt64;

struct StatusName {
    const char* name;
    uint32_t mask;
};
constexpr StatusName StatusNames[] = {
    {"FN", wire::status::FN},   {"PRF", wire::status::PRF},     {"PWR", wire::status::PWR},
    {"RST", wire::status::RST}, {"ERR24", wire::status::ERR24},
};

std::vector<DeviceMetric> MakeTable() {
    std::vector<DeviceMetric> t;
    t.push_back({"Identification/Name", spb::String, nullptr, Source::Name});
    t.push_back({"Identification/Version", spb::String, nullptr, Source::Version});
    t.push_back({"Identification/Text", spb::String, nullptr, Source::Text});
    t.push_back({"Identification/Address", spb::UInt8, nullptr, Source::Address});
    for (uint32_t bit = 0; bit < 32; ++bit)
        t.push_back({"Inputs/DIN" + std::to_string(bit), spb::Boolean, nullptr, Source::Input, bit});
    for (const auto& s : StatusNames)
        t.push_back({std::string("Status/") + s.name, spb::Boolean, nullptr, Source::StatusBit, s.mask});
    for (int c = 0; c < wire::CounterCount; ++c)
        for (int q = 0; q < static_cast<int>(std::size(QuantityMetrics)); ++q) {
            const char* unit = kv618::QuantityNames[q].unit;
            t.push_back({"Counters/" + std::to_string(c) + "/" + QuantityMetrics[q], WholeNumber, *unit ? unit : nullptr,
                         Source::Quantity, 0, c, q});
        }
    for (uint32_t bit = 0; bit < 32; ++bit)
        t.push_back({"Outputs/DOUT" + std::to_string(bit), spb::Boolean, nullptr, Source::Output, bit});
    t.push_back({"Outputs/Value", WholeNumber, nullptr, Source::OutputsValue});
    for (int c = 0; c < wire::CounterCount; ++c)
        t.push_back({"Counters/" + std::to_string(c) + "/Reset", spb::Boolean, nullptr, Source::CounterReset, 0, c});
    t.push_back({"Status/Reset", spb::Boolean, nullptr, Source::StatusReset});
    return t;
}

}  // namespace

const std::vector<DeviceMetric>& DeviceMetrics() {
    static const std::vector<DeviceMetric> table = MakeTable();
    static_assert(AliasBlock >= 100);
    return table;
}

MetricRange RangeOf(Source first, Source last) {
    const auto& table = DeviceMetrics();
    const auto in = [&](const DeviceMetric& m) { return m.source >= first && m.source <= last; };
    const auto begin = std::find_if(table.begin(), table.end(), in);
    const auto end = std::find_if_not(begin, table.end(), in);
    return {static_cast<size_t>(begin - table.begin()), static_cast<size_t>(end - table.begin())};
}

std::optional<size_t> MetricNamed(const std::string& name) {
    static const std::unordered_map<std::string, size_t> byName = [] {
        std::unordered_map<std::string, size_t> map;
        for (size_t i = 0; i < DeviceMetrics().size(); ++i) map.emplace(DeviceMetrics()[i].name, i);
        return map;
    }();
    const auto found = byName.find(name);
    if (found == byName.end()) return std::nullopt;
    return found->second;
}

uint64_t AliasOf(size_t device, size_t metric) { return FirstDeviceAlias + device * AliasBlock + metric; }

std::optional<std::pair<size_t, size_t>> MetricOfAlias(uint64_t alias) {
    if (alias < FirstDeviceAlias) return std::nullopt;
    const uint64_t offset = alias - FirstDeviceAlias;
    if (offset % AliasBlock >= DeviceMetrics().size()) return std::nullopt;
    return std::pair{static_cast<size_t>(offset / AliasBlock), static_cast<size_t>(offset % AliasBlock)};
}

bool Writable(const DeviceMetric& m) {
    return m.source == Source::Output || m.source == Source::OutputsValue || m.source == Source::CounterReset ||
           m.source == Source::StatusReset;
}

bool Enabled(const DeviceMetric& m, const Commands& commands) {
    switch (m.source) {
        case Source::Output:
        case Source::OutputsValue: return commands.setOutputs;
        case Source::CounterReset: return commands.resetCounters;
        case Source::StatusReset: return commands.resetStatus;
        default: return false;
    }
}

DeviceValues::DeviceValues() : values_(DeviceMetrics().size()) {
    // A reset metric reads false: it is a button, not a state.
    for (size_t i = 0; i < values_.size(); ++i) {
        const Source s = DeviceMetrics()[i].source;
        if (s == Source::CounterReset || s == Source::StatusReset) Set(i, 0);
    }
}

void DeviceValues::Set(size_t metric, uint64_t number) {
    values_[metric].known = true;
    values_[metric].number = number;
}

void DeviceValues::Identification(const kv618::Identification& id, uint8_t address) {
    std::string name = id.Name();
    while (!name.empty() && name.back() == ' ') name.pop_back();
    for (size_t i = 0; i < values_.size(); ++i) {
        Value& v = values_[i];
        switch (DeviceMetrics()[i].source) {
            case Source::Name: v = {true, 0, name}; break;
            case Source::Version: v = {true, 0, id.Version()}; break;
            case Source::Text: v = {true, 0, id.Text()}; break;
            case Source::Address: Set(i, address); break;
            default: break;
        }
    }
}

void DeviceValues::Inputs(uint32_t inputs) {
    static const MetricRange range = RangeOf(Source::Input);
    for (size_t i = range.first; i < range.last; ++i) Set(i, (inputs >> DeviceMetrics()[i].bit) & 1);
}

void DeviceValues::Status(uint32_t status) {
    static const MetricRange range = RangeOf(Source::StatusBit);
    for (size_t i = range.first; i < range.last; ++i) Set(i, (status & DeviceMetrics()[i].bit) != 0);
}

void DeviceValues::Counters(const kv618::CounterTable& values) {
    static const MetricRange range = RangeOf(Source::Quantity);
    for (size_t i = range.first; i < range.last; ++i) {
        const DeviceMetric& m = DeviceMetrics()[i];
        Set(i, values[m.counter][m.quantity]);
    }
}

void DeviceValues::Outputs(std::optional<uint32_t> outputs) {
    static const MetricRange range = RangeOf(Source::Output, Source::OutputsValue);
    for (size_t i = range.first; i < range.last; ++i) {
        const DeviceMetric& m = DeviceMetrics()[i];
        if (!outputs) values_[i] = {};
        else Set(i, m.source == Source::Output ? (*outputs >> m.bit) & 1 : *outputs);
    }
}

void DeviceValues::ForgetReadings() {
    for (size_t i = 0; i < values_.size(); ++i) {
        const Source s = DeviceMetrics()[i].source;
        if (s == Source::Input || s == Source::StatusBit || s == Source::Quantity || s == Source::Output ||
            s == Source::OutputsValue)
            values_[i] = {};
    }
}

void AddMetric(spb::Payload& payload, size_t device, size_t metric, const Value& value, bool birth, uint64_t time) {
    const DeviceMetric& m = DeviceMetrics()[metric];
    spb::Payload::Metric& out = *payload.add_metrics();
    out.set_alias(AliasOf(device, metric));
    out.set_timestamp(time);
    if (birth) {
        out.set_name(m.name);
        out.set_datatype(m.datatype);
        if (m.unit) {
            spb::Payload::PropertySet& properties = *out.mutable_properties();
            properties.add_keys("engUnit");
            spb::Payload::PropertyValue& unit = *properties.add_values();
            unit.set_type(spb::String);
            unit.set_string_value(m.unit);
        }
    }
    if (!value.known) {
        out.set_is_null(true);
        return;
    }
    switch (m.datatype) {
        case spb::Boolean: out.set_boolean_value(value.number != 0); break;
        case spb::String: out.set_string_value(value.text); break;
        case spb::UInt64: out.set_long_value(value.number); break;
        default: out.set_int_value(static_cast<uint32_t>(value.number)); break;  // UInt8
    }
}

}  // namespace kvbridge::sparkplug
