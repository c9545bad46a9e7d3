// The state file, the control commands and injected faults.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "Control.h"
#include "Service.h"
#include "StateFile.h"

namespace {

using emu::ManualClock;
using emu::ModuleState;
using emu::Service;

std::array<uint8_t, wire::RequestSize> Frame(uint8_t address, uint8_t function, uint8_t subcode,
                                             std::array<uint8_t, 5> data = {}, uint16_t transaction = 7) {
    return wire::Encode(wire::Request{transaction, address, function, subcode, data});
}

wire::Reply Decoded(const std::vector<uint8_t>& bytes) {
    wire::Reply reply;
    EXPECT_EQ(wire::Decode(bytes, reply), wire::DecodeError::None);
    return reply;
}

ModuleState SomeState() {
    ModuleState s;
    for (size_t i = 0; i < s.registers.size(); ++i) s.registers[i] = static_cast<uint8_t>(i * 7);
    s.clockOffset = -3600;
    s.lastAlive = 1'780'000'123;
    s.failureStart = 1'770'000'000;
    s.failureEnd = 1'770'000'500;
    s.counts = {1, 0xFFFFFFFFu, 3, 4};
    s.status = 0x54;
    return s;
}

TEST(StateFile, RoundTrip) {
    const ModuleState s = SomeState();
    const auto parsed = emu::ParseState(emu::FormatState(s));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->registers, s.registers);
    EXPECT_EQ(parsed->clockOffset, s.clockOffset);
    EXPECT_EQ(parsed->lastAlive, s.lastAlive);
    EXPECT_EQ(parsed->failureStart, s.failureStart);
    EXPECT_EQ(parsed->failureEnd, s.failureEnd);
    EXPECT_EQ(parsed->counts, s.counts);
    EXPECT_EQ(parsed->status, s.status);
}

TEST(StateFile, DamageIsDetected) {
    const std::string good = emu::FormatState(SomeState());
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::vector<std::string> damaged{
        "",
        "\n",
        good.substr(0, good.size() - 1),               // end mark cut
        good.substr(0, good.size() / 2),               // half a file
        good + "x=1\n",                                // data after the end mark
        replaced("kv618-state 1", "kv618-state 2"),    // another format
        replaced("status=84", "status=-1"),
        replaced("status=84", "status=99999999999"),
        replaced("counts=1,", "counts=1,,"),
        replaced("counts=1,", "counts="),
        replaced("clock-offset=", "clock-offset=x"),
        replaced("clock-offset=-3600", "clock-offset=9223372036854775807"),
        replaced("last-alive=", "last-alive=--"),
        replaced("failure-end=1770000500", "failure-end=1099511627777"),
        replaced("registers=00", "registers=0g"),
        replaced("registers=00", "registers=0"),
        replaced("last-alive", "alive"),
        replaced("status=", "status"),
        std::string("kv618-state 1\0\nend\n", 19),
    };
    for (const auto& text : damaged) {
        std::string why;
        EXPECT_FALSE(emu::ParseState(text, &why)) << text;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_TRUE(emu::ParseState("kv618-state 1\nend\n")) << "missing keys take defaults";
}

TEST(StateFile, FilesAreWrittenWholeAndLoaded) {
    char folder[] = "/tmp/kvstate-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string path = std::string(folder) + "/state";
    ModuleState loaded;
    std::string why;
    EXPECT_EQ(emu::LoadStateFile(path, loaded, why), emu::LoadResult::Missing);
    ASSERT_TRUE(emu::SaveStateFile(path, SomeState(), why)) << why;
    EXPECT_EQ(emu::LoadStateFile(path, loaded, why), emu::LoadResult::Loaded);
    EXPECT_EQ(loaded.counts, SomeState().counts);
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().string(), path) << "no temporary file left";
    std::ofstream(path) << "garbage";
    EXPECT_EQ(emu::LoadStateFile(path, loaded, why), emu::LoadResult::Damaged);
    EXPECT_FALSE(emu::SaveStateFile(std::string(folder) + "/missing/state", SomeState(), why));
    std::remove(path.c_str());
    ::rmdir(folder);
}

