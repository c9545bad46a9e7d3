// The module layer against the emulator, over the LAN converter and the
// serial line through the real libraries, and against a stand-in library
// that records what reaches it.
#include "Commands.h"
#include "Connection.h"
#include "Emulator.h"
#include "Interfaces.h"
#include "StoredSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "TestFiles.h"

namespace {

using kvtest::ReadFile;

using namespace kv618;

constexpr int32_t NoReply = 1;  // the libraries' code for a silent module
constexpr int32_t LanTimeoutMs = 150;

TData LanRecord(uint16_t port) {
    TData data;
    InicializujData(&data);
    data.IPAdresa = "127.0.0.1";
    data.UDPPort = port;
    data.UDPTimeout = LanTimeoutMs;
    return data;
}

int32_t OpenLan(Connection& connection, uint16_t port) {
    const TData data = LanRecord(port);
    return connection.Open(RozhraniKV1726, InitBlock(data, RozhraniKV1726), 9600);
}

int32_t OpenSerial(Connection& connection, const kvtest::Emulator& emulator, int32_t rate) {
    ::setenv("QCOM726_COM7", emulator.ptyPath().c_str(), 1);
    TData data;
    InicializujData(&data);
    data.CisloPortu = 7;
    return connection.Open(RozhraniCOM, InitBlock(data, RozhraniCOM), rate);
}

class OverLan : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenLan(connection, emulator.udpPort()), 0); }
    kvtest::Emulator emulator;
    Connection connection;
    Module module() const { return connection.At(1); }
};

TEST_F(OverLan, IdentifiesTheModule) {
    const auto identity = module().Identify();
    ASSERT_TRUE(identity.ok()) << module().Text(identity.error);
    EXPECT_EQ(identity.value.Text(), "KV-618   v.1.04");
}

TEST_F(OverLan, EveryBlockWrittenReadsBackAsWritten) {
    TKonfigurace wanted = VychoziKonfigurace();
    wanted.UlozenaRychlost = 6;
    wanted.ImpulsniCislo[2] = 1000;
    wanted.NegaceDIN[3] = 0x5A;
    wanted.PocatecniDOUT[0] = 0x81;
    for (const Block block : Blocks) ASSERT_TRUE(WriteBlock(module(), block, wanted).ok());

    TKonfigurace read{};
    for (const Block block : Blocks) ASSERT_TRUE(ReadBlock(module(), block, read).ok());
    EXPECT_EQ(std::memcmp(&read, &wanted, sizeof read), 0);
    EXPECT_EQ(emulator.value("get reg 0x05"), 0x03u) << "1000 = 0x03E8, high byte of counter 2";
    EXPECT_EQ(emulator.value("get reg 0x2A"), 0x5Au);
}

TEST_F(OverLan, AMismatchedReadBackStopsTheWriteWithTheEarlierRegistersWritten) {
    emulator.command("fault readback 0x24");
    TKonfigurace wanted = VychoziKonfigurace();
    for (auto& b : wanted.PocatecniDOUT) b = 0x11;
    for (auto& b : wanted.NegaceDIN) b = 0x22;
    const SequenceResult result = WriteBlock(module(), Block::InputsOutputs, wanted);
    EXPECT_TRUE(result.mismatch);
    EXPECT_EQ(result.done, 5) << "four initial states and the first input negation byte";
    EXPECT_EQ(emulator.value("get reg 0x29"), 0x11u);
    EXPECT_EQ(emulator.value("get reg 0x27"), 0xFFu) << "nothing after the failure is written";
}

TEST_F(OverLan, AStopBetweenRegistersEndsTheSequenceThere) {
    Pacing pacing;
    int pauses = 0;
    pacing.pause = [&] { return ++pauses < 3; };
    TKonfigurace read{};
    const SequenceResult result = ReadBlock(module(), Block::InputsOutputs, read, pacing);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.done, 3);
    EXPECT_EQ(emulator.value("get requests"), 3u);
}

