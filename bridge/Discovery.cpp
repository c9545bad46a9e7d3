#include "Discovery.h"

#include "Messages.h"
#include "Payloads.h"
#include "Quantities.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

namespace kvbridge {

namespace {

using nlohmann::json;

// What Home Assistant knows of the counter quantities, in the order of
// kv618::QuantityNames, whose keys and units the counters' payload has.
struct QuantitySensor {
    const char* title;        // in the entity's name
    const char* deviceClass;  // or nullptr
    const char* stateClass;
};
constexpr QuantitySensor QuantitySensors[] = {
    {"pulses", nullptr, "total_increasing"},
    {"consumption", "energy", "total_increasing"},
    {"power", "power", "measurement"},
    {"period", "duration", "measurement"},
    {"power (10 s)", "power", "measurement"},
};
static_assert(std::size(QuantitySensors) == kv618::QuantityNames.size());

struct StatusBit {
    const char* key;
    const char* title;
    const char* deviceClass;
};
constexpr StatusBit StatusBits[] = {
    {"FN", "damaged frame (FN)", "problem"},  {"PRF", "power failure (PRF)", "problem"},
    {"PWR", "powered up (PWR)", nullptr},     {"RST", "counter reset (RST)", nullptr},
    {"ERR24", "24 V supply failed (ERR24)", "problem"},
};

// Object ids and node ids take letters, digits, _ and -.
std::string IdOf(std::string text) {
    for (char& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
    return text;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> DiscoveryConfigs(const Config& config, size_t index) {
    const ModuleConfig& module = config.modules[index];
    const std::string node = IdOf(config.broker.clientId);
    const std::string id = IdOf(module.name);
    const json device = {{"identifiers", json::array({node + "_" + id})},
                         {"name", module.name},
                         {"model", "KV-618"}};
    std::vector<std::pair<std::string, std::string>> configs;
    const auto add = [&](const char* component, const std::string& object, const std::string& name, json entity) {
        entity["name"] = name;
        entity["unique_id"] = node + "_" + id + "_" + object;
        entity["device"] = device;
        entity["availability_topic"] = Topic(module.name, topic::Online);
        entity["payload_available"] = OnlinePayload(true);
        entity["payload_not_available"] = OnlinePayload(false);
        configs.emplace_back(config.broker.discoveryPrefix + "/" + component + "/" + node + "/" + id + "_" + object +
                                 "/config",
                             entity.dump());
    };

    for (int bit = 0; bit < 32; ++bit) {
        const std::string din = "DIN" + std::to_string(bit);
        add("binary_sensor", "din" + std::to_string(bit), din,
            {{"state_topic", Topic(module.name, topic::Inputs)},
             {"value_template", "{{ 'ON' if value_json.bits[" + std::to_string(bit) + "] == 1 else 'OFF' }}"},
             {"payload_on", "ON"},
             {"payload_off", "OFF"}});
    }
    for (const StatusBit& s : StatusBits) {
        json entity = {{"state_topic", Topic(module.name, topic::Status)},
                       {"value_template", std::string("{{ 'ON' if value_json.") + s.key + " else 'OFF' }}"},
                       {"payload_on", "ON"},
                       {"payload_off", "OFF"},
                       {"entity_category", "diagnostic"}};
        if (s.deviceClass) entity["device_class"] = s.deviceClass;
        add("binary_sensor", std::string("status_") + s.key, std::string("status ") + s.title, entity);
    }
    for (int counter = 0; counter < wire::CounterCount; ++counter)
        for (size_t i = 0; i < kv618::QuantityNames.size(); ++i) {
            const kv618::QuantityName& name = kv618::QuantityNames[i];
            const QuantitySensor& q = QuantitySensors[i];
            json entity = {{"state_topic", Topic(module.name, topic::Counters)},
                           {"value_template",
                            "{{ value_json.counters[" + std::to_string(counter) + "]." + name.key + " }}"},
                           {"state_class", q.stateClass}};
            if (*name.unit) entity["unit_of_measurement"] = name.unit;
            if (q.deviceClass) entity["device_class"] = q.deviceClass;
            add("sensor", "counter" + std::to_string(counter) + "_" + name.key,
                "counter " + std::to_string(counter) + " " + q.title, entity);
        }
    if (module.commands.setOutputs)
        for (int bit = 0; bit < 32; ++bit) {
            const std::string dout = "DOUT" + std::to_string(bit);
            // The outputs cannot be read back: the state is what the bridge wrote.
            add("switch", "dout" + std::to_string(bit), dout,
                {{"command_topic", Topic(module.name, std::string("set/") + dout)},
                 {"payload_on", "ON"},
                 {"payload_off", "OFF"},
                 {"state_topic", Topic(module.name, topic::Outputs)},
                 {"value_template", "{{ 'ON' if value_json.bits[" + std::to_string(bit) + "] == 1 else 'OFF' }}"},
                 {"state_on", "ON"},
                 {"state_off", "OFF"}});
        }
    if (module.commands.resetCounters)
        for (int counter = 0; counter < wire::CounterCount; ++counter)
            add("button", "reset_counter" + std::to_string(counter), "reset counter " + std::to_string(counter),
                {{"command_topic", Topic(module.name, topic::ResetCounters)},
                 {"payload_press", std::to_string(counter)}});
    if (module.commands.resetStatus)
        add("button", "reset_status", "reset status register",
            {{"command_topic", Topic(module.name, topic::ResetStatus)}, {"payload_press", "true"}});
    return configs;
}

std::optional<std::string> SharedDiscoveryId(const Config& config, const std::string& fileName) {
    if (!config.broker.homeAssistant) return std::nullopt;
    std::map<std::string, const ModuleConfig*> byId;
    for (const ModuleConfig& m : config.modules) {
        const auto [first, fresh] = byId.emplace(IdOf(m.name), &m);
        if (fresh) continue;
        return fileName + ":" + std::to_string(m.line) + ": " +
               i18n::Fill(_("module %s and module %s (line %s) would be one device with the same entities in Home "
                            "Assistant (id %s: its ids take \"_\" for \".\"); rename one of them"),
                          m.name, first->second->name, first->second->line, first->first);
    }
    return std::nullopt;
}

Announced AnnouncedBy(const Config& config) {
    Announced announced{IdOf(config.broker.clientId), {}};
    for (size_t i = 0; i < config.modules.size(); ++i) {
        auto& topics = announced.of[config.modules[i].name];
        for (const auto& [topic, payload] : DiscoveryConfigs(config, i)) topics.insert(topic);
    }
    return announced;
}

std::string DiscoveryIndexTopic(const std::string& module) { return Topic(module, "discovery"); }

std::string DiscoveryIndex(const Announced& announced, const std::string& module) {
    const auto found = announced.of.find(module);
    const json configs = found == announced.of.end() ? json::array() : json(found->second);
    return json{{"node", announced.node}, {"configs", configs}}.dump();
}

std::vector<std::string> Withdrawn(const Announced& now, std::string_view topic, std::string_view payload) {
    const std::string root = std::string(topic::Root) + "/", index = "/discovery";
    if (payload.empty() || topic.size() <= root.size() + index.size() || topic.substr(0, root.size()) != root ||
        topic.substr(topic.size() - index.size()) != index)
        return {};
    const std::string module(topic.substr(root.size(), topic.size() - root.size() - index.size()));
    const json j = json::parse(payload, nullptr, false);
    if (!j.is_object() || !j.contains("node") || !j["node"].is_string() || !j.contains("configs") ||
        !j["configs"].is_array())
        return {};
    const auto current = now.of.find(module);
    const bool removed = current == now.of.end();
    if (removed && j["node"] != now.node) return {};  // another bridge's module
    std::vector<std::string> gone;
    for (const json& config : j["configs"]) {
        // Only what can be a discovery configuration's topic is ever cleared.
        if (!config.is_string()) continue;
        const std::string t = config.get<std::string>();
        if (t.size() < 8 || t.substr(t.size() - 7) != "/config" || t.find_first_of("+#") != std::string::npos)
            continue;
        if (removed || !current->second.count(t)) gone.push_back(t);
    }
    if (removed) gone.push_back(std::string(topic));
    return gone;
}

}  // namespace kvbridge
