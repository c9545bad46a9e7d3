// The bridge as a process with a [modbus] section between the emulator's
// modules (over the LAN converter and the serial line) and Debian's mbpoll,
// over Modbus TCP on 127.0.0.1 and over RTU through a socat pseudo-terminal
// pair: what mbpoll reads is what the modules hold, what it writes the
// modules carry out.
#include "Command.h"
#include "Commands.h"
#include "Dekl.h"
#include "Emulator.h"
#include "Modbus.h"
#include "Loopback.h"
#include "Mqtt.h"
#include "RegisterMap.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using kvtest::Clock;
using kvtest::Mbpoll;
using kvtest::MbpollResult;

constexpr auto Patience = 15s;
constexpr int SerialPort = 9;  // COM9 is the emulator's pseudo-terminal

class ModbusBridge : public ::testing::Test {
protected:
    ModbusBridge() : emulator(kvtest::ModulesOnLine({"1", "2", "3"})), port(kvtest::FreeTcpPort()) {
        ::setenv(("QCOM726_COM" + std::to_string(SerialPort)).c_str(), emulator.ptyPath().c_str(), 1);
    }

    // alpha and beta on the LAN converter, gamma on the serial line; `modbus`
    // is the [modbus] section's keys, `extra` more keys of every module.
    std::string Config(const std::string& modbus = "", const std::string& extra = "") const {
        std::ostringstream c;
        c << "[modbus]\nlisten = 127.0.0.1:" << port << "\nrtu = " << line.first() << " 19200 8N1\n" << modbus;
        const std::string lan = "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = " +
                                std::to_string(emulator.udpPort()) + "\nUDP timeout = 50\n";
        // Every module: quick retries and counters, and the test's keys.
        const std::string common = "retry = 300 ms\ncounters = 300 ms\n" + extra;
        c << "\n[module alpha]\nAdresa = 1\n" << lan << common << "commands = all\n";
        c << "\n[module beta]\nAdresa = 2\n" << lan << common;
        c << "\n[module gamma]\nAdresa = 3\nRozhraní = COMx\nČíslo portu = " << SerialPort << "\n"
          << common << "commands = outputs\n";
        return c.str();
    }

    std::string Tcp() const { return "-p " + std::to_string(port) + " 127.0.0.1"; }
    std::string Rtu() const { return "-m rtu -b 19200 -P none " + line.second(); }

    // mbpoll until `done` holds for what it gave, or the patience runs out.
    MbpollResult Until(const std::string& args, const std::function<bool(const MbpollResult&)>& done) {
        MbpollResult r;
        const auto deadline = Clock::now() + Patience;
        do {
            r = Mbpoll(args);
            if (done(r)) break;
            std::this_thread::sleep_for(100ms);
        } while (Clock::now() < deadline);
        return r;
    }
    MbpollResult Answered(const std::string& args) {
        return Until(args, [](const MbpollResult& r) { return r.status == 0; });
    }

    kvtest::Emulator emulator;
    kvtest::PtyPair line;
    uint16_t port;
};

uint32_t Word32(const MbpollResult& r, int reference) { return static_cast<uint32_t>(r.values.at(reference)); }