TEST(StateFile, SavingNeverWritesThroughALinkPlantedBesideTheFile) {
    char folder[] = "/tmp/kvstate-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string path = std::string(folder) + "/state";
    const std::string victim = std::string(folder) + "/victim";
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
    std::string why;
    ASSERT_TRUE(emu::SaveStateFile(path, SomeState(), why)) << why;
    std::stringstream kept;
    kept << std::ifstream(victim).rdbuf();
    EXPECT_EQ(kept.str(), "precious");
    ModuleState loaded;
    EXPECT_EQ(emu::LoadStateFile(path, loaded, why), emu::LoadResult::Loaded);
    std::filesystem::remove_all(folder);
}

TEST(StateFile, AFifoIsNotWaitedForAndNotReplaced) {
    char folder[] = "/tmp/kvstate-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string path = std::string(folder) + "/state";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    ModuleState loaded;
    std::string why;
    auto loading = std::async(std::launch::async, [&] { return emu::LoadStateFile(path, loaded, why); });
    if (loading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // lets the waiting reader go
        FAIL() << "loading the state waits for a writer to the FIFO";
    }
    EXPECT_EQ(loading.get(), emu::LoadResult::Damaged);
    EXPECT_FALSE(emu::SaveStateFile(path, SomeState(), why));
    EXPECT_NE(why.find(path), std::string::npos) << why;
    EXPECT_TRUE(std::filesystem::is_fifo(path)) << "the FIFO is not replaced";
    std::filesystem::remove_all(folder);
}

TEST(ControlCommands, ParseNumbersAndRanges) {
    const auto ok = [](const std::string& line) {
        auto parsed = emu::ParseCommand(line);
        EXPECT_TRUE(std::holds_alternative<emu::Command>(parsed)) << line;
        return std::holds_alternative<emu::Command>(parsed) ? std::get<emu::Command>(parsed) : emu::Command{};
    };
    const auto bad = [](const std::string& line) {
        EXPECT_TRUE(std::holds_alternative<emu::CommandError>(emu::ParseCommand(line))) << line;
    };
    auto c = ok("set reg 0x3F 255");
    EXPECT_EQ(c.kind, emu::CommandKind::SetReg);
    EXPECT_EQ(c.a, 0x3Fu);
    EXPECT_EQ(c.b, 255u);
    EXPECT_EQ(ok("set inputs 0xFFFFFFFF").a, 0xFFFFFFFFu);
    EXPECT_EQ(ok("  get   status \r").kind, emu::CommandKind::GetStatus);
    EXPECT_DOUBLE_EQ(ok("pulses 3 2.5").hz, 2.5);
    EXPECT_EQ(ok("fault refuse 0x66 0 2").count, 2u);
    EXPECT_EQ(ok("fault timeout 1 0x40").count, 0u);
    EXPECT_EQ(ok("fault delay 100 250").b, 250u);
    EXPECT_EQ(ok("set stamps 2025-01-02 03:04:05 2025-01-02 04:00:00").kind, emu::CommandKind::SetStamps);
    bad("");
    bad("set reg 256 1");
    bad("set reg 1");
    bad("set reg 1 2 3");
    bad("set inputs 0x100000000");
    bad("set inputs -1");
    bad("get counter 4");
    bad("pulses 0 -5");
    bad("pulses 0 nan");
    bad("fault drop 101");
    bad("fault refuse 1");
    bad("fault refuse 1 2 0");
    bad("set clock 2025-02-30 00:00:00");
    bad("set clock 2025-01-01 24:00:00");
    bad("set clock 2025-01-01");
    bad("set stamps 2025-01-02 03:04:05");
    bad("set stamps 2025-01-02 03:04:05 2025-02-30 00:00:00");
    bad("frobnicate");
}

