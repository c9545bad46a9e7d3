// kv618 scan as a process: every module found once at its address and
// rate, over the serial line and the LAN converter, also where replies come
// late.
#include "ReplyTime.h"
#include "SlowConverter.h"
#include "ToolFixture.h"

#include <algorithm>
#include <chrono>

namespace {

using namespace clitest;

class Scan : public Tool {
protected:
    Scan() : Tool(kvtest::ModulesOnLine({"1", "2:19200", "3:2400"})) {}
};

// Modules at three rates whose replies take the line's time and then nearly
// the module's whole turnaround, as the scan's probe time-out allows for.
kvtest::EmulatorOptions SlowBus() {
    kvtest::EmulatorOptions options = kvtest::ModulesOnLine({"1", "2:19200", "3:2400"});
    options.lineTiming = true;
    options.extraArgs = {"--reply-delay", std::to_string(wire::ModuleTurnaroundMs)};
    return options;
}

class SlowScan : public Tool {
protected:
    SlowScan() : Tool(SlowBus()) {}
    std::vector<std::string> Found(const Args& link, const std::string& bauds, const std::string& addresses = "0-5") {
        const Outcome scan = Kv(link + Args{"scan", "--addresses", addresses, "--bauds", bauds});
        EXPECT_EQ(scan.status, 0) << scan.err;
        auto lines = Lines(scan.out);
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

const std::vector<std::string> ThreeRates = {"1 9600 " + std::string(Identity), "2 19200 " + std::string(Identity),
                                             "3 2400 " + std::string(Identity)};

TEST_F(SlowScan, FindsEveryModuleOnceOnTheSerialLine) {
    EXPECT_EQ(Found(Serial(0), "all"), ThreeRates);
}

// Whether or not the LAN converter carries the rate to its line, each module
// is found once, with its own rate.
TEST_F(SlowScan, FindsEveryModuleOnceOverUdp) {
    EXPECT_EQ(Found(Lan(0), "2400,9600,19200"), ThreeRates);
}

// A module that answers later than its probe waits is asked again with the
// link's whole time-out: its late reply shows during the next address's
// probe.  (Over UDP the modules at other rates may answer as well, where the
// converter does not carry the rate to its line.)
TEST_F(SlowScan, AModuleThatAnswersLateIsAskedAgainAndFoundOnce) {
    ASSERT_EQ(emulator.command("at 2 fault delay 100 60"), "ok");
    for (const Args& link : {Lan(0), Serial(0)}) {
        const auto found = Found(link, "19200", "0-15");
        EXPECT_EQ(std::count(found.begin(), found.end(), ThreeRates[1]), 1) << link[1];
    }
}

TEST_F(SlowScan, AProbeTimeOutOfItsOwnIsAnnouncedAndUsed) {
    const Outcome scan = Kv(Serial(0) + Args{"scan", "--addresses", "0-9", "--bauds", "19200", "--probe-timeout", "100"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.err.find("nejhorší případ trvá 1,0 s"), std::string::npos) << scan.err;
    EXPECT_EQ(Lines(scan.out), (std::vector<std::string>{ThreeRates[1]}));
}

// The LAN converter carries the rate to its line: as on the serial line,
// every rate is tried unless --bauds says otherwise, and each module is
// found at its own.
TEST_F(Scan, OverTheLanConverterEveryRateIsTriedAsOnTheSerialLine) {
    const Outcome scan = Kv(Lan(0) + Args{"scan", "--addresses", "1-3"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    auto lines = Lines(scan.out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, ThreeRates);
}

// A reply that comes after its probe's wait, where no later probe of the
// range would show it: the range's last address gets the rest of its whole
// time-out all the same, on the serial line as over the LAN converter.
TEST_F(SlowScan, AModuleThatAnswersLateAtTheRangesEndIsFound) {
    ASSERT_EQ(emulator.command("at 2 fault delay 100 60"), "ok");
    for (const Args& link : {Lan(0), Serial(0)}) EXPECT_EQ(Found(link, "19200", "0-2"), (std::vector{ThreeRates[1]})) << link[1];
}

// Behind a LAN converter whose round trip is long (the link's whole time-out
// is the block's 200 ms), a module is found also where no later probe would
// show its late reply: at the range's end, and alone; and the scan says it
// asked every address within its time-out.
class SlowConverterScan : public Tool, public ::testing::WithParamInterface<int> {
protected:
    SlowConverterScan()
        : Tool(kvtest::ModulesOnLine({"1", "5"})), converter(emulator.udpPort(), std::chrono::milliseconds(GetParam())) {}
    std::vector<int> Found(const std::string& addresses) {
        const Json scan = KvJson(LanAt(converter.port(), 0) + Args{"scan", "--addresses", addresses, "--bauds", "9600"});
        EXPECT_EQ(scan["complete"], true) << addresses;
        std::vector<int> found;
        for (const Json& module : scan["modules"]) {
            found.push_back(module["address"]);
            EXPECT_EQ(module["baud"], 9600);
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    kvtest::SlowConverter converter;
};

TEST_P(SlowConverterScan, FindsTheModuleAtTheRangesEndAndAlone) {
    EXPECT_EQ(Found("2-5"), std::vector<int>{5});
    EXPECT_EQ(Found("5-5"), std::vector<int>{5});
    EXPECT_EQ(Found("0-5"), (std::vector<int>{1, 5}));
}

INSTANTIATE_TEST_SUITE_P(Delays, SlowConverterScan, ::testing::Values(40, 100),
                         [](const auto& info) { return std::to_string(info.param) + "ms"; });

TEST_F(Bus, ScanInJsonListsEveryModuleFound) {
    const Json scan = KvJson(Lan(1) + Args{"scan", "--addresses", "0-3"});
    ASSERT_EQ(scan["modules"].size(), 2u) << scan.dump();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(scan["modules"][i]["address"], i + 1);
        EXPECT_EQ(scan["modules"][i]["baud"], 9600);
        EXPECT_EQ(scan["modules"][i]["text"], Identity);
    }
    EXPECT_EQ(scan["complete"], true);
}

}  // namespace
