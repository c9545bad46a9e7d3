// Each of the five libraries, loaded through the program's binding, against a
// running kv618emu over its real transport: UDP on loopback, the emulator's
// pseudo-terminal, and its card sockets.  The module's state is checked with
// the emulator's control commands.
#include "DriverTestSupport.h"
#include "Emulator.h"
#include "qxxx726_abi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>

namespace {

using drvtest::exchange;
using drvtest::Outcome;

constexpr int32_t ComPort = 5;
constexpr int32_t LanTimeoutMs = 250;
// Reply time-out of the serial line and the cards at 9600 Bd and time 13:
// the floor of the rule (docs/library-abi.md).
constexpr int32_t LineTimeoutMs = 200;

struct Interface {
    uint8_t type;
    const char* name;
};

void PrintTo(const Interface& interface, std::ostream* out) { *out << interface.name; }

class Module : public ::testing::TestWithParam<Interface> {
protected:
    void SetUp() override {
        emulator_ = std::make_unique<kvtest::Emulator>();
        ASSERT_EQ(connect(), 0);
    }
    void TearDown() override {
        if (handle_) UkonciRozhrani(type(), &handle_);
    }

    uint8_t type() const { return GetParam().type; }
    int32_t timeoutMs() const { return type() == RozhraniKV1726 ? LanTimeoutMs : LineTimeoutMs; }

    // What the connection dialog does: point the library at the module,
    // initialise it and set the speed.
    int32_t connect(intptr_t isaBase = 0x300) {
        ::setenv("QCOM726_COM5", emulator_->ptyPath().c_str(), 1);
        ::setenv("KV618_CARD_DIR", emulator_->cardDir().c_str(), 1);
        TInitParametry block{};
        switch (type()) {
            case RozhraniCOM: block[0] = ComPort; break;
            case RozhraniPCI726: block[0] = isaBase; break;
            case RozhraniKV1726: block = drvtest::lanBlock(emulator_->udpPort(), LanTimeoutMs); break;
            default: break;
        }
        if (const int32_t e = InitRozhrani(type(), &handle_, block)) return e;
        return KonfigRozhrani(type(), handle_, 9600, TimeoutRychlosti(9600), 2);
    }

    Outcome send(uint8_t function, uint8_t subcode, std::array<uint8_t, 5> d = {}, uint8_t address = 1) {
        return exchange(type(), handle_, address, function, subcode, d);
    }
    std::string command(const std::string& line) { return emulator_->command(line); }
    uint32_t value(const std::string& line) { return emulator_->value(line); }

    static std::array<uint8_t, 5> bytesOf(uint32_t v) {
        return {0, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                static_cast<uint8_t>(v >> 24)};
    }
    static uint32_t valueOf(const Outcome& o) { return SlozCislo(o.d[1], o.d[2], o.d[3], o.d[4]); }

