// The counters' quantities by name and unit: the one vocabulary of kv618's
// watch (its table, CSV columns and JSON keys) and the bridge's payloads.
// docs/quantities.md lists them, once for kv618 and the bridge.
#pragma once

#include "Commands.h"

#include <array>
#include <cstdint>

namespace kv618 {

struct QuantityName {
    Quantity quantity;
    const char* key;    // JSON key and CSV column: the name with its unit
    const char* unit;   // "" for a count
    const char* label;  // the heading of kv618's table, in English (its catalogue translates it)
};

// In the order of kv618::Quantities.
inline constexpr std::array<QuantityName, 5> QuantityNames = {{
    {Quantity::Pulses, "pulses", "", "pulses"},
    {Quantity::Consumption, "consumption_wh", "Wh", "consumption"},
    {Quantity::Power, "power_w", "W", "power"},
    {Quantity::Period, "period_ms", "ms", "period"},
    {Quantity::Power10s, "power_10s_w", "W", "power10s"},
}};

constexpr bool QuantityNamesFollowTheQuantities() {
    for (size_t i = 0; i < Quantities.size(); ++i)
        if (QuantityNames[i].quantity != Quantities[i]) return false;
    return QuantityNames.size() == Quantities.size();
}
static_assert(QuantityNamesFollowTheQuantities());

// The twenty counter quantities, by counter and in the order of kv618::Quantities:
// one table as kv618's watch and the bridge read it.
using CounterTable = std::array<std::array<uint32_t, Quantities.size()>, CounterCount>;

}  // namespace kv618
