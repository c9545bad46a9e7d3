// The counters' quantities by name and unit: the one vocabulary of kv618's
// watch (its table, CSV columns and JSON keys) and the bridge's payloads.
// docs/quantities.md lists them, once for kv618 and the bridge.
#pragma once

#include "Commands.h"

#include <array>
#include <cstdint>

namespace kv618 {

struct QuantityName {
    wire::Quantity quantity;
    const char* key;    // JSON key and CSV column: the name with its unit
    const char* unit;   // "" for a count
    const char* label;  // the heading of kv618's table, in English (its catalogue translates it)
};

// In the order of wire::Quantities.
inline constexpr std::array<QuantityName, 5> QuantityNames = {{
    {wire::Quantity::Pulses, "pulses", "", "pulses"},
    {wire::Quantity::Consumption, "consumption_wh", "Wh", "consumption"},
    {wire::Quantity::Power, "power_w", "W", "power"},
    {wire::Quantity::Period, "period_ms", "ms", "period"},
    {wire::Quantity::Power10s, "power_10s_w", "W", "power10s"},
}};

constexpr bool QuantityNamesFollowTheQuantities() {
    for (size_t i = 0; i < wire::Quantities.size(); ++i)
        if (QuantityNames[i].quantity != wire::Quantities[i]) return false;
    return QuantityNames.size() == wire::Quantities.size();
}
static_assert(QuantityNamesFollowTheQuantities());

// The twenty counter quantities, by counter and in the order of wire::Quantities:
// one table as kv618's watch and the bridge read it.
using CounterTable = std::array<std::array<uint32_t, wire::Quantities.size()>, wire::CounterCount>;

}  // namespace kv618
