// The bridge as a process between the emulator, serving a bus of modules
// over the LAN converter and the serial line, and a real mosquitto broker on
// 127.0.0.1; a client of the test's own watches the topics and sends commands.
#include "Command.h"
#include "Emulator.h"
#include "Mqtt.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <sstream>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using kvtest::Clock;
using nlohmann::json;

constexpr auto Patience = 15s;  // for anything the bridge is to do at all
constexpr int SerialPort = 9;   // COM9 is the emulator's pseudo-terminal

enum class Via { Lan, Serial, MissingCard };

struct ModuleEntry {
    std::string name;
    int address;
    std::string extra;  // more keys, one per line
    Via via = Via::Lan;
};

class BridgeTest : public ::testing::Test {
protected:
    BridgeTest() : emulator(Options()) {
        ::setenv(("QCOM726_COM" + std::to_string(SerialPort)).c_str(), emulator.ptyPath().c_str(), 1);
        ::setenv("KV618_CARD_DIR", emulator.cardDir().c_str(), 1);
    }

    static kvtest::EmulatorOptions Options() {
        kvtest::EmulatorOptions o;
        o.modules = {"1", "2", "3"};
        return o;
    }

    std::string Config(const std::vector<ModuleEntry>& modules) const {
        std::ostringstream c;
        c << "[broker]\nhost = 127.0.0.1\nport = " << broker.port() << "\nclient id = test\n";
        for (const auto& m : modules) {
            c << "\n[module " << m.name << "]\nAdresa = " << m.address << "\nretry = 300 ms\n";
            switch (m.via) {
                case Via::Serial: c << "Rozhraní = COMx\nČíslo portu = " << SerialPort << "\n"; break;
                // The emulator's ISA card is at 768 (300h).
                case Via::MissingCard: c << "Rozhraní = PCI-726\nBázová adresa = 291\n"; break;
                case Via::Lan:
                    c << "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = " << emulator.udpPort()
                      << "\nUDP timeout = " << udpTimeoutMs << "\n";
            }
            c << m.extra;
        }
        return c.str();
    }

    // The three modules: alpha and beta on the LAN converter, gamma on the serial line.
    std::vector<ModuleEntry> Bus(const std::string& extra = "") const {
        return {{"alpha", 1, extra}, {"beta", 2, extra}, {"gamma", 3, extra, Via::Serial}};
    }

    std::optional<kvtest::Message> Online(const std::string& module, bool online, size_t from = 0) {
        return client.waitOn("kv618/" + module + "/online",
                             [&](const std::string& p) { return p == (online ? "true" : "false"); }, Patience, from);
    }

    std::optional<json> Value(const std::string& module, const std::string& what,
                              const std::function<bool(const json&)>& match, size_t from = 0) {
        std::optional<json> found;
        client.waitOn("kv618/" + module + "/" + what,
                      [&](const std::string& p) {
                          json j = json::parse(p, nullptr, false);
                          if (j.is_discarded() || !match(j)) return false;
                          found = j;
                          return true;
                      },
                      Patience, from);
        return found;
    }

    std::optional<json> Inputs(const std::string& module, uint32_t value, size_t from = 0) {
        return Value(module, "inputs", [&](const json& j) { return j["value"] == value; }, from);
    }

    kvtest::Emulator emulator;
    kvtest::Broker broker;
    kvtest::MqttClient client{broker.port()};
    // Short, so that a module made silent is seen so soon; a test that needs
    // its modules never taken for silent on a loaded machine sets more.
    int udpTimeoutMs = 50;
};

