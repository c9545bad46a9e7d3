// The bridge's configuration file: every fault named by its line, and the
// modules grouped into lines by their interface and connection.
#include "Config.h"
#include "Mqtt.h"

#include <gtest/gtest.h>

namespace {

using kvbridge::Config;
using kvbridge::ParseConfig;

const std::string Lan = "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = 5000\n";

std::string FaultOf(const std::string& text) {
    auto parsed = ParseConfig(text, "bridge.conf");
    if (!parsed.ok()) return parsed.message();
    return "(accepted)";
}

TEST(BridgeConfig, EveryFaultNamesItsLine) {
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"Adresa = 1\n", "bridge.conf:1: \"Adresa\" stands before any [section]"},
        {"[broker]\nhost = x\n[modul a]\n", "bridge.conf:3: unknown section"},
        {"[module a]\n" + Lan + "Adresa = 1\ninputz = 100 ms\n", "bridge.conf:6: unknown key \"inputz\""},
        {"[module a]\n" + Lan + "Adresa = 1\ninputs = fast\n", "bridge.conf:6: inputs takes a time"},
        {"[module a]\n" + Lan + "Adresa = 1\nstatus = 1 ms\n", "bridge.conf:6: status of 1 ms is shorter"},
        {"[module a]\nRozhraní = KV-9999\nAdresa = 1\n", "bridge.conf:2: Rozhraní must be COMx"},
        {"[module a]\n" + Lan + "Adresa = 300\n", "bridge.conf:5: Adresa must be a whole number 0-255"},
        {"[module a]\n" + Lan + "Adresa = 1\nRychlost = 1000\n", "bridge.conf:6: Rychlost must be one of"},
        {"[module a]\nRozhraní = KV-1726\nAdresa = 1\n", "bridge.conf:1: module a on KV-1726 needs \"IP adresa\""},
        {"[module a]\nRozhraní = KV-1726\nIP adresa = plc.local\n", "bridge.conf:3: IP adresa must be an IPv4"},
        {"[module a]\n" + Lan + "Adresa = 1\nČíslo portu = 2\n", "bridge.conf:6: \"Číslo portu\" is a parameter of COMx"},
        {"[module a]\n" + Lan + "Adresa = 1\noutputs = 1 s\n", "bridge.conf:6: the module has no request that reads its outputs"},
        {"[module a]\n" + Lan + "Adresa = 1\nAdresa = 2\n", "bridge.conf:6: \"Adresa\" is given twice"},
        {"[module a]\n" + Lan + "Adresa = 1\ncommands = everything\n", "bridge.conf:6: commands takes"},
        {"[module a/b]\n" + Lan + "Adresa = 1\n", "bridge.conf:1: module name \"a/b\""},
        {"[module a]\n" + Lan + "Adresa = 1\n[module b]\n" + Lan + "Adresa = 1\n",
         "bridge.conf:6: module b has address 1, as module a (line 1)"},
        {"[module a]\n" + Lan + "Adresa = 1\n[module b]\n" + Lan + "Adresa = 2\nUDP timeout = 900\n",
         "bridge.conf:6: module b is on the line KV-1726 127.0.0.1:5000 with module a (line 1) but gives another "
         "\"UDP timeout\""},
        {"[broker]\nport = 99999\n", "bridge.conf:2: port must be a whole number 1-65535"},
        {"[broker]\ncert file = c.pem\nkey file = k.pem\n", "bridge.conf:2: a client certificate needs a ca file"},
        {"[broker]\n", "bridge.conf: no [module NAME] section"},
        {"[module a]\n" + Lan + "Adresa = 1\nretry = off\n", "bridge.conf:6: retry takes a time"},
        {"[broker]\npayload = xml\n", "bridge.conf:2: payload is json (the default) or sparkplug"},
        {"[broker]\ngroup id = a/b\n", "bridge.conf:2: group id must be one level of a topic"},
        {"[broker]\npayload = sparkplug\nhomeassistant discovery = yes\n",
         "bridge.conf:3: homeassistant discovery goes with the JSON topics"},
    };
    for (const Case& c : cases) {
        const std::string fault = FaultOf(c.text);
        EXPECT_EQ(fault.rfind(c.expected, 0), 0u) << "config:\n" << c.text << "gave: " << fault;
    }
}

