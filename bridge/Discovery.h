// Home Assistant's MQTT discovery for the JSON topics: for each module, the
// retained configurations under <prefix>/<component>/<node>/<object>/config
// that make it one device with its inputs and status bits (binary sensors),
// its counters (sensors), and, where commands are enabled, its outputs
// (switches) and resets (buttons); kv618/<module>/online is its availability.
#pragma once

#include "Config.h"

#include <string>
#include <utility>
#include <vector>

namespace kvbridge {

// (topic, JSON payload) of every configuration of module `module`.
std::vector<std::pair<std::string, std::string>> DiscoveryConfigs(const Config& config, size_t module);

}  // namespace kvbridge
