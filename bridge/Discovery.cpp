#include "Discovery.h"

#include "Payloads.h"
#include "Quantities.h"

#include <nlohmann/json.hpp>

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
    for (int counter = 0; counter < kv618::CounterCount; ++counter)
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
        for (int counter = 0; counter < kv618::CounterCount; ++counter)
            add("button", "reset_counter" + std::to_string(counter), "reset counter " + std::to_string(counter),
                {{"command_topic", Topic(module.name, topic::ResetCounters)},
                 {"payload_press", std::to_string(counter)}});
    if (module.commands.resetStatus)
        add("button", "reset_status", "reset status register",
            {{"command_topic", Topic(module.name, topic::ResetStatus)}, {"payload_press", "true"}});
    return configs;
}

}  // namespace kvbridge
