// The module model and its request handler, on a clock moved by hand.
#include <gtest/gtest.h>

#include "EmulatedModule.h"
#include "Requests.h"

namespace {

using emu::ManualClock;
using emu::EmulatedModule;
using wire::Outcome;

class ModelTest : public ::testing::Test {
protected:
    ModelTest() { module.PowerUp(std::nullopt); }

    wire::Reply Ask(uint8_t function, uint8_t subcode, std::array<uint8_t, 5> data = {}) {
        const auto reply = emu::HandleRequest(module, {0x4242, module.Address(), function, subcode, data});
        EXPECT_TRUE(reply);
        return reply.value_or(wire::Reply{});
    }
    static uint32_t U32(const wire::Reply& r) {
        return r.data[0] | r.data[1] << 8 | r.data[2] << 16 | uint32_t{r.data[3]} << 24;
    }
    uint32_t Quantity(uint8_t subcode) { return U32(Ask(0, subcode)); }
    void Write(uint8_t reg, uint8_t value) {
        EXPECT_EQ(Ask(0x67, 0, {0, reg, reg, value, value}).outcome, Outcome::Done) << "register " << int(reg);
    }
    uint8_t Read(uint8_t reg) { return Ask(0x66, 0, {0, reg, reg, 0, 0}).data[2]; }