class ServiceTest : public ::testing::Test {
protected:
    ServiceTest() { service.module.PowerUp(std::nullopt); }
    std::optional<emu::Outgoing> Send(uint8_t function, uint8_t subcode, std::array<uint8_t, 5> data = {}) {
        return service.OnFrame(Frame(1, function, subcode, data));
    }
    ManualClock clock;
    Service service{clock, 1};
};

TEST_F(ServiceTest, ControlCommandsReachTheModel) {
    // Each command with the reply it must get, in order.
    const auto converse = [&](const std::vector<std::pair<std::string, std::string>>& lines) {
        for (const auto& [command, reply] : lines) EXPECT_EQ(service.OnControl(command), reply) << command;
    };
    converse({
        {"ping", "ok"},
        {"set inputs 0x0F", "ok"},
        {"get inputs", "4294967280"},
        {"set reg 0x20 0x81", "ok"},
        {"get reg 0x20", "129"},
        {"get reg 0x30", "error no such register"},
        {"power-fail", "ok"},
        {"get outputs", "129"},
        {"get pins", std::to_string(~uint32_t{0x81})},
        {"set clock 2026-12-06 11:30:15", "ok"},
        {"get clock", "2026-12-06 11:30:15"},
        {"set stamps 2025-01-02 03:04:05 2025-01-02 04:00:00", "ok"},
        {"get stamps", "start=2025-01-02 03:04:05 end=2025-01-02 04:00:00"},
        {"set counter 1 0x10", "ok"},
        {"get counter 1", "16"},
        {"set quantity 0x9D 77", "ok"},
        {"set quantity 0x40 77", "error no such quantity"},
        {"pulses 1 1", "ok"},
    });
    clock.Advance(3000);
    converse({
        {"get counter 1", "19"},
        {"supply-fault", "ok"},
        {"get status", std::to_string(wire::status::PWR | wire::status::PRF | wire::status::ERR24)},
        {"nonsense", "error unknown command"},
    });
    EXPECT_FALSE(service.QuitRequested());
    EXPECT_EQ(service.OnControl("quit"), "ok");
    EXPECT_TRUE(service.QuitRequested());
}