TEST_F(BridgeTest, ValuesArriveOnTheirTopicsAndSigtermLeavesEveryModuleOffline) {
    const uint32_t alpha = emulator.setInputs(1, 0x11), beta = emulator.setInputs(2, 0x22),
                   gamma = emulator.setInputs(3, 0x33);
    emulator.command("at 2 set counter 1 1234");
    emulator.command("at 3 set status 0x40");
    auto modules = Bus("counters = 300 ms\n");
    // A line that cannot be opened: no ISA card at that base address.
    modules.push_back({"delta", 1, "", Via::MissingCard});
    kvtest::BridgeProcess bridge(Config(modules));

    for (const std::string m : {"alpha", "beta", "gamma"}) ASSERT_TRUE(Online(m, true)) << m << "\n" << bridge.log();
    EXPECT_TRUE(Inputs("alpha", alpha));
    EXPECT_TRUE(Inputs("beta", beta));
    const auto inputs = Inputs("gamma", gamma);
    ASSERT_TRUE(inputs);
    for (int bit = 0; bit < 32; ++bit) EXPECT_EQ((*inputs)["bits"][bit], (gamma >> bit) & 1) << bit;
    EXPECT_NE((*inputs)["time"].get<std::string>().find('T'), std::string::npos);
    EXPECT_TRUE(Value("gamma", "status", [](const json& j) { return j["value"] == 0x40 && j["ERR24"] == true; }));
    EXPECT_TRUE(Value("beta", "counters", [](const json& j) { return j["counters"][1]["pulses"] == 1234; }));
    EXPECT_TRUE(Value("alpha", "identification", [](const json& j) { return j["text"] == "KV-618   v.1.04"; }));
    EXPECT_TRUE(Online("delta", false));
    EXPECT_NE(bridge.log().find("line PCI-726 291: cannot be opened"), std::string::npos) << bridge.log();

    const size_t before = client.count();
    EXPECT_EQ(bridge.terminate(), 0) << bridge.log();
    for (const std::string m : {"alpha", "beta", "gamma"}) {
        const auto offline = Online(m, false, before);
        ASSERT_TRUE(offline) << m;
    }
}

TEST_F(BridgeTest, ChangedInputArrivesWithinOnePollInterval) {
    // In milliseconds: half of 1s in whole seconds would be none.
    constexpr std::chrono::milliseconds Interval = 1s;
    // A module taken for silent and answering again would publish its
    // unchanged inputs anew.
    udpTimeoutMs = 1000;
    kvtest::BridgeProcess bridge(Config({{"alpha", 1, "inputs = 1 s\nstatus = off\ncounters = off\nheartbeat = 1 h\n"}}));
    ASSERT_TRUE(Inputs("alpha", emulator.value("at 1 get inputs"))) << bridge.log();
    const size_t from = client.count();
    // Unchanged inputs wait for the heartbeat, an hour away.
    std::this_thread::sleep_for(2 * Interval);
    size_t repeats = 0;
    const auto all = client.messages();
    for (size_t i = from; i < all.size(); ++i) repeats += all[i].topic == "kv618/alpha/inputs";
    EXPECT_EQ(repeats, 0u);

    const auto changed = Clock::now();
    const uint32_t wanted = emulator.setInputs(1, 0x8000);
    const auto message = client.waitOn(
        "kv618/alpha/inputs", [&](const std::string& p) { return json::parse(p)["value"] == wanted; }, Patience, from);
    ASSERT_TRUE(message);
    // One interval, and room for a loaded machine: a change published only
    // at the next poll but one, or at the heartbeat, would take longer.
    EXPECT_LT(message->at - changed, Interval + Interval / 2);
}