TEST_F(OverLan, LiveOperationsReachTheModule) {
    ASSERT_EQ(module().WriteOutputs(0x80000001u), 0);
    EXPECT_EQ(emulator.value("get outputs"), 0x80000001u);
    emulator.command("set inputs 0x0F");
    EXPECT_EQ(module().ReadInputs().value, 0x0Fu ^ 0xFFFFFFFFu) << "inputs come negated by default";
    emulator.command("set counter 2 77");
    EXPECT_EQ(module().ReadQuantity(wire::Quantity::Pulses, 2).value, 77u);
    ASSERT_EQ(module().ResetCounters(), 0);
    EXPECT_EQ(module().ReadQuantity(wire::Quantity::Pulses, 2).value, 0u);
    EXPECT_TRUE(module().ReadStatus().value & wire::status::RST);
    ASSERT_EQ(module().ResetStatus(), 0);
    EXPECT_EQ(module().ReadStatus().value, 0u);

    const ClockReading set{{15, 30, 11}, {6, 12, 2}};
    ASSERT_EQ(module().SetClock(set), 0);
    const auto clock = module().ReadClock();
    ASSERT_TRUE(clock.ok());
    EXPECT_EQ(clock.value.time.d3, 11);
    EXPECT_EQ(clock.value.date.d2, 12);
}

TEST_F(OverLan, ARefusalAndASilentAddressComeBackAsCodes) {
    emulator.command("fault refuse 0x64 0");
    EXPECT_NE(module().ReadStatus().error, 0);
    EXPECT_EQ(connection.At(9).ReadInputs().error, NoReply);
    EXPECT_FALSE(connection.Text(NoReply).empty());
}

// Three modules on one line: each answers its own address only, and on the
// serial line only at its own speed.
TEST(Bus, ThreeModulesOnTheLanEachAnswerTheirOwnAddress) {
    kvtest::Emulator emulator(kvtest::ModulesOnLine({"1", "2", "3"}));
    Connection connection;
    ASSERT_EQ(OpenLan(connection, emulator.udpPort()), 0);
    for (const uint8_t address : {1, 2, 3}) EXPECT_TRUE(connection.At(address).Identify().ok()) << int(address);
    ASSERT_EQ(connection.At(2).WriteOutputs(0xABCD), 0);
    EXPECT_EQ(emulator.value("at 2 get outputs"), 0xABCDu);
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0u);
    EXPECT_EQ(emulator.value("at 3 get outputs"), 0u);
    EXPECT_EQ(connection.At(4).ReadInputs().error, NoReply);
}

TEST(Bus, OnTheSerialLineAModuleAnswersOnlyAtItsOwnSpeed) {
    kvtest::Emulator emulator(kvtest::ModulesOnLine({"1", "2:19200", "3:2400"}));
    Connection connection;
    ASSERT_EQ(OpenSerial(connection, emulator, 9600), 0);
    EXPECT_TRUE(connection.At(1).Identify().ok());
    EXPECT_EQ(connection.At(2).Identify().error, NoReply);
    ASSERT_EQ(connection.SetRate(19200), 0);
    EXPECT_TRUE(connection.At(2).Identify().ok());
    EXPECT_EQ(connection.At(1).Identify().error, NoReply);
    ASSERT_EQ(connection.SetRate(2400), 0);
    EXPECT_TRUE(connection.At(3).Identify().ok());
}

TEST(Trace, EveryExchangeLeavesOneLineWithItsVerdict) {
    kvtest::Emulator emulator;
    const std::string file = emulator.tempDir() + "/trace";
    ::setenv("KV618_TRACE", file.c_str(), 1);
    Connection connection;
    const int32_t opened = OpenLan(connection, emulator.udpPort());
    ::unsetenv("KV618_TRACE");
    ASSERT_EQ(opened, 0);
    ASSERT_TRUE(connection.At(1).ReadInputs().ok());
    EXPECT_EQ(connection.At(5).ReadInputs().error, NoReply);

    std::istringstream lines(ReadFile(file));
    std::string first, second, third;
    ASSERT_TRUE(std::getline(lines, first) && std::getline(lines, second));
    EXPECT_FALSE(std::getline(lines, third)) << third;
    EXPECT_NE(first.find("QKV1726.DLL request A5 "), std::string::npos) << first;
    EXPECT_NE(first.find(" accepted "), std::string::npos) << first;
    EXPECT_NE(second.find(" reply - no reply "), std::string::npos) << second;
}

