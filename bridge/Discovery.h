// Home Assistant's MQTT discovery for the JSON topics: for each module, the
// retained configurations under <prefix>/<component>/<node>/<object>/config
// that make it one device with its inputs and status bits (binary sensors),
// its counters (sensors), and, where commands are enabled, its outputs
// (switches) and resets (buttons); kv618/<module>/online is its availability.
//
// The ids in those topics and in the entities' unique ids are the names with
// what Home Assistant does not take ("." of a module's name) as "_": two
// modules whose names give one id are refused, since they would share every
// entity.  Each module's session also keeps, retained under
// kv618/<module>/discovery, the node's id and the topics it announced, so
// that a later start clears what the bridge announces no more: the
// configurations of a module removed from the file, or of a command no
// longer enabled.
#pragma once

#include "Config.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvbridge {

// (topic, JSON payload) of every configuration of module `module`.
std::vector<std::pair<std::string, std::string>> DiscoveryConfigs(const Config& config, size_t module);

// "FILE:LINE: ..." naming both modules when two names give one id; nothing
// when discovery is off or every id is a module's own.
std::optional<std::string> SharedDiscoveryId(const Config& config, const std::string& fileName);

// What the bridge announces now, for the clearing of what it announced before.
struct Announced {
    std::string node;                                 // its node id
    std::map<std::string, std::set<std::string>> of;  // module -> its configurations' topics
};
Announced AnnouncedBy(const Config& config);

// kv618/<module>/discovery and its retained payload.
std::string DiscoveryIndexTopic(const std::string& module);
std::string DiscoveryIndex(const Announced& announced, const std::string& module);
// The topics that an index (its topic and payload, as the broker keeps it)
// names and the bridge announces no more, to be cleared with an empty
// retained message: a module of this file's, its configurations it has no
// more; a module that is not in the file, all of them and the index itself,
// when the index is this bridge's (its node id).
std::vector<std::string> Withdrawn(const Announced& now, std::string_view topic, std::string_view payload);

}  // namespace kvbridge
