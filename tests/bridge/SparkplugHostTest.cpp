// The Sparkplug node as a host built on the reference libraries sees it:
// Eclipse Tahu's JavaScript payload library decodes every message and
// encodes every command (TahuHost), against a real mosquitto on 127.0.0.1
// and the emulator.  Also what the node keeps across a restart (bdSeq) and
// what a flood of commands does to its log.
#include "Emulator.h"
#include "Mqtt.h"
#include "TahuHost.h"
#include "TestFiles.h"
#include "sparkplug_b.pb.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using kvtest::TahuHost;
using Json = TahuHost::Json;

constexpr auto Patience = 15s;
const std::string Node = "spBv1.0/plant/NBIRTH/hall1";
const std::string Death = "spBv1.0/plant/NDEATH/hall1";
const std::string Rebirth = "spBv1.0/plant/NCMD/hall1";
const std::string AlphaBirth = "spBv1.0/plant/DBIRTH/hall1/alpha";
const std::string AlphaCommand = "spBv1.0/plant/DCMD/hall1/alpha";

// The counter quantities' sub-codes (docs/emulator.md), in the order of the
// metrics' names: Pulses, Consumption, Power, Period, Power10s.
constexpr int QuantityBase[] = {0x50, 0x80, 0x84, 0x88, 0x9C};
constexpr const char* QuantityMetric[] = {"Pulses", "Consumption", "Power", "Period", "Power10s"};

// What the module holds: half of them above 2^31, where a signed 32-bit
// reading would go wrong.
uint32_t Held(int counter, int quantity) {
    return (quantity % 2 ? 0x80000000u : 0u) + 100000u * static_cast<uint32_t>(counter) + 10u * quantity + 7u;
}

Json Command(const std::string& name, const std::string& type, const Json& value) {
    return {{"timestamp", 1}, {"metrics", Json::array({{{"name", name}, {"type", type}, {"value", value}}})}};
}

class SparkplugHost : public ::testing::Test {
protected:
    SparkplugHost() : emulator(kvtest::ModulesOnLine({"1"})) {}

    // A reply time-out a loaded machine does not run into: a module taken for
    // silent and answering again has lost the outputs the bridge knows, and
    // a command for a single output would be refused.
    std::string Config() const {
        std::ostringstream c;
        c << "[broker]\nhost = 127.0.0.1\nport = " << broker.port()
          << "\nclient id = test\npayload = sparkplug\ngroup id = plant\nedge node id = hall1\n"
          << "[module alpha]\nRozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = " << emulator.udpPort()
          << "\nUDP timeout = 1000\nretry = 300 ms\nAdresa = 1\ncounters = 300 ms\ncommands = outputs\n";
        return c.str();
    }

    uint32_t Eventually(const std::string& command, uint32_t wanted) {
        const auto deadline = kvtest::Clock::now() + Patience;
        while (emulator.value(command) != wanted && kvtest::Clock::now() < deadline) std::this_thread::sleep_for(20ms);
        return emulator.value(command);
    }

    static std::optional<uint64_t> BdSeq(const std::optional<Json>& payload) {
        const Json* m = payload ? TahuHost::Metric(*payload, "bdSeq") : nullptr;
        if (!m || !(*m)["value"].is_number_unsigned()) return std::nullopt;
        return (*m)["value"].get<uint64_t>();
    }

    kvtest::Emulator emulator;
    kvtest::Broker broker;
    kvtest::TemporaryFolder state{"kv618-bridge-state"};
    TahuHost host{broker.port(), "plant"};
};