// The retained topics as the plant's own software reads them: mosquitto's
// client and Python's json module (tests/bridge/json_peer.py), not the
// libraries the bridge and this test are built on.
TEST_F(BridgeTest, RetainedTopicsReadWithMosquittoSubAndPythonJson) {
    const uint32_t inputs = emulator.setInputs(2, 0xA5A5);
    emulator.command("at 2 set counter 1 1234");
    const auto status = emulator.value("at 2 get status");
    kvtest::BridgeProcess bridge(Config(Bus("counters = 300 ms\n")));
    ASSERT_TRUE(Online("beta", true)) << bridge.log();
    ASSERT_TRUE(Inputs("beta", inputs));
    ASSERT_TRUE(Value("beta", "counters", [](const json& j) { return j["counters"][1]["pulses"] == 1234; }));

    std::string topics;
    for (const char* leaf : {"online", "identification", "inputs", "status", "counters"})
        topics += std::string(" -t kv618/beta/") + leaf;
    const auto [code, out] = kvtest::RunShell("mosquitto_sub -h 127.0.0.1 -p " + std::to_string(broker.port()) +
                                              " -v -C 5 -W 20" + topics + " | python3 " KV_SOURCE_DIR
                                              "/tests/bridge/json_peer.py");
    ASSERT_EQ(code, 0) << out;
    for (const std::string& line : std::vector<std::string>{"online=true", "identification text=KV-618   v.1.04 address=2", "inputs value=" + std::to_string(inputs),
          "counters pulses=0,1234,0,0"})
        EXPECT_NE(out.find(line + "\n"), std::string::npos) << line << "\n" << out;
    EXPECT_NE(out.find("status value=" + std::to_string(status) + " FN="), std::string::npos) << out;
}

TEST_F(BridgeTest, CommandsWorkOnlyWhereEnabled) {
    emulator.command("at 1 set counter 0 500");
    emulator.command("at 1 set status 0x40");
    emulator.command("at 3 set status 0x40");
    kvtest::BridgeProcess bridge(Config({{"alpha", 1, "commands = all\n"},
                                         {"beta", 2, ""},
                                         {"gamma", 3, "commands = outputs\n", Via::Serial}}));
    for (const std::string m : {"alpha", "beta", "gamma"}) ASSERT_TRUE(Online(m, true)) << m << "\n" << bridge.log();

    const auto eventually = [&](const std::string& command, uint32_t wanted) {
        const auto deadline = Clock::now() + Patience;
        while (emulator.value(command) != wanted && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
        return emulator.value(command) == wanted;
    };
    const auto error = [&](const std::string& module, const std::string& fragment) {
        return Value(module, "error", [&](const json& j) {
            return j["error"].get<std::string>().find(fragment) != std::string::npos;
        });
    };

    client.publish("kv618/alpha/set/outputs", "0xA5");
    EXPECT_TRUE(eventually("at 1 get outputs", 0xA5));
    EXPECT_TRUE(Value("alpha", "outputs", [](const json& j) { return j["value"] == 0xA5; }));
    client.publish("kv618/gamma/set/outputs", "{\"value\": 7}");
    EXPECT_TRUE(eventually("at 3 get outputs", 7));

    client.publish("kv618/beta/set/outputs", "0x5A");
    EXPECT_TRUE(error("beta", "not enabled"));
    client.publish("kv618/alpha/set/outputs", "all of them");
    EXPECT_TRUE(error("alpha", "set/outputs takes"));
    client.publish("kv618/gamma/reset/status", "");
    EXPECT_TRUE(error("gamma", "not enabled"));
    client.publish("kv618/alpha/set/clock", "12:00");
    EXPECT_TRUE(error("alpha", "unknown command"));

    client.publish("kv618/alpha/reset/counters", "");
    EXPECT_TRUE(eventually("at 1 get counter 0", 0));
    client.publish("kv618/alpha/reset/status", "");
    EXPECT_TRUE(Value("alpha", "status", [](const json& j) { return j["value"] == 0; }));

    // What was refused changed nothing.
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0xA5u);
    EXPECT_EQ(emulator.value("at 2 get outputs"), 0u);
    EXPECT_EQ(emulator.value("at 3 get status") & 0x40, 0x40u);
}