    ManualClock clock;
    EmulatedModule module{clock, 1};
};

TEST_F(ModelTest, InputsAreReadWithTheirNegation) {
    module.SetRawInputs(0x0000000F);
    // Out of the box every input is negated.
    EXPECT_EQ(U32(Ask(0, 0x40)), 0xFFFFFFF0u);
    Write(0x21, 0x00);  // DIN0-7 plain
    Write(0x2A, 0x0F);  // DIN24-27 negated, DIN28-31 plain
    EXPECT_EQ(U32(Ask(0, 0x40)), 0x0FFFFF0Fu);
}

TEST_F(ModelTest, OutputsTakeTheirInitialStatesAtPowerUpOnly) {
    Write(0x20, 0x5A);
    Write(0x29, 0x80);
    EXPECT_EQ(module.Outputs(), 0u) << "a new initial state waits for the next power-up";
    EXPECT_EQ(Ask(1, 0x40, {0, 0x11, 0x22, 0x33, 0x44}).outcome, Outcome::Done);
    EXPECT_EQ(module.Outputs(), 0x44332211u);
    EXPECT_EQ(module.OutputPins(), ~0x44332211u) << "all outputs negated by default";
    Write(0x22, 0x00);
    EXPECT_EQ(module.OutputPins() & 0xFF, 0x11u);

    module.PowerFail();
    EXPECT_EQ(module.Outputs(), 0x8000005Au);
}

TEST_F(ModelTest, NewAddressAndBaudRateTakeEffectAfterPowerUp) {
    Write(0x3F, 9);
    Write(0x3E, 6);
    EXPECT_EQ(module.Address(), 1);
    EXPECT_EQ(Read(0x3F), 9) << "read back at the old address";
    EXPECT_EQ(module.BaudRate(), 9600);
    EXPECT_FALSE(emu::HandleRequest(module, {1, 9, 0xC8, 0, {}})) << "not yet at the new address";

    module.PowerFail();
    EXPECT_EQ(module.Address(), 9);
    EXPECT_EQ(module.BaudRate(), 38400);
    EXPECT_FALSE(emu::HandleRequest(module, {1, 1, 0xC8, 0, {}}));
    EXPECT_TRUE(emu::HandleRequest(module, {1, 9, 0xC8, 0, {}}));
}

TEST_F(ModelTest, RefusesWhatItDoesNotKnow) {
    EXPECT_EQ(Ask(0x10, 0).outcome, Outcome::UnknownFunction);
    EXPECT_EQ(Ask(0, 0x41).outcome, Outcome::UnknownSubcode);
    EXPECT_EQ(Ask(1, 0x54).outcome, Outcome::UnknownSubcode);
    EXPECT_EQ(Ask(0x64, 7).outcome, Outcome::UnknownSubcode);
    EXPECT_EQ(Ask(0xC8, 3).outcome, Outcome::UnknownSubcode);
    EXPECT_EQ(Ask(0x66, 1, {0, 0x20, 0x20, 0, 0}).outcome, Outcome::UnknownSubcode);
    for (uint8_t reg : {0x08, 0x1F, 0x2C, 0x3D, 0x40, 0xFF})
        EXPECT_EQ(Ask(0x66, 0, {0, reg, reg, 0, 0}).outcome, Outcome::UnknownRegister) << int(reg);
    EXPECT_EQ(Ask(0x66, 0, {0, 0x20, 0x21, 0, 0}).outcome, Outcome::UnknownRegister) << "copies disagree";
    EXPECT_EQ(Ask(0x67, 0, {0, 0x20, 0x20, 1, 2}).outcome, Outcome::BadValue) << "value copies disagree";
    EXPECT_EQ(Ask(0x67, 0, {0, 0x3E, 0x3E, 9, 9}).outcome, Outcome::BadValue) << "no such baud rate";
    EXPECT_EQ(module.Register(0x20), 0);
    EXPECT_EQ(module.Register(0x3E), 4);
    const auto refused = Ask(0x10, 0);
    EXPECT_EQ(refused.data, (std::array<uint8_t, 4>{}));
    EXPECT_EQ(refused.transaction, 0x4242);
}

TEST_F(ModelTest, IdentificationIsPrintable) {
    std::string text;
    for (uint8_t sub = 0; sub < 3; ++sub) {
        const auto reply = Ask(0xC8, sub, {0x12, 0, 0, 0, 0});
        text.append(reply.data.begin(), reply.data.end());
    }
    EXPECT_EQ(text, "KV-618  1.04");
}

TEST_F(ModelTest, ConfigurationRegistersReadBackAndFaultsShow) {
    for (uint8_t reg = 0; reg < 8; ++reg) Write(reg, static_cast<uint8_t>(0x30 + reg));
    for (uint8_t reg = 0; reg < 8; ++reg) EXPECT_EQ(Read(reg), 0x30 + reg);
    const auto reply = Ask(0x66, 0, {0, 0x05, 0x05, 0x35, 0x35});
    EXPECT_EQ(reply.data, (std::array<uint8_t, 4>{0x05, 0x05, 0x35, 0x35}));
    module.readbackFault.set(0x05);
    EXPECT_NE(Read(0x05), 0x35);
    EXPECT_EQ(module.Register(0x05), 0x35);
}

TEST_F(ModelTest, CountersFollowThePulseTrain) {
    Write(0x00, 0xE8);  // pulse number 1000 of counter 0
    Write(0x01, 0x03);
    module.Counter(0).SetRate(10, clock.SteadyMs());
    clock.Advance(5'000);
    EXPECT_EQ(Quantity(0x50), 50u);
    EXPECT_EQ(Quantity(0x80), 50u) << "consumption in Wh: count x 1000 / pulse number";
    EXPECT_EQ(Quantity(0x88), 100u) << "period in ms";
    EXPECT_EQ(Quantity(0x84), 36'000u) << "power in W: 3 600 000 x f / pulse number";
    EXPECT_EQ(Quantity(0x9C), 18'000u) << "half a window of pulses so far";
    clock.Advance(20'000);
    EXPECT_EQ(Quantity(0x9C), 36'000u) << "a full window agrees with the power";
    EXPECT_EQ(Quantity(0x51), 0u) << "other counters idle";
    EXPECT_EQ(Quantity(0x89), 0u);

    module.Counter(0).SetRate(0, clock.SteadyMs());
    clock.Advance(4'000);
    EXPECT_EQ(Quantity(0x50), 250u);
    EXPECT_EQ(Quantity(0x88), 0u) << "no train, no period";
    EXPECT_EQ(Quantity(0x84), 0u);
    EXPECT_EQ(Quantity(0x9C), 21'600u) << "6 s of the window still held pulses";
    clock.Advance(10'000);
    EXPECT_EQ(Quantity(0x9C), 0u);
}

TEST_F(ModelTest, CounterResetAndWrap) {
    module.SetStatus(0);
    module.Counter(2).SetCount(0xFFFFFFF0u, clock.SteadyMs());
    module.Counter(2).SetRate(10, clock.SteadyMs());
    clock.Advance(2'000);
    EXPECT_EQ(Quantity(0x52), 4u);
    EXPECT_EQ(Ask(1, 0x52).outcome, Outcome::Done);
    EXPECT_EQ(Quantity(0x52), 0u);
    EXPECT_TRUE(module.Status() & wire::status::RST);
    clock.Advance(1'000);
    EXPECT_EQ(Quantity(0x52), 10u);
    module.ForceQuantity(0x86, 1234);
    EXPECT_EQ(Quantity(0x86), 1234u);
    module.ClearQuantity(0x86);
    EXPECT_EQ(Quantity(0x86), 36'000'000u) << "10 Hz with pulse number 1";
}

TEST_F(ModelTest, StatusBitsFollowTheirEvents) {
    EXPECT_EQ(module.Status(), wire::status::PWR) << "a first power-up records no failure";
    EXPECT_EQ(U32(Ask(0x64, 0)), wire::status::PWR);
    EXPECT_EQ(Ask(0x65, 0).outcome, Outcome::Done);
    EXPECT_EQ(module.Status(), 0u);
    module.SupplyFault();
    module.DamagedFrame();
    EXPECT_EQ(U32(Ask(0x64, 0)), wire::status::ERR24 | wire::status::FN);
    module.PowerFail();
    const auto reply = Ask(0x64, 0);
    EXPECT_EQ(U32(reply), wire::status::ERR24 | wire::status::FN | wire::status::PWR | wire::status::PRF);
    EXPECT_EQ(reply.status, static_cast<uint8_t>(module.Status())) << "D0 is the status register's low byte";
}

TEST_F(ModelTest, ClockGroupsAreSetAndRead) {
    module.SetModuleWall(emu::FromCivil({2026, 12, 6, 11, 30, 15}));
    auto time = Ask(0x64, 1);
    EXPECT_EQ(time.data, (std::array<uint8_t, 4>{15, 30, 11, 0}));
    EXPECT_EQ(Ask(0x64, 2).data, (std::array<uint8_t, 4>{6, 12, 2, 0}));

    EXPECT_EQ(Ask(0x65, 1, {0, 5, 7, 9, 0}).outcome, Outcome::Done);
    EXPECT_EQ(Ask(0x64, 1).data, (std::array<uint8_t, 4>{5, 7, 9, 0}));
    EXPECT_EQ(Ask(0x65, 2, {0, 29, 2, 0, 0}).outcome, Outcome::Done) << "cycle year 0 is a leap year";
    EXPECT_EQ(Ask(0x64, 2).data, (std::array<uint8_t, 4>{29, 2, 0, 0}));
    clock.Advance(2'000);
    EXPECT_EQ(Ask(0x64, 1).data[0], 7) << "the clock keeps running";

    EXPECT_EQ(Ask(0x65, 1, {0, 60, 0, 0, 0}).outcome, Outcome::BadValue);
    EXPECT_EQ(Ask(0x65, 1, {0, 0, 0, 24, 0}).outcome, Outcome::BadValue);
    EXPECT_EQ(Ask(0x65, 2, {0, 29, 2, 1, 0}).outcome, Outcome::BadValue);
    EXPECT_EQ(Ask(0x65, 2, {0, 1, 13, 1, 0}).outcome, Outcome::BadValue);
    EXPECT_EQ(Ask(0x65, 2, {0, 1, 1, 4, 0}).outcome, Outcome::BadValue);
    EXPECT_EQ(Ask(0x64, 2).data, (std::array<uint8_t, 4>{29, 2, 0, 0}));
}

TEST_F(ModelTest, PowerFailureStampsAreKept) {
    const int64_t start = emu::FromCivil({2025, 3, 4, 5, 6, 7});
    module.SetModuleWall(emu::FromCivil({2025, 3, 4, 6, 0, 0}));
    module.PowerUp(start);
    EXPECT_EQ(Ask(0x64, 3).data, (std::array<uint8_t, 4>{7, 6, 5, 0}));
    EXPECT_EQ(Ask(0x64, 4).data, (std::array<uint8_t, 4>{4, 3, 1, 0}));
    EXPECT_EQ(Ask(0x64, 5).data, (std::array<uint8_t, 4>{0, 0, 6, 0}));
    EXPECT_EQ(Ask(0x64, 6).data, (std::array<uint8_t, 4>{4, 3, 1, 0}));
}

TEST_F(ModelTest, StateSurvivesAPowerFailure) {
    Write(0x3F, 12);
    Write(0x2B, 0x77);
    module.Counter(1).SetCount(999, clock.SteadyMs());
    module.SetModuleWall(emu::FromCivil({2026, 1, 2, 3, 4, 5}));
    const emu::ModuleState kept = module.State();

    ManualClock later;
    later.Wall = clock.Wall + 3600;
    later.Ms = clock.Ms;
    EmulatedModule next(later, 1);
    next.Restore(kept);
    next.PowerUp(kept.lastAlive);
    EXPECT_EQ(next.Address(), 12);
    EXPECT_EQ(next.Register(0x2B), 0x77);
    EXPECT_EQ(next.Counter(1).Count(later.SteadyMs()), 999u);
    EXPECT_EQ(next.FailureStart(), emu::FromCivil({2026, 1, 2, 3, 4, 5}));
    EXPECT_EQ(next.FailureEnd(), emu::FromCivil({2026, 1, 2, 4, 4, 5})) << "the clock ran on through the failure";
    EXPECT_TRUE(next.Status() & wire::status::PRF);
}

}  // namespace