// The births as the library reads them: every numeric metric is the number
// the module holds (the counters above 2^31 too), every Boolean its bit; a
// command the library writes, in either of its numeric types, reaches the module.
TEST_F(SparkplugHost, EveryMetricIsWhatTheModuleHoldsAndItsCommandsReachTheModule) {
    for (int c = 0; c < 4; ++c)
        for (int q = 0; q < 5; ++q)
            emulator.command("at 1 set quantity " + std::to_string(QuantityBase[q] + c) + " " + std::to_string(Held(c, q)));
    emulator.command("at 1 set inputs 0x80000005");
    const uint32_t inputs = emulator.value("at 1 get inputs");
    kvtest::BridgeProcess bridge(Config(), state.path());

    const auto node = host.Wait(Node, Patience);
    ASSERT_TRUE(node) << bridge.log() << host.Errors();
    EXPECT_EQ(BdSeq(node), 0u) << node->dump();
    const Json* rebirth = TahuHost::Metric(*node, "Node Control/Rebirth");
    ASSERT_TRUE(rebirth);
    EXPECT_EQ((*rebirth)["value"], false);
    ASSERT_TRUE(host.Wait(AlphaBirth, Patience)) << bridge.log();

    // All 32 outputs as the birth types them, then as UInt32 (which the library carries in long_value).
    ASSERT_TRUE(host.Publish(AlphaCommand, Command("Outputs/Value", "UInt64", 0xA5A5A5A5u), Patience)) << host.Errors();
    EXPECT_EQ(Eventually("at 1 get outputs", 0xA5A5A5A5u), 0xA5A5A5A5u) << bridge.log();
    ASSERT_TRUE(host.Publish(AlphaCommand, Command("Outputs/Value", "UInt32", 0x80000001u), Patience));
    EXPECT_EQ(Eventually("at 1 get outputs", 0x80000001u), 0x80000001u) << bridge.log();
    ASSERT_TRUE(host.Publish(AlphaCommand, Command("Outputs/DOUT1", "Boolean", true), Patience));
    EXPECT_EQ(Eventually("at 1 get outputs", 0x80000003u), 0x80000003u) << bridge.log();

    // A rebirth the library asks for, until the birth carries every reading.
    std::optional<Json> birth;
    const auto deadline = kvtest::Clock::now() + Patience;
    const auto whole = [](const Json& p) {
        for (const Json& m : p["metrics"])
            if (m["value"].is_null()) return false;
        return true;
    };
    while (kvtest::Clock::now() < deadline && !(birth && whole(*birth))) {
        const size_t from = host.Count();
        ASSERT_TRUE(host.Publish(Rebirth, Command("Node Control/Rebirth", "Boolean", true), Patience));
        birth = host.Wait(AlphaBirth, Patience, from);
        if (!(birth && whole(*birth))) std::this_thread::sleep_for(300ms);
    }
    ASSERT_TRUE(birth) << bridge.log();
    EXPECT_TRUE(whole(*birth)) << "a metric the library reads as null: " << birth->dump();

    int numbers = 0;
    for (const Json& m : (*birth)["metrics"]) {
        const std::string name = m["name"], type = m["type"];
        if (type == "Boolean" || type == "String") continue;
        ++numbers;
        ASSERT_TRUE(m["value"].is_number_unsigned()) << name << ": " << m.dump();
        const uint64_t value = m["value"];
        if (name == "Identification/Address") {
            EXPECT_EQ(value, 1u);
        } else if (name == "Outputs/Value") {
            EXPECT_EQ(value, 0x80000003u);
        } else {
            int counter = -1, quantity = -1;
            for (int c = 0; c < 4; ++c)
                for (int q = 0; q < 5; ++q)
                    if (name == "Counters/" + std::to_string(c) + "/" + QuantityMetric[q]) counter = c, quantity = q;
            ASSERT_GE(counter, 0) << "a numeric metric the test does not know: " << name;
            EXPECT_EQ(value, Held(counter, quantity)) << name;
        }
    }
    EXPECT_EQ(numbers, 22) << birth->dump();
    for (int bit = 0; bit < 32; ++bit) {
        const Json* din = TahuHost::Metric(*birth, "Inputs/DIN" + std::to_string(bit));
        const Json* dout = TahuHost::Metric(*birth, "Outputs/DOUT" + std::to_string(bit));
        ASSERT_TRUE(din && dout) << bit;
        EXPECT_EQ((*din)["value"], ((inputs >> bit) & 1) != 0) << bit;
        EXPECT_EQ((*dout)["value"], ((0x80000003u >> bit) & 1) != 0) << bit;
    }
}

