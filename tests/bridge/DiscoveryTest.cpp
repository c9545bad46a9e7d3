// Home Assistant discovery with the JSON topics: every configuration holds
// only the keys its component documents, with the ones it requires; the
// bridge keeps them retained on the broker, refuses names that would share
// them, and clears what it announces no more.
#include "Config.h"
#include "Discovery.h"
#include "Emulator.h"
#include "Command.h"
#include "Dekl.h"
#include "Mqtt.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <set>
#include <thread>

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
            if (j.value("device_class", "") == "power") {
                EXPECT_EQ(j["unit_of_measurement"], "W");
            }
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

// Two names that give one id ("." becomes "_") would share every entity and
// the device: refused by --check and at start, with both lines named.
TEST(Discovery, NamesThatGiveOneIdAreRefusedNamingBothLines) {
    kvtest::TemporaryFolder folder("kv618-discovery");
    const std::string path = folder.path() + "/bridge.conf";
    std::ofstream(path) << "[broker]\nhost = 127.0.0.1\nport = 1\nhomeassistant discovery = yes\n"
                        << "[module hall.1]\n" << Lan << "5000\nAdresa = 1\n"
                        << "[module hall_1]\n" << Lan << "5000\nAdresa = 2\n";
    const std::string wanted = path + ":10: module hall_1 and module hall.1 (line 5)";
    const auto [status, out] = kvtest::RunShell(SlozkaProgramu() + "/kv618 bridge --check --config " + path);
    EXPECT_EQ(status, 78) << out;
    EXPECT_NE(out.find(wanted), std::string::npos) << out;
    kvtest::BridgeProcess bridge(kvtest::ReadFile(path));
    EXPECT_EQ(bridge.waitExit(15s), 78) << bridge.log();
    EXPECT_NE(bridge.log().find("module hall_1 and module hall.1 (line 5)"), std::string::npos) << bridge.log();
}

// What the bridge announced and announces no more (a module removed from
// the file, the switches of outputs no longer commanded) is cleared from the
// broker at the next start; what it still announces stays.
TEST(Discovery, WhatIsAnnouncedNoMoreIsClearedAtTheNextStart) {
    kvtest::Emulator emulator(kvtest::ModulesOnLine({"1", "2"}));
    kvtest::Broker broker;
    kvtest::MqttClient client(broker.port(), "homeassistant/#");
    const std::string head = "[broker]\nhost = 127.0.0.1\nport = " + std::to_string(broker.port()) +
                             "\nclient id = hall1\nhomeassistant discovery = yes\n[module kotelna]\n" + Lan +
                             std::to_string(emulator.udpPort()) + "\nAdresa = 1\n";
    const std::string sklad = "homeassistant/binary_sensor/hall1/sklad_din0/config";
    const std::string kotelnaSwitch = "homeassistant/switch/hall1/kotelna_dout3/config";
    const auto announced = [&](const std::string& topic, size_t from = 0) {
        return client.waitOn(topic, [](const std::string& p) { return !p.empty(); }, 15s, from);
    };
    {
        kvtest::BridgeProcess before(head + "commands = outputs\n[module sklad]\n" + Lan +
                                     std::to_string(emulator.udpPort()) + "\nAdresa = 2\n");
        ASSERT_TRUE(announced(sklad)) << before.log();
        ASSERT_TRUE(announced(kotelnaSwitch)) << before.log();
        // Its index is on the broker once its session is there.
        kvtest::MqttClient index(broker.port(), "kv618/+/discovery");
        ASSERT_TRUE(index.waitOn("kv618/sklad/discovery", [](const std::string& p) { return !p.empty(); }, 15s))
            << before.log();
        ASSERT_EQ(before.terminate(), 0) << before.log();
    }
    const size_t from = client.count();
    kvtest::BridgeProcess after(head);
    const auto cleared = [&](const std::string& topic) {
        return client.waitOn(topic, [](const std::string& p) { return p.empty(); }, 15s, from);
    };
    EXPECT_TRUE(cleared(sklad)) << after.log();
    EXPECT_TRUE(cleared(kotelnaSwitch)) << after.log();
    ASSERT_TRUE(announced("homeassistant/binary_sensor/hall1/kotelna_din0/config", from)) << after.log();
    // A subscriber that comes now finds only what is announced, and the
    // removed module's index is gone with its configurations (its own
    // retained values, online = false the last, stay as the JSON topics keep them).
    std::this_thread::sleep_for(1s);
    kvtest::MqttClient late(broker.port(), "homeassistant/#");
    kvtest::MqttClient lateIndex(broker.port(), "kv618/+/discovery");
    ASSERT_TRUE(late.waitOn("homeassistant/binary_sensor/hall1/kotelna_din0/config",
                            [](const std::string&) { return true; }, 15s));
    ASSERT_TRUE(lateIndex.waitOn("kv618/kotelna/discovery", [](const std::string&) { return true; }, 15s));
    std::this_thread::sleep_for(500ms);
    for (const auto& m : late.messages()) {
        EXPECT_EQ(m.topic.find("sklad"), std::string::npos) << m.topic;
        EXPECT_EQ(m.topic.find("/switch/"), std::string::npos) << m.topic;
    }
    for (const auto& m : lateIndex.messages()) EXPECT_EQ(m.topic, "kv618/kotelna/discovery");
}

}  // namespace