TEST_F(BridgeTest, BrokerRestartedMidRunLosesNoModule) {
    kvtest::BridgeProcess bridge(Config(Bus()));
    for (const std::string m : {"alpha", "beta", "gamma"}) ASSERT_TRUE(Online(m, true)) << m << "\n" << bridge.log();

    broker.stop();
    // Counted while nothing can arrive: the retained messages may come in
    // right behind the client's subscription, before the wait for it returns.
    const size_t from = client.count();
    const uint32_t beta = emulator.setInputs(2, 0x1234);
    broker.start();
    ASSERT_TRUE(client.waitConnected(Patience));
    // The restarted broker kept nothing: what arrives now the bridge published again.
    for (const std::string m : {"alpha", "beta", "gamma"}) {
        EXPECT_TRUE(Online(m, true, from)) << m << "\n" << bridge.log();
        EXPECT_TRUE(Value(m, "identification", [](const json& j) { return j.contains("name"); }, from)) << m;
    }
    EXPECT_TRUE(Inputs("beta", beta, from));
    EXPECT_TRUE(Inputs("gamma", emulator.setInputs(3, 0x4321), from));
}

TEST_F(BridgeTest, StoppedModuleGoesOfflineAndComesBack) {
    kvtest::BridgeProcess bridge(Config(Bus()));
    for (const std::string m : {"alpha", "beta", "gamma"}) ASSERT_TRUE(Online(m, true)) << m << "\n" << bridge.log();

    size_t from = client.count();
    emulator.command("at 2 fault drop 100");
    ASSERT_TRUE(Online("beta", false, from)) << bridge.log();
    // Its neighbour on the same line goes on meanwhile.
    EXPECT_TRUE(Inputs("alpha", emulator.setInputs(1, 0xBEEF), from));

    from = client.count();
    emulator.command("at 2 fault clear");
    EXPECT_TRUE(Online("beta", true, from)) << bridge.log();
    EXPECT_TRUE(Inputs("beta", emulator.setInputs(2, 0x77), from));
    EXPECT_NE(bridge.log().find("module beta (address 2 on KV-1726 127.0.0.1:"), std::string::npos) << bridge.log();
}

// The broker's retained copy of `topic`, as a new subscriber would get it at once.
std::optional<std::string> RetainedOn(uint16_t port, const std::string& topic) {
    kvtest::MqttClient fresh(port, topic);
    const auto kept = fresh.waitFor([](const kvtest::Message& m) { return m.retained; }, 1s);
    if (!kept) return std::nullopt;
    return kept->payload;
}

TEST_F(BridgeTest, ARetainedCommandIsNeverCarriedOutAndIsClearedFromTheBroker) {
    // A write whose reply a loaded machine delays past 50 ms would be
    // carried out without the outputs' topic telling it.
    udpTimeoutMs = 1000;
    // One published before the bridge starts, one while it runs.
    emulator.command("at 1 set counter 0 500");
    client.publish("kv618/alpha/set/outputs", "0x0F", true);
    ASSERT_EQ(RetainedOn(broker.port(), "kv618/alpha/set/outputs"), "0x0F");
    kvtest::BridgeProcess bridge(Config({{"alpha", 1, "commands = all\n"}}));
    ASSERT_TRUE(Online("alpha", true)) << bridge.log();
    const auto retainedError = [&](size_t from) {
        return Value("alpha", "error", [](const json& j) {
            return j["error"].get<std::string>().find("retained") != std::string::npos;
        }, from);
    };
    EXPECT_TRUE(retainedError(0));
    EXPECT_EQ(RetainedOn(broker.port(), "kv618/alpha/set/outputs"), std::nullopt);

    const size_t from = client.count();
    client.publish("kv618/alpha/reset/counters", "all", true);
    EXPECT_TRUE(retainedError(from));
    client.publish("kv618/alpha/set/outputs", "0x3C");
    EXPECT_TRUE(Value("alpha", "outputs", [](const json& j) { return j["value"] == 0x3C; }, from));
    EXPECT_EQ(RetainedOn(broker.port(), "kv618/alpha/reset/counters"), std::nullopt);
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0x3Cu) << "only the fresh command was carried out";
    EXPECT_EQ(emulator.value("at 1 get counter 0"), 500u) << "no counter was reset";
}

