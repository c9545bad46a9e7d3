// The counters' quantities by name and unit: the one vocabulary of kv618's
// watch (its table, CSV columns and JSON keys) and the bridge's payloads.
// docs/bridge.md and kv618's manual page list the same keys.
#pragma once

#include "Commands.h"

#include <array>

namespace kv618 {

struct QuantityName {
    Quantity quantity;
    const char* key;    // JSON key and CSV column: the name with its unit
    const char* unit;   // "" for a count
    const char* label;  // the heading of kv618's table
};

// In the order of kv618::Quantities.
inline constexpr std::array<QuantityName, 5> QuantityNames = {{
    {Quantity::Pulses, "pulses", "", "pulsy"},
    {Quantity::Consumption, "consumption_wh", "Wh", "odběr"},
    {Quantity::Power, "power_w", "W", "výkon"},
    {Quantity::Period, "period_ms", "ms", "perioda"},
    {Quantity::Power10s, "power_10s_w", "W", "výkon10s"},
}};

constexpr bool QuantityNamesFollowTheQuantities() {
    for (size_t i = 0; i < Quantities.size(); ++i)
        if (QuantityNames[i].quantity != Quantities[i]) return false;
    return QuantityNames.size() == Quantities.size();
}
static_assert(QuantityNamesFollowTheQuantities());

}  // namespace kv618