TEST(BridgeConfig, ModulesOfOneConnectionShareALine) {
    const std::string text =
        "[module a]\n" + Lan + "Adresa = 1\n"
        "[module b]\n" + Lan + "Adresa = 2\nRychlost = 19200\n"
        "[module c]\nRozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = 5001\nAdresa = 1\n"
        "[module d]\nROZHRANÍ = comx\nčíslo portu = 3\nAdresa = 1\n";
    auto parsed = ParseConfig(text, "bridge.conf");
    ASSERT_TRUE(parsed.ok()) << parsed.message();
    const Config& config = parsed.value();
    ASSERT_EQ(config.lines.size(), 3u);
    EXPECT_EQ(config.lines[0].modules, (std::vector<size_t>{0, 1}));
    EXPECT_EQ(config.lines[0].name, "KV-1726 127.0.0.1:5000");
    EXPECT_EQ(config.lines[2].name, "COMx 3");
    EXPECT_EQ(config.modules[1].data.Rychlost, 19200);
}

TEST(BridgeConfig, OneSessionServesMoreModulesThanASessionEach) {
    std::string modules;
    for (int i = 0; i < 301; ++i)
        modules += "[module m" + std::to_string(i) + "]\nRozhraní = KV-1726\nIP adresa = 127.0.0." +
                   std::to_string(i / 250 + 1) + "\nAdresa = " + std::to_string(i % 250) + "\n";
    EXPECT_NE(FaultOf(modules).find("at most 300 modules with the JSON topics"), std::string::npos) << FaultOf(modules);
    // [broker] may come after the modules.
    auto parsed = ParseConfig(modules + "[broker]\npayload = sparkplug\n", "bridge.conf");
    ASSERT_TRUE(parsed.ok()) << parsed.message();
    EXPECT_EQ(parsed.value().modules.size(), 301u);
}

TEST(BridgeConfig, TheBridgeRefusesABadFileWithTheLine) {
    kvtest::BridgeProcess bridge("[module a]\n" + Lan + "Adresa = 1\ninputs = 100\n");
    const auto status = bridge.waitExit(std::chrono::seconds(10));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 78);
    EXPECT_NE(bridge.log().find("bridge.conf:6: inputs takes a time"), std::string::npos) << bridge.log();
}

}  // namespace

namespace {

TEST(BridgeConfig, TheToolsNamesStandBesideTheSettingsFilesKeys) {
    const std::string text =
        "[module a]\ninterface = kv1726\nip = 127.0.0.1\nudp port = 5001\ntimeout = 300\naddress = 7\nrate = 19200\n"
        "[module b]\ninterface = pci726\nbase = 2A0h\naddress = 1\n"
        "[module c]\nRozhraní = PCI-726\nBázová adresa = 768\nAdresa = 1\n";
    auto parsed = ParseConfig(text, "bridge.conf");
    ASSERT_TRUE(parsed.ok()) << parsed.message();
    const auto& m = parsed->modules;
    EXPECT_EQ(m[0].type, RozhraniKV1726);
    EXPECT_EQ(m[0].data.UDPPort, 5001);
    EXPECT_EQ(m[0].data.UDPTimeout, 300);
    EXPECT_EQ(m[0].data.Adresa, 7);
    EXPECT_EQ(m[0].data.Rychlost, 19200);
    EXPECT_EQ(m[1].data.BazovaAdresa, 0x2A0) << "the tool's base is hexadecimal";
    EXPECT_EQ(m[2].data.BazovaAdresa, 768) << "the settings file's base is decimal";
    EXPECT_EQ(FaultOf("[module a]\ninterface = KV-1726\naddress = 1\n").rfind("bridge.conf:2: interface must be com", 0), 0u);
    EXPECT_EQ(FaultOf("[module a]\ninterface = kv1726\nip = 999.1.1.1\n").rfind("bridge.conf:3: ip must be an IPv4", 0), 0u);
    EXPECT_EQ(FaultOf("[module a]\n" + Lan + "interface = kv1726\n").rfind("bridge.conf:5: \"interface\" names the interface again", 0), 0u);
}

TEST(BridgeConfig, AByteOrderMarkAndWindows1250AreRead) {
    const std::string text = "[module a]\nRozhraní = KV-1726\nIP adresa = 127.0.0.1\nAdresa = 1\n";
    EXPECT_EQ(FaultOf("\xEF\xBB\xBF" + text), "(accepted)");
    EXPECT_EQ(FaultOf("[module a]\nRozhran\xED = KV-1726\nIP adresa = 127.0.0.1\nAdresa = 1\n"), "(accepted)");
}

}  // namespace
