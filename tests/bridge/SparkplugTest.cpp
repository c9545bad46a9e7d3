// The bridge as a Sparkplug B edge node against a real mosquitto on
// 127.0.0.1 and the emulator's bus: every message decoded with the bridge's
// own generated decoder, as a host application would.
#include "Emulator.h"
#include "Mqtt.h"
#include "Sparkplug.h"
#include "TestFiles.h"
#include "sparkplug_b.pb.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using kvbridge::spb::Payload;
using kvtest::Clock;

constexpr auto Patience = 15s;
const std::string Node = "spBv1.0/plant/NBIRTH/hall1";

// A message's topic levels: spBv1.0/<group>/<type>/<node>[/<device>].
struct Sp {
    std::string type, device;
    Payload payload;
    size_t index;  // among the client's messages
};

std::optional<Sp> Decode(const kvtest::Message& m, size_t index) {
    std::vector<std::string> levels;
    std::stringstream in(m.topic);
    for (std::string level; std::getline(in, level, '/');) levels.push_back(level);
    if (levels.size() < 4 || levels[0] != "spBv1.0" || levels[1] != "plant" || levels[3] != "hall1")
        return std::nullopt;
    Sp sp{levels[2], levels.size() > 4 ? levels[4] : "", {}, index};
    if (!sp.payload.ParseFromString(m.payload)) return std::nullopt;
    return sp;
}

// A numeric metric's value: UInt8 in int_value, the 32-bit values as UInt64 in long_value.
uint64_t Number(const Payload::Metric& m) { return m.has_long_value() ? m.long_value() : m.int_value(); }

const Payload::Metric* Named(const Payload& p, const std::string& name) {
    for (const auto& m : p.metrics())
        if (m.name() == name) return &m;
    return nullptr;
}

class SparkplugTest : public ::testing::Test {
protected:
    SparkplugTest() : emulator(kvtest::ModulesOnLine({"1", "2"})) {}

    std::string Config(const std::string& broker = "", const std::string& alpha = "",
                       const std::string& beta = "") const {
        std::ostringstream c;
        c << "[broker]\nhost = 127.0.0.1\nport = " << broker_.port()
          << "\nclient id = test\npayload = sparkplug\ngroup id = plant\nedge node id = hall1\n" << broker;
        const std::string lan = "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = " +
                                std::to_string(emulator.udpPort()) + "\nUDP timeout = 50\nretry = 300 ms\n";
        c << "[module alpha]\n" << lan << "Adresa = 1\ncounters = 300 ms\n" << alpha;
        c << "[module beta]\n" << lan << "Adresa = 2\n" << beta;
        return c.str();
    }

    // Every Sparkplug message of the node so far, in order.
    std::vector<Sp> All(size_t from = 0) const {
        std::vector<Sp> all;
        const auto messages = client.messages();
        for (size_t i = from; i < messages.size(); ++i)
            if (auto sp = Decode(messages[i], i)) all.push_back(std::move(*sp));
        return all;
    }

    std::optional<Sp> Wait(const std::string& type, const std::string& device, size_t from = 0,
                           const std::function<bool(const Payload&)>& match = {},
                           Clock::duration timeout = Patience) {
        std::optional<Sp> found;
        client.waitFor(
            [&](const kvtest::Message& m) {
                auto sp = Decode(m, 0);
                if (!sp || sp->type != type || sp->device != device || (match && !match(sp->payload))) return false;
                found = std::move(sp);
                return true;
            },
            timeout, from);
        return found;
    }

    static uint64_t BdSeq(const Payload& p) {
        const auto* m = Named(p, "bdSeq");
        return m ? m->long_value() : 999;
    }

    // A command as a host sends it: its metrics by name, without seq.
    void Command(const std::string& topic, const std::function<void(Payload&)>& fill) {
        Payload p;
        p.set_timestamp(1);
        fill(p);
        client.publish(topic, p.SerializeAsString());
    }

