// The Modbus face's parts in the test process: the register map against the
// documents that show it, the reading of requests as libmodbus hands them
// over, the image's freshness rules, and the [modbus] section's keys.
#include "Config.h"
#include "Image.h"
#include "ModbusConfig.h"
#include "RegisterMap.h"
#include "Request.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace kvbridge::modbus;
using namespace std::chrono_literals;

// The Markdown table of docs/modbus.md: the lines from its header row to the
// first line that is not a row.
std::string DocumentedTable(const std::string& text) {
    const size_t start = text.find("| Address | Type | Name | Unit | What |");
    if (start == std::string::npos) return {};
    size_t end = start;
    while (end < text.size() && text[end] == '|') end = text.find('\n', end) + 1;
    return text.substr(start, end - start);
}

// Where the code's rendering goes when a document differs, to be copied over it.
void Keep(const std::string& name, const std::string& text) {
    std::ofstream(std::filesystem::path(KV_BUILD_DIR) / name) << text;
}

TEST(ModbusMap, TheDocumentsShowTheCodesTable) {
    const std::string csv = kvtest::ReadFile(KV_SOURCE_DIR "/docs/modbus-map.csv");
    if (csv != MapCsv()) Keep("modbus-map.csv", MapCsv());
    EXPECT_EQ(csv, MapCsv()) << "copy " KV_BUILD_DIR "/modbus-map.csv to docs/";
    const std::string table = DocumentedTable(kvtest::ReadFile(KV_SOURCE_DIR "/docs/modbus.md"));
    if (table != MapMarkdown()) Keep("modbus-map.md", MapMarkdown());
    EXPECT_EQ(table, MapMarkdown()) << "docs/modbus.md's table differs from " KV_BUILD_DIR "/modbus-map.md";
}

TEST(ModbusMap, EveryAddressOfATableHasOneRowAndValuesDoNotOverlap) {
    for (const Table t : {Table::Coils, Table::DiscreteInputs, Table::InputRegisters, Table::HoldingRegisters}) {
        const uint16_t size = TableSize(t);
        ASSERT_GT(size, 0);
        for (uint16_t a = 0; a < size; ++a) EXPECT_NE(PointAt(t, a), nullptr) << static_cast<int>(t) << " " << a;
        EXPECT_EQ(PointAt(t, size), nullptr);
    }
    EXPECT_EQ(TableSize(Table::Coils), 32);
    EXPECT_EQ(TableSize(Table::DiscreteInputs), 32);
    EXPECT_EQ(PointAt(Table::InputRegisters, CounterAddress(3, 4))->name, "counter3_power_10s_w");
    EXPECT_EQ(PointAt(Table::InputRegisters, CounterAddress(0, 1) + 1)->unit, "Wh");
    // Every point of the CSV on a line of its own: 32 + 32 bits and the values.
    const std::string csv = MapCsv();
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 32 + 32 + static_cast<long>(Map().size()) - 2);
}

// A Modbus TCP request: MBAP header (transaction 1, protocol 0, length), unit, PDU.
std::vector<uint8_t> Tcp(uint8_t unit, std::vector<uint8_t> pdu, int lengthField = -1) {
    const int length = lengthField >= 0 ? lengthField : static_cast<int>(pdu.size()) + 1;
    const uint8_t header[] = {0, 1, 0, 0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), unit};
    pdu.insert(pdu.begin(), std::begin(header), std::end(header));
    return pdu;
}

Request Read(const std::vector<uint8_t>& frame) {
    return Interpret(frame.data(), static_cast<int>(frame.size()), 7, true);
}