// A restarted bridge goes on from its last session's bdSeq, so that a host
// never takes the old session's death for the new one's; 255 wraps to 0.
TEST_F(SparkplugHost, ARestartedBridgeIsBornWithTheNextBdSeq) {
    kvtest::BridgeProcess first(Config(), state.path());
    const auto birth = host.Wait(Node, Patience);
    ASSERT_TRUE(BdSeq(birth)) << first.log() << host.Errors();
    ASSERT_EQ(first.terminate(), 0) << first.log();
    const auto death = host.Wait(Death, Patience);
    ASSERT_TRUE(death) << first.log();
    EXPECT_EQ(BdSeq(death), BdSeq(birth)) << death->dump();

    size_t from = host.Count();
    kvtest::BridgeProcess second(Config(), state.path());
    const auto again = host.Wait(Node, Patience, from);
    ASSERT_TRUE(again) << second.log();
    const uint64_t next = (*BdSeq(birth) + 1) % 256;
    EXPECT_EQ(BdSeq(again), next) << second.log();
    ASSERT_EQ(second.terminate(), 0);

    // The file holds the number alone; the one after 255 is 0.
    const std::string kept = state.path() + "/kv618-bridge/sparkplug-plant-hall1.bdseq";
    EXPECT_EQ(kvtest::ReadFile(kept), std::to_string(next) + "\n");
    std::ofstream(kept) << "255\n";
    from = host.Count();
    kvtest::BridgeProcess third(Config(), state.path());
    EXPECT_EQ(BdSeq(host.Wait(Node, Patience, from)), 0u) << third.log();
}

// Unknown metrics by the hundred thousand: an NCMD over the cap is refused
// whole, and the refusals of those within it are logged a few lines a
// second, with their count, not one line each.
TEST_F(SparkplugHost, AFloodOfUnknownMetricsLogsAHandfulOfLines) {
    kvtest::BridgeProcess bridge(Config());
    ASSERT_TRUE(host.Wait(AlphaBirth, Patience)) << bridge.log();
    kvtest::MqttClient client(broker.port(), "spBv1.0/#");
    const auto flood = [](int metrics) {
        kvbridge::spb::Payload p;
        for (int i = 0; i < metrics; ++i) p.add_metrics()->set_name("x" + std::to_string(i));
        return p.SerializeAsString();
    };
    const std::string huge = flood(200000), within = flood(1500);
    ASSERT_GT(huge.size(), 1000000u);
    ASSERT_LT(within.size(), 16u * 1024);
    client.publish(Rebirth, huge);
    for (int i = 0; i < 5; ++i) client.publish(Rebirth, within);
    for (int i = 0; i < 5; ++i) client.publish(AlphaCommand, within);
    // The node took every command before this rebirth's birth; then the held
    // counts are logged within a second.
    const size_t from = host.Count();
    ASSERT_TRUE(host.Publish(Rebirth, Command("Node Control/Rebirth", "Boolean", true), Patience));
    ASSERT_TRUE(host.Wait(Node, Patience, from)) << bridge.log();
    std::this_thread::sleep_for(2500ms);
    const std::string log = bridge.log();
    int refusals = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find("NCMD") != std::string::npos || line.find("DCMD") != std::string::npos ||
            line.find("more like it") != std::string::npos)
            ++refusals;
    EXPECT_GE(refusals, 3) << log;
    EXPECT_LE(refusals, 10) << log;
    EXPECT_NE(log.find("bytes are taken"), std::string::npos) << log;
    EXPECT_NE(log.find("more like it"), std::string::npos) << log;
}

}  // namespace