    std::unique_ptr<kvtest::Emulator> emulator_;
    int32_t handle_ = 0;
};

TEST_P(Module, IdentifiesItself) {
    std::string ident;
    uint8_t d0 = 0;
    for (uint8_t sub = 0; sub <= 2; ++sub) {
        const Outcome o = send(0xC8, sub, {d0, 0, 0, 0, 0});
        ASSERT_EQ(o.error, 0) << TextKodu(type(), o.error);
        d0 = o.d[0];
        if (sub == 2) ident += " v.";
        for (int i = 1; i <= 4; ++i) ident += static_cast<char>(o.d[i]);
    }
    EXPECT_EQ(ident, "KV-618   v.1.04");
    EXPECT_EQ(command("get last"), "200 2 " + std::to_string(d0) + " 0 0 0 0");
    EXPECT_EQ(TextKodu(type(), 0), "Komunikace v pořádku");
}

TEST_P(Module, ReadsInputsAndWritesOutputs) {
    ASSERT_EQ(command("set inputs 0x12345678"), "ok");
    const Outcome in = send(0, 0x40);
    ASSERT_EQ(in.error, 0);
    EXPECT_EQ(valueOf(in), value("get inputs"));
    for (const char* negation : {"0x21", "0x24", "0x27", "0x2A"}) command(std::string("set reg ") + negation + " 0");
    EXPECT_EQ(valueOf(send(0, 0x40)), 0x12345678u) << "DIN0 is bit 0 of D1";

    const Outcome out = send(1, 0x40, bytesOf(0xCAFE0180));
    ASSERT_EQ(out.error, 0);
    EXPECT_EQ(value("get outputs"), 0xCAFE0180u);
}

TEST_P(Module, ReadsEveryCounterQuantityAndResetsCounters) {
    std::vector<uint8_t> subcodes;
    for (int s = 0x50; s <= 0x53; ++s) subcodes.push_back(static_cast<uint8_t>(s));
    for (int s = 0x80; s <= 0x8B; ++s) subcodes.push_back(static_cast<uint8_t>(s));
    for (int s = 0x9C; s <= 0x9F; ++s) subcodes.push_back(static_cast<uint8_t>(s));
    for (uint8_t sub : subcodes) {
        const uint32_t v = 0x01020300u + sub * 0x01010101u;
        ASSERT_EQ(command("set quantity " + std::to_string(sub) + " " + std::to_string(v)), "ok");
        const Outcome o = send(0, sub);
        ASSERT_EQ(o.error, 0) << std::hex << int(sub);
        EXPECT_EQ(valueOf(o), v) << std::hex << int(sub);
        command("clear quantity " + std::to_string(sub));
    }
    for (int n = 0; n < 4; ++n) {
        ASSERT_EQ(command("set counter " + std::to_string(n) + " 4321"), "ok");
        ASSERT_EQ(send(1, static_cast<uint8_t>(0x50 + n)).error, 0);
        EXPECT_EQ(value("get counter " + std::to_string(n)), 0u) << n;
    }
}

TEST_P(Module, ReadsAndResetsTheStatusRegister) {
    ASSERT_EQ(command("set status 0x00010025"), "ok");
    const Outcome o = send(0x64, 0);
    ASSERT_EQ(o.error, 0);
    EXPECT_EQ(valueOf(o), 0x00010025u);
    EXPECT_EQ(o.d[0], 0x25) << "the reply status is the register's low byte";
    ASSERT_EQ(send(0x65, 0).error, 0);
    EXPECT_EQ(value("get status"), 0u);
}

TEST_P(Module, ReadsAndSetsTheClockAndReadsTheStamps) {
    ASSERT_EQ(command("set stamps 2025-01-02 03:04:05 2026-11-12 13:14:15"), "ok");
    const std::array<std::array<uint8_t, 3>, 4> stamps = {{{5, 4, 3}, {2, 1, 2025 % 4}, {15, 14, 13}, {12, 11, 2026 % 4}}};
    for (uint8_t sub = 3; sub <= 6; ++sub) {
        const Outcome o = send(0x64, sub);
        ASSERT_EQ(o.error, 0);
        EXPECT_EQ((std::array<uint8_t, 3>{o.d[1], o.d[2], o.d[3]}), stamps[sub - 3]) << int(sub);
    }
    ASSERT_EQ(command("set clock 2026-03-04 05:06:07"), "ok");
    const Outcome date = send(0x64, 2);
    ASSERT_EQ(date.error, 0);
    EXPECT_EQ((std::array<uint8_t, 3>{date.d[1], date.d[2], date.d[3]}), (std::array<uint8_t, 3>{4, 3, 2}));
    const Outcome time = send(0x64, 1);
    ASSERT_EQ(time.error, 0);
    EXPECT_EQ(time.d[3], 5);
    EXPECT_EQ(time.d[2], 6);

    ASSERT_EQ(send(0x65, 1, {0, 30, 20, 10, 0}).error, 0);  // 10:20:30
    ASSERT_EQ(send(0x65, 2, {0, 24, 12, 2, 0}).error, 0);   // 24.12., cycle 2
    const std::string clock = command("get clock");
    EXPECT_EQ(clock.substr(4, 6), "-12-24") << clock;
    EXPECT_EQ(clock.substr(11, 5), "10:20") << clock;
}

TEST_P(Module, ReadsAndWritesConfigurationRegisters) {
    ASSERT_EQ(command("set reg 0x21 0x5A"), "ok");
    const Outcome read = send(0x66, 0, {0, 0x21, 0x21, 0, 0});
    ASSERT_EQ(read.error, 0);
    EXPECT_EQ(read.d[3], 0x5A);
    const Outcome write = send(0x67, 0, {0, 0x22, 0x22, 0x33, 0x33});
    ASSERT_EQ(write.error, 0);
    EXPECT_EQ(value("get reg 0x22"), 0x33u);
    EXPECT_EQ(command("get last"), "103 0 0 34 34 51 51");
}

TEST_P(Module, RefusedRequestsGiveTheirCodesAndClearTheData) {
    struct Case {
        uint8_t function, subcode;
        std::array<uint8_t, 5> d;
        uint8_t code;
    };
    const Case cases[] = {
        {0x99, 0, {}, 6},                         // unknown function
        {0x64, 9, {}, 7},                         // unknown sub-code
        {0x66, 0, {0, 0x10, 0x10, 0, 0}, 8},      // no such register
        {0x67, 0, {0, 0x22, 0x22, 1, 2}, 5},      // value copies disagree
    };
    for (const Case& c : cases) {
        const Outcome o = send(c.function, c.subcode, c.d);
        EXPECT_TRUE(drvtest::failedWith(o, c.code)) << int(c.function) << "/" << int(c.subcode);
    }
    EXPECT_EQ(TextKodu(type(), 6), "Modul požadavek odmítl - neznámý kód funkce");
    ASSERT_EQ(command("fault refuse 0 64 1"), "ok");
    EXPECT_NE(send(0, 0x40).error, 0);
    EXPECT_EQ(send(0, 0x40).error, 0) << "refused once only";
}

// Behind the LAN converter, as on the serial line, a module hears only
// requests sent at its own rate.
TEST(LanConverter, AModuleAnswersOnlyAtItsRate) {
    kvtest::Emulator emulator(kvtest::ModulesOnLine({"1", "2:19200"}));
    int32_t handle = 0;
    ASSERT_EQ(InitRozhrani(RozhraniKV1726, &handle, drvtest::lanBlock(emulator.udpPort(), LanTimeoutMs)), 0);
    EXPECT_EQ(exchange(RozhraniKV1726, handle, 1, 0xC8, 0).error, 0) << "9600 Bd before any setting";
    EXPECT_EQ(exchange(RozhraniKV1726, handle, 2, 0xC8, 0).error, 1);
    ASSERT_EQ(KonfigRozhrani(RozhraniKV1726, handle, 19200, TimeoutRychlosti(19200), 2), 0);
    EXPECT_EQ(exchange(RozhraniKV1726, handle, 2, 0xC8, 0).error, 0);
    EXPECT_EQ(exchange(RozhraniKV1726, handle, 1, 0xC8, 0).error, 1);
    EXPECT_EQ(emulator.value("at 2 get requests"), 1u);
    EXPECT_EQ(emulator.value("at 1 get requests"), 1u);
    UkonciRozhrani(RozhraniKV1726, &handle);
}

TEST_P(Module, AModuleAtAnotherAddressDoesNotAnswer) {
    const uint32_t before = value("get requests");
    const Outcome o = send(0xC8, 0, {}, 2);
    EXPECT_EQ(o.error, 1);
    EXPECT_EQ(TextKodu(type(), o.error), "Modul neodpovídá - zkontrolujte adresu modulu, rychlost a vedení");
    EXPECT_EQ(value("get requests"), before);
    EXPECT_EQ(send(0xC8, 0).error, 0) << "the right address still works";
}

TEST_P(Module, DamagedRepliesAndRepliesFromElsewhereGiveTheirCodes) {
    ASSERT_EQ(command("fault crc 100"), "ok");
    EXPECT_EQ(send(0xC8, 0).error, 2);
    ASSERT_EQ(command("fault clear"), "ok");
    ASSERT_EQ(command("fault address 100"), "ok");
    EXPECT_EQ(send(0xC8, 0).error, 4);
    ASSERT_EQ(command("fault clear"), "ok");
    ASSERT_EQ(command("fault drop 100"), "ok");
    EXPECT_EQ(send(0xC8, 0).error, 1);
    ASSERT_EQ(command("fault clear"), "ok");
    EXPECT_EQ(send(0xC8, 0).error, 0);
}

TEST_P(Module, AStaleReplyIsNeverTakenForTheCurrentOne) {
    ASSERT_EQ(command("set reg 0x21 0x11"), "ok");
    ASSERT_EQ(command("set reg 0x24 0x44"), "ok");
    ASSERT_EQ(command("set reg 0x27 0x77"), "ok");
    // The first reply comes late, while the second request (which the module
    // never answers) is still waiting.
    ASSERT_EQ(command("fault delay 100 " + std::to_string(timeoutMs() + timeoutMs() / 2)), "ok");
    EXPECT_EQ(send(0x66, 0, {0, 0x21, 0x21, 0, 0}).error, 1);
    ASSERT_EQ(command("fault clear"), "ok");
    ASSERT_EQ(command("fault timeout 102 0 1"), "ok");
    const Outcome second = send(0x66, 0, {0, 0x24, 0x24, 0, 0});
    EXPECT_TRUE(drvtest::failedWith(second, 1));
    const Outcome third = send(0x66, 0, {0, 0x27, 0x27, 0, 0});
    ASSERT_EQ(third.error, 0);
    EXPECT_EQ(third.d[1], 0x27);
    EXPECT_EQ(third.d[3], 0x77);
}

TEST_P(Module, AStoppedModuleGivesAnErrorWithoutHanging) {
    ASSERT_EQ(send(0xC8, 0).error, 0);
    emulator_->stop();
    const Outcome o = send(0xC8, 0);
    // No reply over UDP; the serial line hangs up and its device is then
    // gone; the card is gone.
    const uint8_t expected = type() == RozhraniKV1726 ? 1 : type() == RozhraniCOM ? 18 : 15;
    EXPECT_TRUE(drvtest::failedWith(o, expected)) << TextKodu(type(), o.error);
    const uint8_t again = type() == RozhraniCOM ? 11 : expected;
    EXPECT_EQ(send(0xC8, 0).error, again) << "and again, still without hanging";
}

TEST_P(Module, TheLinkComesBackAfterTheModuleRestarts) {
    ASSERT_EQ(send(0xC8, 0).error, 0);
    emulator_->restart();
    uint8_t error = 0xFF;
    // The first request may find the old line or socket gone; the library
    // opens it afresh for the next one.
    for (int attempt = 0; attempt < 3 && error != 0; ++attempt) error = send(0xC8, 0).error;
    EXPECT_EQ(error, 0) << TextKodu(type(), error);
}

INSTANTIATE_TEST_SUITE_P(EveryInterface, Module,
                         ::testing::Values(Interface{RozhraniCOM, "COM"}, Interface{RozhraniPCI726, "ISA"},
                                           Interface{RozhraniPCI1726, "PCI"}, Interface{RozhraniUSB1726, "USB"},
                                           Interface{RozhraniKV1726, "LAN"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The serial line only.
class SerialModule : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("QCOM726_COM5", emulator_.ptyPath().c_str(), 1); }
    void TearDown() override {
        if (handle_) UkonciRozhrani(RozhraniCOM, &handle_);
    }
    int32_t init() {
        TInitParametry block{};
        block[0] = ComPort;
        return InitRozhrani(RozhraniCOM, &handle_, block);
    }
    static kvtest::EmulatorOptions withLineTiming() {
        kvtest::EmulatorOptions options;
        options.lineTiming = true;
        return options;
    }
    kvtest::Emulator emulator_{withLineTiming()};
    int32_t handle_ = 0;
};

TEST_F(SerialModule, AWrongRateGetsNoAnswerAndTheRightOneDoes) {
    ASSERT_EQ(init(), 0);
    ASSERT_EQ(KonfigRozhrani(RozhraniCOM, handle_, 19200, 7, 2), 0);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0xC8, 0).error, 1);
    ASSERT_EQ(KonfigRozhrani(RozhraniCOM, handle_, 9600, 13, 2), 0);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0xC8, 0).error, 0);
}