TEST(ModbusRequest, FieldsAreCheckedInTheProtocolsOrder) {
    auto r = Read(Tcp(5, {0x02, 0, 0, 0, 32}));
    EXPECT_EQ(r.kind, Request::Read);
    EXPECT_EQ(r.unit, 5);
    EXPECT_EQ(r.table, Table::DiscreteInputs);
    EXPECT_EQ(r.count, 32);
    EXPECT_EQ(Read(Tcp(5, {0x02, 0, 0, 0, 33})).exception, IllegalAddress);
    EXPECT_EQ(Read(Tcp(5, {0x02, 0, 0, 0, 0})).exception, IllegalValue);
    EXPECT_EQ(Read(Tcp(5, {0x04, 0, 100, 0, 1})).exception, IllegalAddress);
    EXPECT_EQ(Read(Tcp(5, {0x04, 0, 0, 0, 126})).exception, IllegalValue);
    EXPECT_EQ(Read(Tcp(5, {0x05, 0, 3, 0x12, 0x34})).exception, IllegalValue);
    EXPECT_EQ(Read(Tcp(5, {0x07})).exception, IllegalFunction);
    // Ten coils from 4: the first is bit 0 of the first byte.
    r = Read(Tcp(5, {0x0F, 0, 4, 0, 10, 2, 0x05, 0x02}));
    EXPECT_EQ(r.kind, Request::Write);
    EXPECT_EQ(r.coils, 0x205u);
    EXPECT_EQ(Read(Tcp(5, {0x0F, 0, 4, 0, 10, 1, 0x05})).exception, IllegalValue);  // byte count
    r = Read(Tcp(5, {0x10, 0, 0, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(r.registers, (std::vector<uint16_t>{0x1234, 0x5678}));
}

TEST(ModbusRequest, AFrameOutOfStepIsMalformed) {
    // A length field that does not count what came, a protocol other than 0.
    EXPECT_EQ(Read(Tcp(5, {0x02, 0, 0, 0, 32}, 9)).kind, Request::Malformed);
    auto frame = Tcp(5, {0x02, 0, 0, 0, 32});
    frame[3] = 1;
    EXPECT_EQ(Read(frame).kind, Request::Malformed);
    EXPECT_EQ(Read(Tcp(5, {0x10, 0, 0, 0, 1, 4, 1, 2})).kind, Request::Malformed);
    // A function libmodbus does not know: answered, then the connection closes.
    const auto unknown = Read(Tcp(5, {0x2B}, 5));
    EXPECT_EQ(unknown.exception, IllegalFunction);
    EXPECT_TRUE(unknown.closeAfter);
}

class ModbusImage : public ::testing::Test {
protected:
    ModbusImage() : image(3, {{2, 50ms, 50ms, 0ms, {true, false, true}}}) {
        units.fill(-1);
        units[7] = 0;
    }
    Answer Ask(const std::vector<uint8_t>& frame) { return Decide(Read(frame), units, image, Clock::now(), snapshot); }

    Image image;
    Units units;
    Snapshot snapshot;
};

TEST_F(ModbusImage, ServesOnlyFreshValuesOfAnAnsweringModule) {
    EXPECT_EQ(Ask(Tcp(8, {0x02, 0, 0, 0, 32})).exception, PathUnavailable);
    EXPECT_EQ(Ask(Tcp(7, {0x02, 0, 0, 0, 32})).exception, TargetFailed);  // not online yet
    image.Online(2, {});
    EXPECT_EQ(Ask(Tcp(7, {0x02, 0, 0, 0, 32})).exception, TargetFailed);  // online, inputs not read yet
    image.Inputs(2, 0x80000005);
    auto a = Ask(Tcp(7, {0x02, 0, 0, 0, 32}));
    ASSERT_EQ(a.kind, Answer::Reply);
    EXPECT_EQ(snapshot.discreteInputs[0], 1);
    EXPECT_EQ(snapshot.discreteInputs[1], 0);
    EXPECT_EQ(snapshot.discreteInputs[31], 1);
    ASSERT_EQ(Ask(Tcp(7, {0x04, 0, 2, 0, 2})).kind, Answer::Reply);
    EXPECT_EQ(snapshot.inputRegisters[2], 0x8000);  // the high word first
    EXPECT_EQ(snapshot.inputRegisters[3], 0x0005);
    // Counters are not polled: not in this module's map.
    EXPECT_EQ(Ask(Tcp(7, {0x04, 0, 20, 0, 2})).exception, IllegalAddress);
    // Three intervals later the inputs are stale: the module counts as silent.
    std::this_thread::sleep_for(160ms);
    EXPECT_EQ(Ask(Tcp(7, {0x02, 0, 0, 0, 1})).exception, TargetFailed);
    image.Inputs(2, 1);
    EXPECT_EQ(Ask(Tcp(7, {0x02, 0, 0, 0, 1})).kind, Answer::Reply);
    image.Offline(2);
    EXPECT_EQ(Ask(Tcp(7, {0x04, 0, 4, 0, 2})).exception, TargetFailed);
}

TEST_F(ModbusImage, WritesFollowTheBridgesRules) {
    image.Online(2, {});
    // Outputs are unknown until the bridge wrote all 32: a single coil is refused with a reason.
    auto a = Ask(Tcp(7, {0x05, 0, 3, 0xFF, 0}));
    EXPECT_EQ(a.exception, DeviceFailure);
    EXPECT_NE(a.refusal.find("write all 32 first"), std::string::npos);
    EXPECT_EQ(Ask(Tcp(7, {0x01, 0, 0, 0, 32})).exception, DeviceFailure);
    a = Ask(Tcp(7, {0x10, 0, 0, 0, 2, 4, 0xA5, 0x5A, 0x00, 0x0F}));
    ASSERT_EQ(a.kind, Answer::Write);
    ASSERT_EQ(a.commands.size(), 1u);
    EXPECT_EQ(a.commands[0].outputs, 0xA55A000Fu);
    EXPECT_EQ(a.commands[0].mask, 0xFFFFFFFFu);
    image.OutputsWritten(2, 0xA55A000F);
    a = Ask(Tcp(7, {0x05, 0, 4, 0xFF, 0}));
    ASSERT_EQ(a.kind, Answer::Write);
    EXPECT_EQ(a.commands[0].mask, 1u << 4);
    EXPECT_EQ(a.commands[0].outputs, 1u << 4);
    ASSERT_EQ(Ask(Tcp(7, {0x03, 0, 0, 0, 2})).kind, Answer::Reply);
    EXPECT_EQ(snapshot.holdingRegisters[0], 0xA55A);
    // Counters' resets are not enabled for this module; the status register's is.
    EXPECT_EQ(Ask(Tcp(7, {0x06, 0, 2, 0, 1})).exception, IllegalFunction);
    EXPECT_EQ(Ask(Tcp(7, {0x06, 0, 3, 0, 2})).exception, IllegalValue);
    a = Ask(Tcp(7, {0x06, 0, 3, 0, 1}));
    ASSERT_EQ(a.kind, Answer::Write);
    EXPECT_EQ(a.commands[0].kind, kvbridge::Command::ResetStatus);
    // 0 in a reset register does nothing and needs no exchange.
    EXPECT_EQ(Ask(Tcp(7, {0x06, 0, 3, 0, 0})).kind, Answer::Reply);
    image.Offline(2);
    EXPECT_EQ(Ask(Tcp(7, {0x06, 0, 3, 0, 1})).exception, TargetFailed);
}

TEST(ModbusConfig, EveryKeyRefusesWhatItCannotTake) {
    kvbridge::ModbusConfig m;
    const auto fault = [&](const char* key, const char* value) {
        const auto read = kvbridge::ReadModbusKey(m, key, value, 1);
        return read.ok() ? std::string("(accepted)") : read.message();
    };
    EXPECT_EQ(fault("listen", "127.0.0.1:1502"), "(accepted)");
    EXPECT_EQ(fault("listen", "[::1]:502"), "(accepted)");
    EXPECT_NE(fault("listen", "plc.example:502").find("listen takes ADDRESS:PORT"), std::string::npos);
    EXPECT_NE(fault("listen", "127.0.0.1:70000").find("listen takes"), std::string::npos);
    EXPECT_EQ(fault("rtu", "/dev/ttyUSB1 19200 8N1"), "(accepted)");
    EXPECT_EQ(fault("rtu", "/dev/ttyUSB2"), "(accepted)");
    EXPECT_NE(fault("rtu", "/dev/ttyUSB1 19200 7E1").find("8N1, 8E1"), std::string::npos);
    EXPECT_NE(fault("rtu", "/dev/ttyUSB1 1000").find("the rate of rtu"), std::string::npos);
    EXPECT_EQ(fault("allow", "127.0.0.0/8"), "(accepted)");
    EXPECT_EQ(fault("allow", "::1"), "(accepted)");
    EXPECT_NE(fault("allow", "127.0.0.1/8").find("bits set past its first 8"), std::string::npos);
    EXPECT_NE(fault("allow", "127.0.0.0/33").find("allow takes"), std::string::npos);
    EXPECT_NE(fault("max connections", "0").find("max connections must be a whole number 1-512"), std::string::npos);
    EXPECT_NE(fault("idle timeout", "10 ms").find("idle timeout takes"), std::string::npos);
    EXPECT_NE(fault("port", "502").find("unknown key \"port\" in [modbus]"), std::string::npos);
    ASSERT_EQ(m.listen.size(), 2u);
    EXPECT_EQ(m.listen[1].Text(), "[::1]:502");
    ASSERT_EQ(m.rtu.size(), 2u);
    EXPECT_EQ(m.rtu[0].Text(), "/dev/ttyUSB1 19200 8N1");
    EXPECT_EQ(m.rtu[1].Text(), "/dev/ttyUSB2 19200 8E1");  // the serial line's defaults

    // 127.0.0.0/8 holds 127.0.0.2 and not ::2; ::1 only itself.
    const auto peer = [](const char* text) {
        std::array<uint8_t, 16> a{};
        if (std::string(text).find(':') == std::string::npos) {
            a[10] = a[11] = 0xFF;
            ::inet_pton(AF_INET, text, a.data() + 12);
        } else {
            ::inet_pton(AF_INET6, text, a.data());
        }
        return a;
    };
    EXPECT_TRUE(kvbridge::Allowed(m.allow, peer("127.0.0.2")));
    EXPECT_TRUE(kvbridge::Allowed(m.allow, peer("::1")));
    EXPECT_FALSE(kvbridge::Allowed(m.allow, peer("::2")));
    EXPECT_FALSE(kvbridge::Allowed({m.allow[1]}, peer("127.0.0.1")));
    EXPECT_TRUE(kvbridge::Allowed({}, peer("127.0.0.9")));
}

TEST(ModbusConfig, UnitIdsAreUniqueInTheirSectionAndTheBrokerIsOptional) {
    const std::string lan = "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = 5000\n";
    const std::string other = "Rozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = 5001\n";
    const auto fault = [](const std::string& text) {
        auto parsed = kvbridge::ParseConfig(text, "bridge.conf");
        return parsed.ok() ? std::string("(accepted)") : parsed.message();
    };
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"[modbus]\nlisten = here\n", "bridge.conf:2: listen takes ADDRESS:PORT"},
        {"[modbus]\nport = 502\n", "bridge.conf:2: unknown key \"port\" in [modbus]"},
        {"[modbus]\n[modbus]\n", "bridge.conf:2: a second [modbus] section (the first is on line 1)"},
        {"[modbus a/b]\n", "bridge.conf:1: a [modbus NAME] is named with"},
        // Two lines, one address: their unit ids meet in one section.
        {"[modbus]\n[module a]\n" + lan + "Adresa = 1\n[module b]\n" + other + "Adresa = 1\n",
         "bridge.conf:7: module b has unit id 1, as module a (line 2); give one of them another with \"unit = N\""},
        {"[modbus]\n[module a]\n" + lan + "Adresa = 0\n", "bridge.conf:2: module a has address 0, which is no Modbus unit id"},
        {"[modbus]\n[module a]\n" + lan + "Adresa = 1\nunit = 248\n", "bridge.conf:7: unit must be a whole number 1-247"},
        {"[modbus]\n[module a]\n" + lan + "Adresa = 1\nmodbus = hall2\n",
         "bridge.conf:7: module a names [modbus hall2], which the file does not have"},
        {"[module a]\n" + lan + "Adresa = 1\nmodbus = hall2\n", "bridge.conf:6: module a names [modbus hall2], and the file"},
        {"[mod]\n", "bridge.conf:1: unknown section \"[mod]\"; there are [broker], [modbus] and [module NAME]"},
    };
    for (const Case& c : cases) EXPECT_EQ(fault(c.text).rfind(c.expected, 0), 0u) << c.text << "gave: " << fault(c.text);

    // unit = N, another section, or none: each module placed once.
    auto parsed = kvbridge::ParseConfig("[modbus]\nlisten = 127.0.0.1:1502\nlisten = [::1]:1502\n[modbus b]\nrtu = /dev/ttyUSB1\n"
                                        "[module a]\n" + lan + "Adresa = 1\n[module b]\n" + other + "Adresa = 1\nunit = 2\n"
                                        "[module c]\n" + other + "Adresa = 2\nmodbus = b\n[module d]\n" + other +
                                        "Adresa = 3\nmodbus = off\n",
                                        "bridge.conf");
    ASSERT_TRUE(parsed.ok()) << parsed.message();
    const auto& config = parsed.value();
    EXPECT_FALSE(config.Mqtt());
    ASSERT_EQ(config.modbus.size(), 2u);
    EXPECT_EQ(config.modbus[0].listen.size(), 2u);
    EXPECT_TRUE(config.modbus[1].listen.empty());  // RTU alone: no default listen address
    EXPECT_EQ(config.modules[0].unit, 1);
    EXPECT_EQ(config.modules[1].unit, 2);
    EXPECT_EQ(config.modules[2].modbusSection, 1);
    EXPECT_EQ(config.modules[2].unit, 2);
    EXPECT_EQ(config.modules[3].modbusSection, -1);
    // Without [modbus] the file is the MQTT bridge's, as before.
    parsed = kvbridge::ParseConfig("[module a]\n" + lan + "Adresa = 0\n", "bridge.conf");
    ASSERT_TRUE(parsed.ok()) << parsed.message();
    EXPECT_TRUE(parsed->Mqtt());
    EXPECT_EQ(parsed->modules[0].modbusSection, -1);
}

}  // namespace