// The stand-in library answers every request with status 1 and the bytes
// 12 34 56 78, and journals what it is sent.
class StandIn : public ::testing::Test {
protected:
    void SetUp() override {
        journal_ = ::testing::TempDir() + "/module-journal-" + std::to_string(::getpid());
        std::remove(journal_.c_str());
        ::setenv("KV_FAKE_JOURNAL", journal_.c_str(), 1);
        ASSERT_EQ(connection.Open(RozhraniCOM, {}, 9600, FAKE_DIR), 0);
    }
    void TearDown() override {
        ::unsetenv("KV_FAKE_JOURNAL");
        ::unsetenv("KV_FAKE_SEND_ERROR");
    }
    std::string Sends() const {
        std::istringstream lines(ReadFile(journal_));
        std::string line, sends;
        while (std::getline(lines, line))
            if (line.rfind("Send", 0) == 0) sends += line.substr(line.find("req=") + 4) + "\n";
        return sends;
    }
    std::string journal_;
    Connection connection;
};

TEST_F(StandIn, IdentifyCarriesEachReplyStatusIntoTheNextRequest) {
    ASSERT_TRUE(connection.At(3).Identify().ok());
    EXPECT_EQ(Sends(), "3,200,0,0,0,0,0,0\n3,200,1,1,0,0,0,0\n3,200,2,1,0,0,0,0\n");
}

TEST_F(StandIn, AnEchoedReadBackCarriesTheValueWrittenAndComparesD3) {
    const WriteCheck check = connection.At(1).WriteVerified(0x06, 0x56, ReadBack::Echo);
    EXPECT_TRUE(check.ok()) << "the stand-in's D3 is 0x56";
    EXPECT_EQ(Sends(), "1,103,0,0,6,6,86,86\n1,102,0,0,6,6,86,86\n");
    EXPECT_TRUE(connection.At(1).WriteVerified(0x06, 0x57, ReadBack::Plain).mismatch);
}

TEST_F(StandIn, ALibraryErrorStopsTheBlockWithItsText) {
    ::setenv("KV_FAKE_SEND_ERROR", "6", 1);
    TKonfigurace settings = VychoziKonfigurace();
    const SequenceResult result = ReadBlock(connection.At(1), Block::PulseNumbers, settings);
    EXPECT_EQ(result.error, 6);
    EXPECT_EQ(result.done, 0);
    EXPECT_EQ(settings.ImpulsniCislo[0], 1) << "nothing stored from a failed read";
    EXPECT_EQ(connection.Text(6), "chyba č. 6");
}

}  // namespace

namespace {

// A fresh module's stamps (midnight, 1 January of the cycle's first year, or
// all zeros) with PRF clear are no failure; PRF or any other stamp is one.
TEST(StandInPowerFailures, NoneOnlyWithPrfClearAndBothStampsNeverRecorded) {
    const kv618::ClockReading never{{0, 0, 0}, {1, 1, 0}};
    const kv618::ClockReading zeros{};
    const kv618::ClockReading real{{5, 7, 9}, {3, 4, 2}};
    EXPECT_TRUE(kv618::NoPowerFailure(0, never, never));
    EXPECT_TRUE(kv618::NoPowerFailure(0, zeros, never));
    EXPECT_FALSE(kv618::NoPowerFailure(wire::status::PRF, never, never));
    EXPECT_FALSE(kv618::NoPowerFailure(0, never, real));
    EXPECT_FALSE(kv618::NoPowerFailure(0, kv618::ClockReading{{1, 0, 0}, {1, 1, 0}}, never)) << "a second past midnight";
}

}  // namespace