// What module `unit` holds in counter c's quantity q: distinct everywhere, half
// of them above 2^31, where a signed reading would go wrong.
uint32_t Held(int unit, int counter, int quantity) {
    return (quantity % 2 ? 0x8000'0000u : 0u) + 1'000'000u * static_cast<uint32_t>(unit) +
           1000u * static_cast<uint32_t>(counter) + 10u * static_cast<uint32_t>(quantity) + 7u;
}

TEST_F(ModbusBridge, MbpollReadsEveryModulesInputsAndCountersOverTcpAndRtu) {
    const uint32_t alpha = emulator.setInputs(1, 0x11), beta = emulator.setInputs(2, 0x8000'0022),
                   gamma = emulator.setInputs(3, 0x33);
    std::map<int, uint32_t> status;
    for (int unit = 1; unit <= 3; ++unit) {
        const std::string at = "at " + std::to_string(unit) + " ";
        emulator.command(at + "set status " + std::to_string(0x10 * unit));
        status[unit] = emulator.value(at + "get status");
        for (int c = 0; c < wire::CounterCount; ++c)
            for (size_t q = 0; q < wire::Quantities.size(); ++q)
                emulator.command(at + "set quantity " + std::to_string(wire::QuantitySubcode(wire::Quantities[q], c)) +
                                 " " + std::to_string(Held(unit, c, static_cast<int>(q))));
    }
    kvtest::BridgeProcess bridge(Config());
    const int first = kvbridge::modbus::CounterAddress(0, 0);
    for (const std::string& via : {Tcp(), Rtu()}) {
        for (const auto& [unit, inputs] : {std::pair{1, alpha}, {2, beta}, {3, gamma}}) {
            const std::string u = "-a " + std::to_string(unit) + " ";
            auto r = Answered(u + "-t 1 -r 0 -c 32 " + via);
            ASSERT_EQ(r.status, 0) << r.output << bridge.log();
            for (int bit = 0; bit < 32; ++bit) EXPECT_EQ(r.values[bit], (inputs >> bit) & 1) << unit << " " << bit;
            r = Mbpoll(u + "-t 3:int -B -r 2 -c 1 " + via);
            EXPECT_EQ(Word32(r, 2), inputs) << r.output;
            // The twenty quantities in one request, once the counters were polled whole.
            const auto counter = [&](const MbpollResult& r, int c, int q) {
                const int at = kvbridge::modbus::CounterAddress(c, q);
                return r.values.count(at) ? Word32(r, at) : 0u;
            };
            r = Until(u + "-t 3:int -B -r " + std::to_string(first) + " -c 20 " + via,
                      [&](const MbpollResult& r) { return counter(r, 3, 4) == Held(unit, 3, 4); });
            for (int c = 0; c < wire::CounterCount; ++c)
                for (int q = 0; q < 5; ++q) EXPECT_EQ(counter(r, c, q), Held(unit, c, q)) << unit << " " << c << q << r.output;
            r = Mbpoll(u + "-t 3 -r 0 -c 1 " + via);
            EXPECT_EQ(r.values[0], status[unit]) << r.output;
            r = Mbpoll(u + "-t 3:hex -r 10 -c 8 " + via);
            EXPECT_NE(r.output.find("0x4B56"), std::string::npos) << "\"KV\" " << r.output;
        }
    }
}

TEST_F(ModbusBridge, ACoilWrittenThroughTheGatewaySetsTheModulesOutput) {
    kvtest::BridgeProcess bridge(Config());
    ASSERT_EQ(Answered("-a 1 -t 1 -r 0 -c 1 " + Tcp()).status, 0) << bridge.log();
    // A single coil waits for all 32 to be known.
    auto r = Mbpoll("-a 1 -t 0 -r 7 " + Tcp() + " 1");
    EXPECT_NE(r.output.find("Slave device or server failure"), std::string::npos) << r.output;
    EXPECT_NE(bridge.log().find("write all 32 first"), std::string::npos) << bridge.log();
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0u);

    r = Mbpoll("-a 1 -t 4:int -B -r 0 " + Tcp() + " 165");
    ASSERT_EQ(r.status, 0) << r.output;
    // Answered once the module confirmed it.
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0xA5u);
    r = Mbpoll("-a 1 -t 0 -r 8 " + Tcp() + " 1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0x1A5u);

    // Over RTU, on the module of the serial line.
    ASSERT_EQ(Answered("-a 3 -t 1 -r 0 -c 1 " + Rtu()).status, 0) << bridge.log();
    std::string all;
    for (int bit = 0; bit < 32; ++bit) all += bit < 4 ? " 1" : " 0";
    r = Mbpoll("-a 3 -t 0 -r 0 " + Rtu() + all);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(emulator.value("at 3 get outputs"), 0xFu);
    r = Mbpoll("-a 3 -t 0 -r 9 " + Rtu() + " 1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(emulator.value("at 3 get outputs"), 0x20Fu);
    r = Mbpoll("-a 3 -t 0 -r 0 -c 32 " + Tcp());
    EXPECT_EQ(r.values[3], 1) << r.output;
    EXPECT_EQ(r.values[4], 0);
    EXPECT_EQ(r.values[9], 1);

    // Not enabled for beta, nor the counters' reset for gamma.
    EXPECT_NE(Mbpoll("-a 2 -t 4:int -B -r 0 " + Tcp() + " 1").output.find("Illegal function"), std::string::npos);
    EXPECT_NE(Mbpoll("-a 3 -t 4 -r 2 " + Rtu() + " 15").output.find("Illegal function"), std::string::npos);
    EXPECT_EQ(emulator.value("at 2 get outputs"), 0u);
}

TEST_F(ModbusBridge, ASilentModuleAnswersGatewayTargetFailed) {
    kvtest::BridgeProcess bridge(Config());
    ASSERT_EQ(Answered("-a 2 -t 1 -r 0 -c 1 " + Tcp()).status, 0) << bridge.log();
    emulator.command("at 2 fault drop 100");
    for (const std::string& via : {Tcp(), Rtu()}) {
        const auto r = Until("-a 2 -t 1 -r 0 -c 1 " + via, [](const MbpollResult& r) {
            return r.output.find("Target device failed to respond") != std::string::npos;
        });
        EXPECT_NE(r.output.find("Target device failed to respond"), std::string::npos) << r.output << bridge.log();
        // Its neighbour on the line answers meanwhile.
        EXPECT_EQ(Mbpoll("-a 1 -t 1 -r 0 -c 1 " + via).status, 0);
    }
    EXPECT_NE(Mbpoll("-a 9 -t 1 -r 0 -c 1 " + Tcp()).output.find("Gateway path unavailable"), std::string::npos);
    emulator.command("at 2 fault clear");
    EXPECT_EQ(Answered("-a 2 -t 1 -r 0 -c 1 " + Tcp()).status, 0) << bridge.log();
}

TEST_F(ModbusBridge, AClientOutsideTheAllowListIsRefused) {
    kvtest::BridgeProcess bridge(Config("allow = 127.0.0.2/32\n"));
    const auto deadline = Clock::now() + Patience;
    while (bridge.log().find("Modbus:") == std::string::npos && Clock::now() < deadline) std::this_thread::sleep_for(50ms);
    const auto r = Mbpoll("-a 1 -t 1 -r 0 -c 1 " + Tcp());
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("[0]:"), std::string::npos) << r.output;
    EXPECT_NE(bridge.log().find("127.0.0.1 refused on 127.0.0.1:" + std::to_string(port) + ": not in the allow-list"),
              std::string::npos)
        << bridge.log();
    // The serial line has no addresses: RTU answers.
    EXPECT_EQ(Answered("-a 1 -t 1 -r 0 -c 1 " + Rtu()).status, 0) << bridge.log();
}

TEST_F(ModbusBridge, SixteenClientsAtOnceAreEachAnswered) {
    const uint32_t inputs[] = {emulator.setInputs(1, 0x5A5A), emulator.setInputs(2, 0xA5A5'0001)};
    kvtest::BridgeProcess bridge(Config());
    ASSERT_EQ(Answered("-a 1 -t 1 -r 0 -c 1 " + Tcp()).status, 0) << bridge.log();
    ASSERT_EQ(Answered("-a 2 -t 1 -r 0 -c 1 " + Tcp()).status, 0) << bridge.log();
    std::vector<std::future<MbpollResult>> clients;
    for (int c = 0; c < 16; ++c)
        clients.push_back(std::async(std::launch::async, [&, c] {
            return Mbpoll("-a " + std::to_string(1 + c % 2) + " -t 3:int -B -r 2 -c 1 " + Tcp());
        }));
    for (int c = 0; c < 16; ++c) {
        const auto r = clients[static_cast<size_t>(c)].get();
        ASSERT_EQ(r.status, 0) << c << ": " << r.output;
        EXPECT_EQ(Word32(r, 2), inputs[c % 2]) << c;
    }
}

TEST_F(ModbusBridge, BesideTheBrokerOnePollingServesBoth) {
    kvtest::Broker broker;
    kvtest::MqttClient client(broker.port());
    kvtest::BridgeProcess bridge("[broker]\nhost = 127.0.0.1\nport = " + std::to_string(broker.port()) +
                                 "\nclient id = test\n" + Config());
    ASSERT_TRUE(client.waitOn("kv618/alpha/online", [](const std::string& p) { return p == "true"; }, Patience))
        << bridge.log();
    ASSERT_EQ(Answered("-a 1 -t 4:int -B -r 0 " + Tcp() + " 90").status, 0) << bridge.log();
    // What Modbus wrote the topics say, as they say what MQTT wrote.
    EXPECT_TRUE(client.waitOn("kv618/alpha/outputs",
                              [](const std::string& p) { return p.find("\"value\":90") != std::string::npos; }, Patience));
    EXPECT_EQ(emulator.value("at 1 get outputs"), 90u);
}

// A port below 1024 on 127.0.0.1 that nothing listens on: 502 if it is free.
uint16_t FreePrivilegedPort() {
    for (int port = 502; port > 0; port = port == 502 ? 1023 : port - 1) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in at = kvtest::Loopback(static_cast<uint16_t>(port));
        const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
        ::close(fd);
        if (free) return static_cast<uint16_t>(port);
    }
    return 0;
}

// What the service gives the bridge, and no more: another user than root,
// with CAP_NET_BIND_SERVICE alone (AmbientCapabilities=), serves Modbus TCP
// on a port below 1024 such as 502; without it the bridge says what it lacks.
TEST_F(ModbusBridge, APortBelow1024ServesAsAnotherUserWithTheServicesOneCapability) {
    if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "becoming the user nobody takes root and setpriv";
    port = FreePrivilegedPort();
    ASSERT_NE(port, 0);
    const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    auto without = nobody, with = nobody;
    for (const char* o : {"--inh-caps=-all", "--bounding-set=-all", "--"}) without.push_back(o);
    for (const char* o : {"--inh-caps=-all,+net_bind_service", "--ambient-caps=-all,+net_bind_service",
                          "--bounding-set=-all,+net_bind_service", "--"})
        with.push_back(o);
    {
        kvtest::BridgeProcess refused(Config(), "", without);
        EXPECT_EQ(refused.waitExit(Patience), 1) << refused.log();
        EXPECT_NE(refused.log().find("127.0.0.1:" + std::to_string(port) + ": Permission denied (a port below 1024 "
                                     "needs the capability CAP_NET_BIND_SERVICE"),
                  std::string::npos)
            << refused.log();
    }
    const uint32_t inputs = emulator.setInputs(1, 0x8000'1234);
    kvtest::BridgeProcess bridge(Config(), "", with);
    const auto r = Answered("-a 1 -t 3:int -B -r 2 -c 1 " + Tcp());
    ASSERT_EQ(r.status, 0) << r.output << bridge.log();
    EXPECT_EQ(Word32(r, 2), inputs) << r.output;
    // It is not root that answered.
    const std::string status = kvtest::ReadFile("/proc/" + std::to_string(bridge.pid()) + "/status");
    EXPECT_EQ(status.find("\nUid:\t0\t"), std::string::npos) << status;
    EXPECT_NE(status.find("\nCapEff:\t0000000000000400\n"), std::string::npos) << status;  // CAP_NET_BIND_SERVICE alone
}

// Two lines may hold modules of one address: in one section their unit ids
// meet, which --check and the start refuse (78) naming both; a unit = N
// apart, the file is good.
TEST(ModbusBridgeCheck, OneUnitIdTwiceInASectionEndsTheCheckWith78) {
    kvtest::TemporaryFolder folder("kv618-modbus");
    const std::string path = folder.path() + "/bridge.conf";
    const std::string lan = "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = ";
    const std::string head = "[modbus]\nlisten = 127.0.0.1:" + std::to_string(kvtest::FreeTcpPort()) +
                             "\n[module kotelna]\n" + lan + "5000\nAdresa = 1\n[module cerpadla]\n" + lan +
                             "5001\nAdresa = 1\n";
    std::ofstream(path) << head;
    const std::string check = SlozkaProgramu() + "/kv618 bridge --check --config " + path;
    const std::string wanted = path + ":8: module cerpadla has unit id 1, as module kotelna (line 3)";
    auto [status, out] = kvtest::RunShell(check);
    EXPECT_EQ(status, 78) << out;
    EXPECT_NE(out.find(wanted), std::string::npos) << out;
    kvtest::BridgeProcess bridge(head);
    EXPECT_EQ(bridge.waitExit(Patience), 78) << bridge.log();
    EXPECT_NE(bridge.log().find("module cerpadla has unit id 1, as module kotelna (line 3)"), std::string::npos)
        << bridge.log();

    std::ofstream(path) << head << "unit = 2\n";
    std::tie(status, out) = kvtest::RunShell(check);
    EXPECT_EQ(status, 0) << out;
}

}  // namespace