TEST_F(ServiceTest, AClockSetFarAheadIsStoredAndReadBack) {
    for (const char* when : {"2400-01-01 00:00:00", "9999-12-31 23:59:59"}) {
        ASSERT_EQ(service.OnControl(std::string("set clock ") + when), "ok");
        clock.Advance(10'000);  // runs on, past the year 9999 in the second case
        const ModuleState kept = service.module.State();
        const auto back = emu::ParseState(emu::FormatState(kept));
        ASSERT_TRUE(back) << when;
        EXPECT_EQ(back->clockOffset, kept.clockOffset) << when;
        EXPECT_EQ(back->lastAlive, kept.lastAlive) << when;
    }
}

TEST_F(ServiceTest, RequestsAreCountedAndLogged) {
    EXPECT_EQ(service.OnControl("get last"), "error no request yet");
    EXPECT_FALSE(service.OnFrame(Frame(2, 0xC8, 0))) << "another module's request";
    auto bad = Frame(1, 0xC8, 0);
    bad[7] ^= 1;
    EXPECT_FALSE(service.OnFrame(bad));
    EXPECT_TRUE(service.module.Status() & wire::status::FN) << "a damaged frame is noticed";
    EXPECT_EQ(service.OnControl("get requests"), "0");
    for (int i = 0; i < 70; ++i) ASSERT_TRUE(Send(0x67, 0, {0, 0x20, 0x20, static_cast<uint8_t>(i), static_cast<uint8_t>(i)}));
    EXPECT_EQ(service.OnControl("get requests"), "70");
    EXPECT_EQ(service.OnControl("get last"), "103 0 0 32 32 69 69");
    const std::string log = service.OnControl("get log");
    EXPECT_EQ(std::count(log.begin(), log.end(), ';'), 63);
    EXPECT_EQ(log.substr(0, log.find(';')), "103 0 0 32 32 6 6");
    EXPECT_EQ(service.OnControl("clear log"), "ok");
    EXPECT_EQ(service.OnControl("get log"), "");
}

TEST_F(ServiceTest, FaultsAtFullRateAreCertain) {
    EXPECT_EQ(service.OnControl("fault drop 100"), "ok");
    EXPECT_FALSE(Send(0xC8, 0));
    EXPECT_EQ(service.OnControl("fault drop 0"), "ok");
    EXPECT_EQ(service.OnControl("fault crc 100"), "ok");
    auto out = Send(0xC8, 0);
    ASSERT_TRUE(out);
    wire::Reply reply;
    EXPECT_EQ(wire::Decode(out->bytes, reply), wire::DecodeError::Checksum);
    EXPECT_EQ(service.OnControl("fault clear"), "ok");
    EXPECT_EQ(service.OnControl("fault address 100"), "ok");
    EXPECT_EQ(Decoded(Send(0xC8, 0)->bytes).address, 2);
    EXPECT_EQ(service.OnControl("fault address 0"), "ok");
    EXPECT_EQ(service.OnControl("fault delay 100 250"), "ok");
    EXPECT_EQ(Send(0xC8, 0)->delayMs, 250u);
    EXPECT_EQ(service.OnControl("fault clear"), "ok");
    EXPECT_EQ(Send(0xC8, 0)->delayMs, 0u);
    EXPECT_EQ(service.OnControl("get requests"), "5");
}

TEST_F(ServiceTest, RefusalsAndTimeoutsCountDown) {
    EXPECT_EQ(service.OnControl("fault refuse 0x67 0 2"), "ok");
    EXPECT_EQ(service.OnControl("fault timeout 0 0x40 1"), "ok");
    const std::array<uint8_t, 5> write{0, 0x20, 0x20, 5, 5};
    EXPECT_EQ(Decoded(Send(0x67, 0, write)->bytes).outcome, emu::OutcomeRefusedByFault);
    EXPECT_EQ(Decoded(Send(0x67, 0, write)->bytes).outcome, emu::OutcomeRefusedByFault);
    EXPECT_EQ(service.module.Register(0x20), 0) << "a refused write changes nothing";
    EXPECT_EQ(Decoded(Send(0x67, 0, write)->bytes).outcome, wire::Outcome::Done);
    EXPECT_EQ(service.module.Register(0x20), 5);
    EXPECT_FALSE(Send(0, 0x40));
    EXPECT_TRUE(Send(0, 0x40));
    EXPECT_EQ(service.OnControl("fault readback 0x20"), "ok");
    EXPECT_NE(Decoded(Send(0x66, 0, {0, 0x20, 0x20, 5, 5})->bytes).data[2], 5);
    EXPECT_EQ(service.OnControl("fault refuse 0xC8 0"), "ok");
    for (int i = 0; i < 3; ++i) EXPECT_NE(Decoded(Send(0xC8, 0)->bytes).outcome, wire::Outcome::Done);
    EXPECT_EQ(service.OnControl("fault clear"), "ok");
    EXPECT_EQ(Decoded(Send(0x66, 0, {0, 0x20, 0x20, 5, 5})->bytes).data[2], 5);
    EXPECT_EQ(Decoded(Send(0xC8, 0)->bytes).outcome, wire::Outcome::Done);
}

TEST_F(ServiceTest, PartialFaultRatesHitSomeReplies) {
    EXPECT_EQ(service.OnControl("fault drop 50"), "ok");
    int answered = 0;
    for (int i = 0; i < 400; ++i) answered += Send(0xC8, 0).has_value();
    EXPECT_GT(answered, 100);
    EXPECT_LT(answered, 300);
}

}  // namespace