TEST_F(SerialModule, ANewRateTakesEffectAfterThePowerFailure) {
    ASSERT_EQ(init(), 0);
    ASSERT_EQ(KonfigRozhrani(RozhraniCOM, handle_, 9600, 13, 2), 0);
    // Rate index 6 = 38400 Bd, effective from the next power-up.
    ASSERT_EQ(exchange(RozhraniCOM, handle_, 1, 0x67, 0, {0, 0x3E, 0x3E, 6, 6}).error, 0);
    ASSERT_EQ(emulator_.command("power-fail"), "ok");
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0xC8, 0).error, 1);
    ASSERT_EQ(KonfigRozhrani(RozhraniCOM, handle_, 38400, 5, 2), 0);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0xC8, 0).error, 0);
}

TEST_F(SerialModule, APortInUseIsBusyForASecondProgram) {
    ASSERT_EQ(init(), 0);
    drvtest::Library library("QCOM726.DLL");
    const auto initDirect = library.entry<Qxxx726_InitPort>("QCOM726_Init");
    int32_t second = 0;
    EXPECT_EQ(initDirect(&second, ComPort), 12);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0xC8, 0).error, 0) << "the first link is untouched";
}

TEST(CardModule, ACardAtAnotherBaseIsNotFound) {
    kvtest::Emulator emulator;
    ::setenv("KV618_CARD_DIR", emulator.cardDir().c_str(), 1);
    int32_t handle = 0;
    TInitParametry block{};
    block[0] = 0x2A0;
    EXPECT_EQ(InitRozhrani(RozhraniPCI726, &handle, block), 15);
    ::setenv("KV618_CARD_DIR", (emulator.tempDir() + "/nothing-here").c_str(), 1);
    EXPECT_EQ(InitRozhrani(RozhraniPCI1726, &handle, TInitParametry{}), 15);
    EXPECT_EQ(InitRozhrani(RozhraniUSB1726, &handle, TInitParametry{}), 15);
}

}  // namespace