TEST_F(BridgeTest, AnOversizedCommandIsRefused) {
    kvtest::BridgeProcess bridge(Config({{"alpha", 1, "commands = all\n"}}));
    ASSERT_TRUE(Online("alpha", true)) << bridge.log();
    client.publish("kv618/alpha/set/outputs", std::string(1 << 20, '1'));
    EXPECT_TRUE(Value("alpha", "error", [](const json& j) {
        return j["error"].get<std::string>().find("1048576 bytes is refused") != std::string::npos;
    })) << bridge.log();
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0u);
}

// The session of a module on a line that cannot be opened may connect after
// the first failure: the reason reaches it all the same, and again after the
// broker comes back.
TEST_F(BridgeTest, ALineThatCannotBeOpenedIsReportedWheneverTheSessionConnects) {
    const auto lineError = [&](kvtest::MqttClient& watching) {
        return watching.waitOn("kv618/delta/error", [](const std::string& p) {
            return json::parse(p, nullptr, false).value("poll", "") == "line";
        }, Patience);
    };
    kvtest::BridgeProcess bridge(Config({{"delta", 1, "", Via::MissingCard}}));
    EXPECT_TRUE(lineError(client)) << bridge.log();
    broker.stop();
    broker.start();
    // Subscribed before the session's pause of a second ends and it reconnects.
    kvtest::MqttClient after(broker.port());
    EXPECT_TRUE(lineError(after)) << bridge.log();
}

// A broker with users and the sample ACL the package ships: a user it does
// not let publish commands cannot command a module.
TEST(BridgeAcl, TheSampleAclLetsOnlyTheOperatorCommand) {
    const std::string dir = ::testing::TempDir() + "/kv618-acl-" + std::to_string(::getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const auto everyone = std::filesystem::perms::others_read | std::filesystem::perms::others_exec;
    std::filesystem::permissions(dir, everyone, std::filesystem::perm_options::add);
    std::filesystem::copy_file(KV_ACL_EXAMPLE, dir + "/acl");
    for (const std::string user : {"kv618-bridge", "operator", "viewer"}) {
        const std::string add = "mosquitto_passwd -b " + std::string(user == "kv618-bridge" ? "-c " : "") + dir +
                                "/passwd " + user + " pw-" + user + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(add.c_str()), 0) << add;
    }
    for (const char* file : {"/acl", "/passwd"})
        std::filesystem::permissions(dir + file, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    std::ofstream(dir + "/bridge.password") << "pw-kv618-bridge\n";

    kvtest::Emulator emulator;
    kvtest::Broker broker("allow_anonymous false\npassword_file " + dir + "/passwd\nacl_file " + dir + "/acl\n");
    kvtest::MqttClient operatorClient(broker.port(), "kv618/#", "operator", "pw-operator");
    kvtest::MqttClient viewer(broker.port(), "kv618/#", "viewer", "pw-viewer");
    emulator.command("set status 0x40");
    std::ostringstream config;
    config << "[broker]\nhost = 127.0.0.1\nport = " << broker.port() << "\nclient id = test\nuser = kv618-bridge\n"
           << "password file = " << dir << "/bridge.password\n\n[module alpha]\nAdresa = 1\nretry = 300 ms\n"
           << "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = " << emulator.udpPort() << "\ncommands = all\n";
    kvtest::BridgeProcess bridge(config.str());
    ASSERT_TRUE(viewer.waitOn("kv618/alpha/online", [](const std::string& p) { return p == "true"; }, Patience))
        << "the values may be read: " << bridge.log();

    viewer.publish("kv618/alpha/set/outputs", "0x0F");
    viewer.publish("kv618/alpha/reset/status", "");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0u) << "the broker did not pass the viewer's command on";
    EXPECT_EQ(emulator.value("at 1 get status") & 0x40, 0x40u) << "nor its reset";

    operatorClient.publish("kv618/alpha/set/outputs", "0xA5");
    EXPECT_TRUE(viewer.waitOn("kv618/alpha/outputs", [](const std::string& p) { return json::parse(p)["value"] == 0xA5; },
                              Patience))
        << bridge.log();
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0xA5u);
    std::filesystem::remove_all(dir);
}

}  // namespace