    uint32_t Eventually(const std::string& command, uint32_t wanted) {
        const auto deadline = Clock::now() + Patience;
        while (emulator.value(command) != wanted && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
        return emulator.value(command);
    }

    kvtest::Emulator emulator;
    kvtest::Broker broker_;
    kvtest::MqttClient client{broker_.port(), "spBv1.0/#"};
};

// The whole conversation of a run: births before data, one seq, aliases
// resolving, units and types in the births, and the death matching the birth.
TEST_F(SparkplugTest, BirthsComeFirstSeqRunsOnAndTheDeathMatchesTheBirth) {
    emulator.command("at 1 set counter 2 77");
    kvtest::BridgeProcess bridge(Config());
    ASSERT_TRUE(Wait("DBIRTH", "alpha")) << bridge.log();
    ASSERT_TRUE(Wait("DBIRTH", "beta")) << bridge.log();
    emulator.command("at 1 set inputs 0x5");
    const uint32_t inputs = emulator.value("at 1 get inputs");
    ASSERT_TRUE(Wait("DDATA", "alpha", 0, [](const Payload& p) { return p.metrics_size() > 0; }));
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(bridge.terminate(), 0) << bridge.log();
    ASSERT_TRUE(Wait("NDEATH", ""));

    const auto all = All();
    ASSERT_GE(all.size(), 4u);
    ASSERT_EQ(all.front().type, "NBIRTH");
    EXPECT_EQ(all.front().payload.seq(), 0u);
    const uint64_t bdSeq = BdSeq(all.front().payload);
    const auto* rebirth = Named(all.front().payload, "Node Control/Rebirth");
    ASSERT_TRUE(rebirth);
    EXPECT_FALSE(rebirth->boolean_value());

    std::map<uint64_t, std::string> names;         // alias -> name, from the births
    std::map<std::string, std::map<std::string, uint64_t>> value;  // device -> name -> last value
    std::map<std::string, bool> born;
    uint64_t seq = 0;
    for (size_t i = 1; i < all.size(); ++i) {
        const Sp& sp = all[i];
        if (sp.type == "NDEATH") {
            EXPECT_FALSE(sp.payload.has_seq());
            EXPECT_EQ(BdSeq(sp.payload), bdSeq);
            continue;
        }
        seq = (seq + 1) % 256;
        EXPECT_EQ(sp.payload.seq(), seq) << sp.type << " " << sp.device;
        EXPECT_GT(sp.payload.timestamp(), 1700000000000u);
        if (sp.type == "DBIRTH") {
            born[sp.device] = true;
            for (const auto& m : sp.payload.metrics()) {
                ASSERT_TRUE(m.has_name() && m.has_alias() && m.has_datatype());
                EXPECT_TRUE(names.emplace(m.alias(), sp.device + ":" + m.name()).second) << "alias reused " << m.alias();
                // What was read before the birth is in it; only later changes come as data.
                if (!m.is_null()) value[sp.device][m.name()] = m.has_boolean_value() ? m.boolean_value() : Number(m);
            }
            const auto* consumption = Named(sp.payload, "Counters/0/Consumption");
            ASSERT_TRUE(consumption);
            EXPECT_EQ(consumption->datatype(), 8u);  // UInt64, which every host reads from long_value
            ASSERT_EQ(consumption->properties().keys_size(), 1);
            EXPECT_EQ(consumption->properties().keys(0), "engUnit");
            EXPECT_EQ(consumption->properties().values(0).string_value(), "Wh");
            EXPECT_EQ(Named(sp.payload, "Inputs/DIN31")->datatype(), 11u);  // Boolean
            // Without commands, nothing is writable.
            EXPECT_FALSE(Named(sp.payload, "Outputs/Value"));
        } else if (sp.type == "DDATA") {
            EXPECT_TRUE(born[sp.device]) << "data before the birth of " << sp.device;
            for (const auto& m : sp.payload.metrics()) {
                EXPECT_FALSE(m.has_name());
                const auto name = names.find(m.alias());
                ASSERT_NE(name, names.end()) << "alias " << m.alias() << " in no birth";
                ASSERT_EQ(name->second.rfind(sp.device + ":", 0), 0u) << name->second;
                value[sp.device][name->second.substr(sp.device.size() + 1)] =
                    m.has_boolean_value() ? m.boolean_value() : Number(m);
            }
        } else {
            ADD_FAILURE() << "unexpected " << sp.type;
        }
    }
    for (int bit = 0; bit < 3; ++bit)
        EXPECT_EQ(value["alpha"]["Inputs/DIN" + std::to_string(bit)], (inputs >> bit) & 1) << bit;
    EXPECT_EQ(value["alpha"]["Counters/2/Pulses"], 77u);
}

TEST_F(SparkplugTest, ASilentModuleDiesAndIsBornAgainWhenItAnswers) {
    kvtest::BridgeProcess bridge(Config());
    ASSERT_TRUE(Wait("DBIRTH", "beta")) << bridge.log();
    size_t from = client.count();
    emulator.command("at 2 fault drop 100");
    ASSERT_TRUE(Wait("DDEATH", "beta", from)) << bridge.log();
    from = client.count();
    emulator.command("at 2 fault clear");
    const auto birth = Wait("DBIRTH", "beta", from);
    ASSERT_TRUE(birth) << bridge.log();
    EXPECT_EQ(Named(birth->payload, "Identification/Text")->string_value(), "KV-618   v.1.04");
    // One seq through death and birth: no number skipped or repeated.
    const auto all = All();
    for (size_t i = 1; i < all.size(); ++i) {
        if (all[i].type != "NBIRTH") {
            EXPECT_EQ(all[i].payload.seq(), (all[i - 1].payload.seq() + 1) % 256) << i;
        }
    }
}

TEST_F(SparkplugTest, RebirthOnRequestAndCommandsWhereEnabled) {
    emulator.command("at 1 set counter 1 500");
    kvtest::BridgeProcess bridge(Config("", "commands = outputs, counters\n"));
    const auto first = Wait("DBIRTH", "alpha");
    ASSERT_TRUE(first) << bridge.log();
    ASSERT_TRUE(Wait("DBIRTH", "beta"));
    const uint64_t bdSeq = BdSeq(Wait("NBIRTH", "")->payload);
    ASSERT_TRUE(Named(first->payload, "Outputs/DOUT7"));
    ASSERT_TRUE(Named(first->payload, "Counters/1/Reset"));
    EXPECT_FALSE(Named(first->payload, "Status/Reset"));

    size_t from = client.count();
    Command("spBv1.0/plant/NCMD/hall1", [](Payload& p) {
        auto& m = *p.add_metrics();
        m.set_name("Node Control/Rebirth");
        m.set_datatype(11);
        m.set_boolean_value(true);
    });
    const auto reborn = Wait("NBIRTH", "", from);
    ASSERT_TRUE(reborn) << bridge.log();
    EXPECT_EQ(reborn->payload.seq(), 0u);
    EXPECT_EQ(BdSeq(reborn->payload), bdSeq);
    EXPECT_TRUE(Wait("DBIRTH", "alpha", from));
    EXPECT_TRUE(Wait("DBIRTH", "beta", from));

    // All outputs by alias, as a host that learnt the aliases; then one by name.
    const uint64_t valueAlias = Named(first->payload, "Outputs/Value")->alias();
    Command("spBv1.0/plant/DCMD/hall1/alpha", [&](Payload& p) {
        auto& m = *p.add_metrics();
        m.set_alias(valueAlias);
        m.set_datatype(7);
        m.set_int_value(0xA5);
    });
    EXPECT_EQ(Eventually("at 1 get outputs", 0xA5), 0xA5u);
    Command("spBv1.0/plant/DCMD/hall1/alpha", [](Payload& p) {
        auto& m = *p.add_metrics();
        m.set_name("Outputs/DOUT0");
        m.set_boolean_value(false);
    });
    EXPECT_EQ(Eventually("at 1 get outputs", 0xA4), 0xA4u);
    EXPECT_TRUE(Wait("DDATA", "alpha", from, [&](const Payload& p) {
        for (const auto& m : p.metrics())
            if (m.alias() == valueAlias && m.long_value() == 0xA4) return true;
        return false;
    }));
    Command("spBv1.0/plant/DCMD/hall1/alpha", [](Payload& p) {
        auto& m = *p.add_metrics();
        m.set_name("Counters/1/Reset");
        m.set_boolean_value(true);
    });
    EXPECT_EQ(Eventually("at 1 get counter 1", 0), 0u);

    // Refused: not enabled for beta, not writable, and nothing changes.
    Command("spBv1.0/plant/DCMD/hall1/beta", [](Payload& p) {
        auto& m = *p.add_metrics();
        m.set_name("Outputs/Value");
        m.set_int_value(0x5A);
    });
    Command("spBv1.0/plant/DCMD/hall1/alpha", [](Payload& p) {
        auto& m = *p.add_metrics();
        m.set_name("Inputs/DIN0");
        m.set_boolean_value(true);
    });
    // A retained command is cleared from the broker, never carried out.
    Payload retained;
    auto& value = *retained.add_metrics();
    value.set_name("Outputs/Value");
    value.set_int_value(0xFF);
    client.publish("spBv1.0/plant/DCMD/hall1/alpha", retained.SerializeAsString(), true);
    const auto deadline = Clock::now() + Patience;
    while ((bridge.log().find("Inputs/DIN0 is not writable") == std::string::npos ||
            bridge.log().find("cleared from the broker") == std::string::npos) &&
           Clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(bridge.log().find("module beta: command Outputs/Value = 90 on spBv1.0/plant/DCMD/hall1/beta not "
                                "carried out: writing Outputs/Value is not enabled"),
              std::string::npos)
        << bridge.log();
    EXPECT_NE(bridge.log().find("Inputs/DIN0 is not writable"), std::string::npos) << bridge.log();
    EXPECT_EQ(emulator.value("at 2 get outputs"), 0u);
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0xA4u);
}

TEST_F(SparkplugTest, BirthsWaitForThePrimaryHost) {
    kvtest::BridgeProcess bridge(Config("primary host id = scada\n"));
    std::this_thread::sleep_for(1500ms);
    for (const auto& sp : All()) ADD_FAILURE() << sp.type << " before the host is online";

    const auto state = [&](bool online, uint64_t time) {
        client.publish("spBv1.0/STATE/scada",
                       std::string("{\"online\":") + (online ? "true" : "false") +
                           ",\"timestamp\":" + std::to_string(time) + "}",
                       true);
    };
    state(true, 1000);
    const auto birth = Wait("NBIRTH", "");
    ASSERT_TRUE(birth) << bridge.log();
    ASSERT_TRUE(Wait("DBIRTH", "alpha"));
    ASSERT_TRUE(Wait("DBIRTH", "beta"));
    // The host goes: the node dies; it comes back: the node is born again, with the next bdSeq.
    size_t from = client.count();
    state(false, 2000);
    const auto death = Wait("NDEATH", "", from);
    ASSERT_TRUE(death) << bridge.log();
    EXPECT_EQ(BdSeq(death->payload), BdSeq(birth->payload));
    std::this_thread::sleep_for(1500ms);
    bool dead = false;  // what the node sent before its death may still be on its way
    for (const auto& sp : All(from)) {
        if (dead) ADD_FAILURE() << sp.type << " while the host is offline, bdSeq " << BdSeq(sp.payload);
        dead = dead || sp.type == "NDEATH";
    }
    from = client.count();
    state(true, 3000);
    const auto again = Wait("NBIRTH", "", from);
    ASSERT_TRUE(again) << bridge.log();
    EXPECT_EQ(BdSeq(again->payload), (BdSeq(birth->payload) + 1) % 256);
    EXPECT_TRUE(Wait("DBIRTH", "beta", from));
}

TEST_F(SparkplugTest, ABrokerRestartBringsANewBirthWithTheNextBdSeq) {
    kvtest::BridgeProcess bridge(Config());
    const auto birth = Wait("NBIRTH", "");
    ASSERT_TRUE(birth) << bridge.log();
    ASSERT_TRUE(Wait("DBIRTH", "alpha"));
    const size_t from = client.count();
    broker_.stop();
    broker_.start();
    ASSERT_TRUE(client.waitConnected(Patience));
    // The births are not retained: a client back after the node was born asks for them again.
    auto again = Wait("NBIRTH", "", from, {}, 4s);
    if (!again) {
        Command("spBv1.0/plant/NCMD/hall1", [](Payload& p) {
            auto& m = *p.add_metrics();
            m.set_name("Node Control/Rebirth");
            m.set_boolean_value(true);
        });
        again = Wait("NBIRTH", "", from);
    }
    ASSERT_TRUE(again) << bridge.log();
    EXPECT_EQ(again->payload.seq(), 0u);
    EXPECT_EQ(BdSeq(again->payload), (BdSeq(birth->payload) + 1) % 256);
    EXPECT_TRUE(Wait("DBIRTH", "alpha", from));
    EXPECT_TRUE(Wait("DBIRTH", "beta", from));
}

// The node writes its DDATA in batches; readings that come faster than a
// batch (here back to back, from the test) still reach the host, every
// change, in order, with the time each was read.
TEST_F(SparkplugTest, ReadingsFasterThanABatchLoseNoChange) {
    auto config = kvbridge::ParseConfig(Config(), "test.conf");
    ASSERT_TRUE(config.ok()) << config.message();
    // The node keeps its bdSeq in the test's folder, not the user's.
    kvtest::TemporaryFolder state("kv618-bridge-state");
    kvtest::ScopedEnv stateHome("XDG_STATE_HOME", state.path().c_str());
    kvtest::ScopedEnv service("STATE_DIRECTORY", nullptr);
    kvbridge::SparkplugNode node(config.value(), [](size_t, kvbridge::Command, std::string, std::string) { return true; });
    node.Start();
    kv618::Identification id;
    id.parts = {{{'K', 'V', '-', '6'}, {'1', '8', ' ', ' '}, {'1', '.', '0', '4'}}};
    ASSERT_TRUE(Wait("NBIRTH", ""));
    node.Online(0, id);
    ASSERT_TRUE(Wait("DBIRTH", "alpha"));
    const size_t from = client.count();
    const uint32_t readings[] = {0x1, 0x3, 0x1, 0x0, 0x4};
    for (const uint32_t inputs : readings) node.Inputs(0, inputs);
    // What a host knows of DIN0-DIN2 after each DDATA.
    std::map<uint64_t, bool> known;
    std::vector<uint32_t> seen;
    uint64_t lastTime = 0;
    client.waitFor(
        [&](const kvtest::Message& m) {
            const auto sp = Decode(m, 0);
            if (!sp || sp->type != "DDATA") return false;
            for (const auto& metric : sp->payload.metrics()) {
                known[metric.alias()] = metric.boolean_value();
                EXPECT_GE(metric.timestamp(), lastTime);
                lastTime = metric.timestamp();
            }
            uint32_t inputs = 0;
            for (const auto& [alias, on] : known) inputs |= on ? 1u << (alias - known.begin()->first) : 0;
            seen.push_back(inputs);
            return seen.size() == std::size(readings);
        },
        Patience, from);
    node.Stop();
    EXPECT_EQ(seen, std::vector<uint32_t>(std::begin(readings), std::end(readings)));
}

}  // namespace
