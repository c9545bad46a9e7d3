// A module as a Sparkplug device: its metrics, one table with their names,
// datatypes, engineering units and aliases, and its values as the node knows
// them.  Every module has the same table; the writable metrics appear where
// the module's `commands` enable them.
#pragma once

#include "Config.h"
#include "Payloads.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvbridge::spb {
class Payload;
class Payload_Metric;
}  // namespace kvbridge::spb

namespace kvbridge::sparkplug {

using Metric = spb::Payload_Metric;

// Aliases of the node's own metrics.
inline constexpr uint64_t BdSeqAlias = 1;
inline constexpr uint64_t RebirthAlias = 2;
inline constexpr uint64_t VersionAlias = 3;
inline constexpr const char* BdSeqName = "bdSeq";
inline constexpr const char* RebirthName = "Node Control/Rebirth";
inline constexpr const char* VersionName = "Properties/Version";

// What a device metric shows.
enum class Source : uint8_t {
    Name, Version, Text, Address,  // identification
    Input,                         // DIN<bit>
    StatusBit,                     // Status/<bit>, `bit` a mask
    Quantity,                      // Counters/<counter>/<quantity>
    Output,                        // Outputs/DOUT<bit>, writable
    OutputsValue,                  // Outputs/Value, writable
    CounterReset,                  // Counters/<counter>/Reset, writable
    StatusReset,                   // Status/Reset, writable
};

struct DeviceMetric {
    std::string name;
    uint32_t datatype;     // spb::DataType
    const char* unit;      // engineering unit, or nullptr
    Source source;
    uint32_t bit = 0;      // Input, Output: the bit's number; StatusBit: its mask
    int counter = 0;       // Quantity, CounterReset
    int quantity = 0;      // Quantity: index in wire::Quantities
};

// Every metric a device may have, in alias order; the metrics of one source
// stand together.
const std::vector<DeviceMetric>& DeviceMetrics();

// The metrics [first, last) of the table that one reading sets.
struct MetricRange {
    size_t first = 0, last = 0;
};
MetricRange RangeOf(Source first, Source last);
inline MetricRange RangeOf(Source source) { return RangeOf(source, source); }
// The metric of that name, or nothing.
std::optional<size_t> MetricNamed(const std::string& name);

// Aliases are unique within the node: each device has a block of its own.
uint64_t AliasOf(size_t device, size_t metric);
// The device and metric of an alias, or nothing.
std::optional<std::pair<size_t, size_t>> MetricOfAlias(uint64_t alias);

bool Writable(const DeviceMetric& m);
// Whether the module's `commands` enable this writable metric (always false
// for the others).
bool Enabled(const DeviceMetric& m, const Commands& commands);

// One value of a metric as the node knows it; unknown until read.
struct Value {
    bool known = false;
    uint64_t number = 0;
    std::string text;
    bool operator==(const Value&) const = default;
};

// The current values of one device, indexed as DeviceMetrics().
class DeviceValues {
public:
    DeviceValues();
    void Identification(const kv618::Identification& id, uint8_t address);
    void Inputs(uint32_t inputs);
    void Status(uint32_t status);
    void Counters(const kv618::CounterTable& values);
    void Outputs(std::optional<uint32_t> outputs);
    // Forgets what was read: a module that comes back is read anew.
    void ForgetReadings();
    const Value& operator[](size_t metric) const { return values_[metric]; }
    void Set(size_t metric, const Value& value) { values_[metric] = value; }
    size_t size() const { return values_.size(); }

private:
    void Set(size_t metric, uint64_t number);
    std::vector<Value> values_;
};

// Adds to `payload` the metric `metric` of `device` with `value`: in a birth
// with its name, datatype and unit, in data with its alias and value alone.
void AddMetric(spb::Payload& payload, size_t device, size_t metric, const Value& value, bool birth, uint64_t time);

}  // namespace kvbridge::sparkplug
