// Home Assistant discovery with the JSON topics: every configuration holds
// only the keys its component documents, with the ones it requires, and the
// bridge keeps them retained on the broker.
#include "Config.h"
#include "Discovery.h"
#include "Emulator.h"
#include "Mqtt.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string Lan = "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = ";

// Keys documented for every MQTT entity, and per component.
const std::set<std::string> Common = {"name", "unique_id", "device", "availability_topic", "payload_available",
                                      "payload_not_available", "entity_category", "device_class", "icon", "qos"};
const std::map<std::string, std::set<std::string>> Documented = {
    {"binary_sensor", {"state_topic", "value_template", "payload_on", "payload_off", "expire_after", "off_delay"}},
    {"sensor", {"state_topic", "value_template", "unit_of_measurement", "state_class", "expire_after"}},
    {"switch", {"command_topic", "state_topic", "value_template", "payload_on", "payload_off", "state_on",
                "state_off", "optimistic", "retain"}},
    {"button", {"command_topic", "payload_press", "retain"}},
};
const std::map<std::string, std::string> Required = {
    {"binary_sensor", "state_topic"}, {"sensor", "state_topic"}, {"switch", "command_topic"}, {"button", "command_topic"}};
const std::set<std::string> DeviceKeys = {"identifiers", "name", "model", "manufacturer", "sw_version", "via_device"};

kvbridge::Config Parsed(const std::string& text) {
    auto parsed = kvbridge::ParseConfig(text, "bridge.conf");
    if (!parsed.ok()) throw std::runtime_error(parsed.message());
    return parsed.value();
}

TEST(Discovery, EveryConfigurationHoldsItsComponentsDocumentedKeys) {
    const auto config = Parsed("[broker]\nclient id = hall1\nhomeassistant discovery = yes\n[module kotelna]\n" + Lan +
                               "5000\nAdresa = 1\ncommands = all\n[module sklad]\n" + Lan + "5000\nAdresa = 2\n");
    std::map<std::string, int> count;
    std::set<std::string> uniqueIds;
    for (size_t m = 0; m < 2; ++m)
        for (const auto& [topic, payload] : kvbridge::DiscoveryConfigs(config, m)) {
            // homeassistant/<component>/<node id>/<object id>/config
            ASSERT_EQ(topic.rfind("homeassistant/", 0), 0u) << topic;
            const std::string component = topic.substr(14, topic.find('/', 14) - 14);
            ASSERT_TRUE(Documented.count(component)) << topic;
            EXPECT_EQ(topic.substr(topic.size() - 7), "/config");
            ++count[config.modules[m].name + " " + component];
            const json j = json::parse(payload);
            EXPECT_TRUE(j.contains(Required.at(component))) << payload;
            for (const auto& [key, value] : j.items())
                EXPECT_TRUE(Common.count(key) || Documented.at(component).count(key)) << component << ": " << key;
            for (const auto& [key, value] : j["device"].items()) EXPECT_TRUE(DeviceKeys.count(key)) << key;
            EXPECT_TRUE(uniqueIds.insert(j["unique_id"].get<std::string>()).second) << j["unique_id"];
            EXPECT_EQ(j["availability_topic"], "kv618/" + config.modules[m].name + "/online");
            if (j.value("device_class", "") == "energy") {
                EXPECT_EQ(j["unit_of_measurement"], "Wh");
                EXPECT_EQ(j["state_class"], "total_increasing");
            }
            if (j.value("device_class", "") == "power") EXPECT_EQ(j["unit_of_measurement"], "W");
        }
    EXPECT_EQ(count["kotelna binary_sensor"], 32 + 5);
    EXPECT_EQ(count["kotelna sensor"], 20);
    EXPECT_EQ(count["kotelna switch"], 32);
    EXPECT_EQ(count["kotelna button"], 5);
    // Without commands, nothing to switch or press.
    EXPECT_EQ(count["sklad switch"] + count["sklad button"], 0);
}

// The configurations are retained, and a switch's command sets its output alone.
TEST(Discovery, TheBridgeKeepsThemAndTheSwitchesWork) {
    kvtest::Emulator emulator;
    kvtest::Broker broker;
    kvtest::MqttClient client(broker.port(), "#");
    kvtest::BridgeProcess bridge("[broker]\nhost = 127.0.0.1\nport = " + std::to_string(broker.port()) +
                                 "\nclient id = hall1\nhomeassistant discovery = yes\n[module kotelna]\n" + Lan +
                                 std::to_string(emulator.udpPort()) + "\nAdresa = 1\ncommands = outputs\n");
    const auto config = client.waitOn("homeassistant/switch/hall1/kotelna_dout3/config",
                                      [](const std::string&) { return true; }, 15s);
    ASSERT_TRUE(config) << bridge.log();
    const json sw = json::parse(config->payload);
    ASSERT_TRUE(client.waitOn("kv618/kotelna/online", [](const std::string& p) { return p == "true"; }, 15s));
    kvtest::MqttClient late(broker.port(), "homeassistant/#");
    EXPECT_TRUE(late.waitOn("homeassistant/switch/hall1/kotelna_dout3/config",
                            [](const std::string&) { return true; }, 5s));

    const std::string command = sw["command_topic"];
    // The outputs cannot be read back: a single one is refused until all were written once.
    client.publish(command, "ON");
    EXPECT_TRUE(client.waitOn("kv618/kotelna/error",
                              [](const std::string& p) { return p.find("write all 32 first") != std::string::npos; },
                              15s));
    client.publish("kv618/kotelna/set/outputs", "0x10");
    client.publish(command, sw["payload_on"]);
    const auto state = client.waitOn("kv618/kotelna/outputs",
                                     [](const std::string& p) { return json::parse(p)["value"] == 0x18; }, 15s);
    ASSERT_TRUE(state) << bridge.log();
    EXPECT_EQ(emulator.value("get outputs"), 0x18u);
    // The switch reads its state as Home Assistant's template would: bit 3 of the outputs.
    EXPECT_EQ(json::parse(state->payload)["bits"][3], 1);
}

}  // namespace
