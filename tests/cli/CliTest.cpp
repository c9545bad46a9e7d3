// kv618 run as a process, as an operator or a script runs it, against the
// emulator through the real libraries over the LAN converter and the serial
// line: one test per behaviour.
#include "Commands.h"
#include "Dekl.h"
#include "Emulator.h"
#include "Process.h"
#include "kv_version.h"
#include "reply_time.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "TestFiles.h"

namespace {

using kvtest::ReadFile;

using namespace kv618;
using clitest::Environment;
using clitest::Outcome;
using Args = std::vector<std::string>;
using Json = nlohmann::json;

// The operator's language, as LANG chooses it (nothing else in the way).
Environment Language(const std::string& lang) {
    return {{"LANG", lang}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANGUAGE", ""}};
}
const Environment Czech = Language("cs_CZ.UTF-8"), English = Language("C.UTF-8");

Environment operator+(Environment a, const Environment& b) {
    for (const auto& [key, value] : b) {
        std::erase_if(a, [&](const auto& entry) { return entry.first == key; });
        a.emplace_back(key, value);
    }
    return a;
}

constexpr const char* Identity = "KV-618   v.1.04";
constexpr int SerialPort = 7;

Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string SetReg(int address, uint8_t reg, int value) {
    return "at " + std::to_string(address) + " set reg " + std::to_string(reg) + " " + std::to_string(value);
}
std::string GetReg(int address, uint8_t reg) {
    return "at " + std::to_string(address) + " get reg " + std::to_string(reg);
}

// The emulator's log of requests holds no register write.
bool NothingWritten(kvtest::Emulator& emulator, int address) {
    const std::string log = emulator.command("at " + std::to_string(address) + " get log");
    return (";" + log).find(";" + std::to_string(function::WriteRegister) + " ") == std::string::npos;
}

// A module on the emulator's line; each test's records and mappings stay in
// its own folders.
class Tool : public ::testing::Test {
protected:
    explicit Tool(kvtest::EmulatorOptions options = {}) : emulator(std::move(options)) {}

    Args Lan(int address) const {
        return {"--interface", "kv1726", "--ip", "127.0.0.1", "--udp-port", std::to_string(emulator.udpPort()),
                "--address", std::to_string(address)};
    }
    Args Serial(int address) const {
        return {"--interface", "com", "--port", std::to_string(SerialPort), "--address", std::to_string(address)};
    }
    // Czech, as the messages these tests look for were written.
    Environment Env(const Environment& language = Czech) const {
        const std::string home = emulator.tempDir() + "/home";
        return Environment{{"HOME", home},
                           {"XDG_STATE_HOME", home + "/state"},
                           {"XDG_CONFIG_HOME", home + "/config"},
                           {"QCOM726_COM" + std::to_string(SerialPort), emulator.ptyPath()}} +
               language;
    }
    Outcome Kv(const Args& args, const Environment& language = Czech) const {
        return clitest::Run(args, Env(language));
    }
    // The one JSON document a command printed.
    Json KvJson(const Args& args) const {
        const Outcome run = Kv(args + Args{"--json"}, English);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Lines(run.out).size(), 1u) << "one document on one line: " << run.out;
        return Json::parse(run.out);
    }
    std::string File(const std::string& name) const { return emulator.tempDir() + "/" + name; }

    kvtest::Emulator emulator;
};

class Bus : public Tool {
protected:
    Bus() : Tool(kvtest::ModulesOnLine({"1", "2"})) {}
};

TEST_F(Tool, IdentifiesTheModuleFromTheProgramsSettingsFile) {
    TData data;
    InicializujData(&data);
    data.Rozhrani = RozhraniKV1726;
    data.IPAdresa = "127.0.0.1";
    data.UDPPort = emulator.udpPort();
    data.Adresa = 1;
    NastavCestuNastaveni(File("R_iv618.ini"));
    ASSERT_TRUE(UlozNastaveni(&data));
    NastavCestuNastaveni("");

    const Outcome identify = Kv({"--settings", File("R_iv618.ini"), "identify"});
    EXPECT_EQ(identify.status, 0) << identify.err;
    EXPECT_EQ(identify.out, std::string(Identity) + "\n");
}

TEST_F(Tool, IdentifiesTheModuleOverTheSerialLine) {
    const Outcome identify = Kv(Serial(1) + Args{"identify"});
    EXPECT_EQ(identify.status, 0) << identify.err;
    EXPECT_EQ(identify.out, std::string(Identity) + "\n");
}

// Whoever opens the line after the last one closed it gets it, also without
// the privilege that passes exclusive mode (dropped here for a root run).
TEST_F(Tool, OneClientAfterAnotherGetsTheSerialLine) {
    const bool dropPrivilege = ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0;
    for (int i = 0; i < 20; ++i) {
        const Args identify = Serial(1) + Args{"identify"};
        const Outcome run = dropPrivilege ? clitest::Run(Args{"--bounding-set", "-sys_admin", clitest::ToolPath()} +
                                                             identify,
                                                         Env(), "/usr/bin/setpriv")
                                          : Kv(identify);
        ASSERT_EQ(run.status, 0) << "run " << i + 1 << ": " << run.err;
        EXPECT_EQ(run.out, std::string(Identity) + "\n");
    }
}

TEST_F(Tool, TracesTheLibrarysExchanges) {
    const Outcome identify = Kv(Lan(1) + Args{"--trace", File("trace"), "identify"});
    ASSERT_EQ(identify.status, 0) << identify.err;
    const auto lines = Lines(ReadFile(File("trace")));
    ASSERT_EQ(lines.size(), 3u) << "the identification's three exchanges";
    for (const auto& line : lines) EXPECT_NE(line.find("QKV1726.DLL request"), std::string::npos) << line;
}

// The bridge is a plug-in that only `kv618 bridge` loads: the tool itself
// needs no MQTT library, and the bridge still answers for its file.
TEST(Bridge, OnlyTheBridgeLoadsTheMqttLibrary) {
    const Outcome needs = clitest::Run({"--version"}, {{"LD_TRACE_LOADED_OBJECTS", "1"}});
    EXPECT_NE(needs.out.find("libc.so"), std::string::npos) << needs.out;
    EXPECT_EQ(needs.out.find("mosquitto"), std::string::npos) << needs.out;

    const std::string conf = ::testing::TempDir() + "/kv618-bridge-plugin-" + std::to_string(::getpid()) + ".conf";
    WriteFile(conf, "not a key\n");
    const Outcome bridge = clitest::Run({"bridge", "--config", conf});
    EXPECT_EQ(bridge.status, 78) << bridge.err;
    EXPECT_NE(bridge.err.find(conf + ":1"), std::string::npos) << bridge.err;
}

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

TEST_F(Bus, SettingsSavedFromOneModuleAndLoadedIntoAnotherLeaveNothingToDiff) {
    const uint8_t negation = reg::IoByte(reg::InputNegation, 0), initial = reg::IoByte(reg::InitialOutputs, 3);
    for (const auto& command : {SetReg(1, negation, 0x0F), SetReg(1, initial, 0x81), SetReg(1, reg::PulseLow(2), 0xE8),
                                SetReg(1, reg::PulseHigh(2), 0x03), SetReg(1, reg::BaudIndex, 5)})
        ASSERT_EQ(emulator.command(command), "ok");

    const Outcome save = Kv(Lan(1) + Args{"config", "save", File("one.txt")});
    ASSERT_EQ(save.status, 0) << save.err;
    const Outcome load = Kv(Lan(2) + Args{"config", "load", File("one.txt")});
    ASSERT_EQ(load.status, 0) << load.err;
    EXPECT_NE(load.out.find("input-negation: 0xFFFFFFFF -> 0xFFFFFF0F"), std::string::npos) << load.out;
    EXPECT_NE(load.out.find("pulse-number.2: 1 -> 1000"), std::string::npos) << load.out;

    EXPECT_NE(load.out.find("baud: 9600 (v souboru 19200)"), std::string::npos) << load.out;

    const Outcome diff = Kv(Lan(2) + Args{"config", "diff", File("one.txt")});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    EXPECT_EQ(diff.out, "");
    for (const uint8_t r : {negation, initial, reg::PulseLow(2), reg::PulseHigh(2)})
        EXPECT_EQ(emulator.value(GetReg(2, r)), emulator.value(GetReg(1, r))) << int(r);
    EXPECT_EQ(emulator.value(GetReg(2, reg::Address)), 2u) << "a copy keeps the module's own address";
    EXPECT_EQ(emulator.value(GetReg(2, reg::BaudIndex)), 4u) << "and its own rate on its line";

    const Outcome dryRun = Kv(Lan(2) + Args{"config", "load", "--with-link", "--dry-run", File("one.txt")});
    EXPECT_NE(dryRun.out.find("baud: 9600 -> 19200"), std::string::npos) << dryRun.out;
    const Outcome withLink = Kv(Lan(2) + Args{"config", "load", "--with-link", File("one.txt")});
    ASSERT_EQ(withLink.status, 0) << withLink.err;
    EXPECT_EQ(emulator.value(GetReg(2, reg::BaudIndex)), 5u) << "--with-link writes the rate";
    EXPECT_EQ(emulator.value(GetReg(2, reg::Address)), 1u) << "and the address";
}

TEST_F(Tool, LoadingAFileTheModuleAlreadyMatchesWritesNothing) {
    ASSERT_EQ(Kv(Lan(1) + Args{"config", "save", File("same.txt")}).status, 0);
    emulator.command("at 1 clear log");
    const Outcome load = Kv(Lan(1) + Args{"config", "load", File("same.txt")});
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_TRUE(NothingWritten(emulator, 1)) << emulator.command("at 1 get log");
}

// The line of the file that starts with `key`, counted from 1.
int LineOf(const std::string& text, const std::string& key) {
    const auto lines = Lines(text);
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(key, 0) == 0) return static_cast<int>(i + 1);
    return 0;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

TEST_F(Tool, AFileThatDoesNotParseOrIsForAnotherModuleIsRefusedNamingTheLineAndWritesNothing) {
    ASSERT_EQ(Kv(Lan(1) + Args{"config", "save", File("good.txt")}).status, 0);
    const std::string good = ReadFile(File("good.txt"));
    WriteFile(File("broken.txt"), Replaced(good, "baud = 9600", "baud = 9601"));
    WriteFile(File("other.txt"), Replaced(Replaced(good, "module = KV-618", "module = KV-619"), "0xFFFFFFFF", "0x0"));
    emulator.command("at 1 clear log");

    const Outcome broken = Kv(Lan(1) + Args{"config", "load", File("broken.txt")});
    EXPECT_EQ(broken.status, 2);
    EXPECT_NE(broken.err.find("řádek " + std::to_string(LineOf(good, "baud"))), std::string::npos) << broken.err;
    EXPECT_EQ(emulator.value("at 1 get requests"), 0u) << "refused before the link is opened";

    const Outcome other = Kv(Lan(1) + Args{"config", "load", File("other.txt")});
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("řádek " + std::to_string(LineOf(good, "module"))), std::string::npos) << other.err;
    EXPECT_TRUE(NothingWritten(emulator, 1)) << emulator.command("at 1 get log");
}

TEST_F(Tool, AWriteThatFailsHalfWaySaysWhichSettingsWereWritten) {
    ASSERT_EQ(Kv(Lan(1) + Args{"config", "save", File("base.txt")}).status, 0);
    std::string text = ReadFile(File("base.txt"));
    text = Replaced(text, "input-negation = 0xFFFFFFFF", "input-negation = 0x12345678");
    text = Replaced(text, "output-negation = 0xFFFFFFFF", "output-negation = 0x00000000");
    WriteFile(File("changed.txt"), text);
    emulator.command("at 1 fault readback " + std::to_string(reg::IoByte(reg::InputNegation, 1)));

    const Outcome load = Kv(Lan(1) + Args{"config", "load", File("changed.txt")});
    EXPECT_EQ(load.status, 1);
    EXPECT_NE(load.err.find("input-negation: bajt 0 zapsán a ověřen; bajt 1 se po zápisu přečetl jinak; "
                            "bajty 2, 3 nezapsány"),
              std::string::npos)
        << load.err;
    EXPECT_NE(load.err.find("output-negation: nezapsáno"), std::string::npos) << load.err;
    EXPECT_EQ(emulator.value(GetReg(1, reg::IoByte(reg::InputNegation, 0))), 0x78u);
    EXPECT_EQ(emulator.value(GetReg(1, reg::IoByte(reg::InputNegation, 2))), 0xFFu);
}

// How many register writes the module has received since its log was cleared.
size_t WritesSeen(kvtest::Emulator& emulator) {
    const std::string log = ";" + emulator.command("at 1 get log");
    const std::string write = ";" + std::to_string(function::WriteRegister) + " ";
    size_t count = 0;
    for (size_t at = log.find(write); at != std::string::npos; at = log.find(write, at + 1)) ++count;
    return count;
}

bool WaitForWrites(kvtest::Emulator& emulator, size_t writes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (WritesSeen(emulator) < writes)
        if (std::chrono::steady_clock::now() > deadline) return false;
        else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

// A load of the four bytes of the input negation and of counter 0's pulse
// number, against a module that answers every request 150 ms late.
class SlowLoad : public Tool {
protected:
    void SetUp() override {
        ASSERT_EQ(Kv(Lan(1) + Args{"config", "save", File("base.txt")}).status, 0);
        std::string text = ReadFile(File("base.txt"));
        text = Replaced(text, "input-negation = 0xFFFFFFFF", "input-negation = 0x12345678");
        text = Replaced(text, "pulse-number.0 = 1", "pulse-number.0 = 1000");
        WriteFile(File("changed.txt"), text);
        emulator.command("at 1 fault delay 100 150");
        emulator.command("at 1 clear log");
    }
    std::unique_ptr<clitest::Process> StartLoad() {
        return std::make_unique<clitest::Process>(
            clitest::ToolPath(), Lan(1) + Args{"--timeout", "2000", "config", "load", File("changed.txt")}, Env());
    }
    uint32_t InputNegationByte(int byte) {
        return emulator.value(GetReg(1, reg::IoByte(reg::InputNegation, byte)));
    }
};

TEST_F(SlowLoad, FirstCtrlCFinishesTheBlockBeingWrittenAndStops) {
    auto load = StartLoad();
    ASSERT_TRUE(WaitForWrites(emulator, 1));
    load->Signal(SIGINT);
    const Outcome end = load->Wait(std::chrono::seconds(30));
    EXPECT_EQ(end.status, 130) << end.err;
    EXPECT_NE(end.err.find("dopíše"), std::string::npos) << end.err;
    for (int byte = 0; byte < 4; ++byte)
        EXPECT_EQ(InputNegationByte(byte), (0x12345678u >> (8 * byte)) & 0xFF) << "the whole block is new: " << byte;
    EXPECT_EQ(emulator.value(GetReg(1, reg::PulseLow(0))), 1u) << "the next block was not begun";
    EXPECT_NE(end.err.find("Staré hodnoty zůstaly v registrech 0x00, 0x01."), std::string::npos) << end.err;
}

TEST_F(SlowLoad, SecondCtrlCStopsAtOnceAndSaysWhichRegistersAreNew) {
    auto load = StartLoad();
    ASSERT_TRUE(WaitForWrites(emulator, 1));
    load->Signal(SIGINT);
    ASSERT_TRUE(WaitForWrites(emulator, 2));
    load->Signal(SIGINT);
    const Outcome end = load->Wait(std::chrono::seconds(30));
    EXPECT_EQ(end.status, 130) << end.err;
    EXPECT_NE(end.err.find("druhým Ctrl-C"), std::string::npos) << end.err;
    EXPECT_NE(end.err.find("Nové hodnoty mají registry 0x21, 0x24."), std::string::npos) << end.err;
    EXPECT_NE(end.err.find("Staré hodnoty zůstaly v registrech 0x27, 0x2A, 0x00, 0x01."), std::string::npos)
        << end.err;
    EXPECT_EQ(InputNegationByte(1), 0x56u);
    EXPECT_EQ(InputNegationByte(2), 0xFFu);
    EXPECT_EQ(WritesSeen(emulator), 2u);
}

// Waiting for input holds nothing open: a signal ends the wait at once.
TEST_F(Tool, ASignalEndsAWaitForAFifo) {
    const std::string fifo = File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<Args, int>> waits = {{Lan(1) + Args{"config", "load", fifo}, SIGINT},
                                                      {Lan(1) + Args{"--trace", fifo, "identify"}, SIGTERM},
                                                      {{"bridge", "--config", fifo}, SIGTERM}};
    for (const auto& [args, signal] : waits) {
        clitest::Process waiting(clitest::ToolPath(), args, Env());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        waiting.Signal(signal);
        const Outcome end = waiting.Wait(std::chrono::seconds(5));
        EXPECT_EQ(end.signal, signal) << args[args.size() - 2] << " " << args.back() << "\n" << end.err;
    }
}

// ISO 8601 local time with milliseconds and the UTC offset.
const std::regex Timestamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");

// The computer's present UTC offset as ISO 8601 writes it: +01:00.
std::string LocalOffset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &local);
    return std::string(zone, 3) + ":" + std::string(zone + 3, 2);
}

TEST_F(Tool, WatchInCsvGivesAHeaderAndOneTimestampedLinePerPoll) {
    emulator.command("at 1 set inputs 0x0F");
    const Outcome watch = Kv(Lan(1) + Args{"watch", "inputs", "--count", "3", "--interval", "20", "--format", "csv"});
    ASSERT_EQ(watch.status, 0) << watch.err;
    const auto lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 4u) << watch.out;
    EXPECT_EQ(lines[0], "time,inputs");
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto comma = lines[i].find(',');
        EXPECT_TRUE(std::regex_match(lines[i].substr(0, comma), Timestamp)) << lines[i];
        EXPECT_EQ(lines[i].substr(comma + 1), std::to_string(0x0Fu ^ 0xFFFFFFFFu)) << "inputs come negated";
    }
}

TEST_F(Tool, WatchInJsonGivesOneObjectPerPoll) {
    emulator.command("at 1 set counter 2 77");
    emulator.command("at 1 set status 20");
    const Outcome watch = Kv(Lan(1) + Args{"watch", "all", "--count", "2", "--interval", "20", "--format", "json"});
    ASSERT_EQ(watch.status, 0) << watch.err;
    const auto lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 2u) << watch.out;
    const std::regex object(
        R"(\{"time":"[-0-9T:.+]{29}","inputs":4294967295,"status":20,"counters":\[(\{("[a-z0-9_]+":\d+,?){5}\},?){4}\]\})");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, object)) << line;
        EXPECT_NE(line.find(R"(,{"pulses":77,)"), std::string::npos) << "counter 2's pulses: " << line;
    }
}

// The stand-in serial library answers every request and journals its calls,
// so the end of a watch shows whether the link was closed with _Done.
TEST(Watch, CtrlCEndsCleanlyWithTheLinkClosed) {
    const std::string folder = ::testing::TempDir() + "/kv618-ctrl-c-" + std::to_string(::getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto copy = std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy_file(clitest::ToolPath(), folder + "/kv618", copy);
    std::filesystem::copy_file(FAKE_QCOM, folder + "/QCOM726.DLL", copy);

    clitest::Process watch(folder + "/kv618",
                           {"--interface", "com", "--port", "1", "--address", "1", "watch", "inputs", "--interval",
                            "20", "--format", "csv"},
                           {{"KV_FAKE_JOURNAL", folder + "/journal"}, {"XDG_STATE_HOME", folder}});
    EXPECT_EQ(watch.ReadLine(std::chrono::seconds(10)), "time,inputs");
    for (int poll = 0; poll < 3; ++poll) {
        const auto line = watch.ReadLine(std::chrono::seconds(10));
        ASSERT_TRUE(line) << "each line arrives through the pipe as it is polled";
        EXPECT_NE(line->find(",2018915346"), std::string::npos) << *line << " (the stand-in's 12 34 56 78)";
    }
    watch.Signal(SIGINT);
    const Outcome end = watch.Wait(std::chrono::seconds(10));
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_NE(ReadFile(folder + "/journal").find("Done"), std::string::npos) << ReadFile(folder + "/journal");
    std::filesystem::remove_all(folder);
}

TEST_F(Tool, OutputsAreWrittenSetAndClearedFromWhatWasLastWritten) {
    const Outcome unknown = Kv(Lan(1) + Args{"out", "set", "3"});
    EXPECT_EQ(unknown.status, 2) << "the module does not report its outputs";
    EXPECT_EQ(Kv(Lan(1) + Args{"out", "write", "0x81"}).status, 0);
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0x81u);
    EXPECT_EQ(Kv(Lan(1) + Args{"out", "set", "3", "8-9"}).status, 0);
    EXPECT_EQ(Kv(Lan(1) + Args{"out", "clear", "0"}).status, 0);
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0x388u);
}

TEST_F(Tool, ResetsZeroTheCountersAndTheStatusRegister) {
    emulator.command("at 1 set counter 0 5");
    emulator.command("at 1 set counter 3 9");
    emulator.command("at 1 set status 0x14");
    EXPECT_EQ(Kv(Lan(1) + Args{"reset", "counters"}).status, 0);
    EXPECT_EQ(emulator.value("at 1 get counter 0"), 0u);
    EXPECT_EQ(emulator.value("at 1 get counter 3"), 0u);
    EXPECT_EQ(Kv(Lan(1) + Args{"reset", "status"}).status, 0);
    EXPECT_EQ(emulator.value("at 1 get status"), 0u);
}

// Local time as seconds, from "YYYY-MM-DD HH:MM:SS".
std::time_t Seconds(const std::string& text) {
    std::tm t{};
    ::strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &t);
    return ::timegm(&t);
}

// The computer's local time in whole seconds, from the precise clock (time()
// may still give the second before for a few milliseconds after it turned).
std::time_t LocalNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    ::localtime_r(&now, &local);
    return ::timegm(&local);
}

// The computer's year, as the module's clock cycle must hold a stamp of it.
std::string ThisYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return std::to_string(1900 + local.tm_year);
}

TEST_F(Tool, ClockSyncSetsTheModuleToTheComputersClock) {
    emulator.command("at 1 set clock 2001-02-03 04:05:06");
    const Outcome sync = Kv(Lan(1) + Args{"clock", "sync"});
    ASSERT_EQ(sync.status, 0) << sync.err;
    // Read three times, so a second turning between the reads cannot hide a
    // clock that runs ahead.
    for (int i = 0; i < 3; ++i) {
        const std::time_t before = LocalNow();
        const std::time_t module = Seconds(emulator.command("at 1 get clock"));
        const std::time_t after = LocalNow();
        EXPECT_GE(module, before - 1);
        EXPECT_LE(module, after) << "the module's clock runs ahead of what was set";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const Outcome show = Kv(Lan(1) + Args{"clock", "show"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_LE(std::abs(Seconds(show.out) - LocalNow()), 2) << show.out;
}

TEST_F(Tool, PowerFailureStampsAreShown) {
    const std::string year = ThisYear();
    ASSERT_EQ(emulator.command("at 1 set stamps " + year + "-01-02 03:04:05 " + year + "-01-02 03:14:15"), "ok");
    const Outcome stamps = Kv(Lan(1) + Args{"power-failures"});
    ASSERT_EQ(stamps.status, 0) << stamps.err;
    EXPECT_EQ(stamps.out, "Začátek výpadku napájení  " + year + "-01-02 03:04:05\nKonec výpadku napájení    " + year +
                              "-01-02 03:14:15\n");
}

TEST_F(Tool, AFreshModuleHasNoPowerFailureRecorded) {
    const Outcome stamps = Kv(Lan(1) + Args{"power-failures"});
    ASSERT_EQ(stamps.status, 0) << stamps.err;
    EXPECT_EQ(stamps.out, "Žádný výpadek napájení není zaznamenán.\n");
}

TEST_F(Tool, AClockTimeThatIsNoDateIsRefusedBeforeAnyRequest) {
    for (const std::string moment : {"-001-06-15 12:00:00", "0000-06-15 12:00:00", "2025-02-29 12:00:00",
                                     "+202-06-15 12:00:00", "2024-06-15 24:00:00"}) {
        const Outcome set = Kv(Lan(1) + Args{"clock", "set", moment});
        EXPECT_EQ(set.status, 2) << moment << ": " << set.err;
    }
    EXPECT_EQ(emulator.value("at 1 get requests"), 0u);
}

TEST_F(Tool, ExitStatusIsTwoForWrongUsageOneForAFailedModuleZeroWhenDone) {
    EXPECT_EQ(Kv({"--interface", "kv1726", "--ip", "999.1.1.1", "identify"}).status, 2);
    const Outcome usage = Kv(Lan(1) + Args{"identify", "--no-such-option"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.out, "");
    const Outcome badValue = Kv(Lan(1) + Args{"--baud", "1234", "identify"});
    EXPECT_EQ(badValue.status, 2);
    EXPECT_NE(badValue.err.find("Komunikační rychlost"), std::string::npos) << badValue.err;

    const Outcome silent = Kv(Lan(9) + Args{"identify"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("Modul neodpovídá"), std::string::npos) << "the library's text: " << silent.err;

    const Outcome version = Kv({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("kv618 ") + KV_VERSION + "\n");
}

// A line that names a command builds only that one: the help, a subcommand's
// help and a wrong name must still see every command.
TEST_F(Tool, HelpListsEveryCommandAndAWrongOneIsRefused) {
    const Outcome help = Kv({"--help"}, English);
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"identify", "out", "reset", "clock", "power-failures", "scan", "config", "watch",
                                "ports", "bridge", "plant"})
        EXPECT_NE(help.out.find(std::string("\n  ") + command + " "), std::string::npos) << command << "\n" << help.out;
    const Outcome subcommand = Kv({"clock", "--help"}, English);
    EXPECT_EQ(subcommand.status, 0);
    EXPECT_NE(subcommand.out.find("sync"), std::string::npos) << subcommand.out;
    const Outcome wrong = Kv(Lan(1) + Args{"identfy"}, English);
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("A command is missing or unknown"), std::string::npos) << wrong.err;
}

// A line builds only the options it names: every way of naming one must
// still reach it, and one it names for another interface is still refused.
TEST_F(Tool, EveryFormOfAnOptionIsTakenWhereTheLineBuildsOnlyWhatItNames) {
    const std::string port = std::to_string(emulator.udpPort());
    const Outcome joined = Kv({"--interface=kv1726", "--ip=127.0.0.1", "--udp-port=" + port, "-a1", "identify"});
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_NE(joined.out.find("KV-618"), std::string::npos) << joined.out;
    const Outcome after = Kv({"identify", "-ikv1726", "--ip", "127.0.0.1", "--udp-port", port, "-qva", "1"});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_NE(after.err.find("QKV1726.DLL request"), std::string::npos) << "-v among the short flags traces\n" << after.err;
    const Outcome other = Kv(Lan(1) + Args{"--port", "3", "identify"}, English);
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("Option --port belongs to interface com, kv1726 is chosen"), std::string::npos)
        << other.err;
    const Outcome unknown = Kv(Lan(1) + Args{"--ipx", "1", "identify"}, English);
    EXPECT_EQ(unknown.status, 2) << unknown.err;
}

// A copy of the tool and the serial library in a folder of their own, as an
// installation beside the program would have them.
TEST_F(Tool, APortMappedBesideTheLibraryIsTheOneTheSerialLibraryOpens) {
    const std::string folder = File("installed");
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(clitest::ToolPath(), folder + "/kv618");
    std::filesystem::copy_file(SlozkaProgramu() + "/QCOM726.DLL", folder + "/QCOM726.DLL");
    const std::string tool = folder + "/kv618";
    const Environment env = {{"XDG_CONFIG_HOME", File("config")}};

    const Outcome map = clitest::Run({"ports", "map", "9", emulator.ptyPath()}, env, tool);
    ASSERT_EQ(map.status, 0) << map.err;
    EXPECT_NE(ReadFile(folder + "/QCOM726.ini").find("COM9=" + emulator.ptyPath()), std::string::npos);
    const Outcome list = clitest::Run({"ports"}, env, tool);
    EXPECT_NE(list.out.find("COM9"), std::string::npos) << list.out;
    const Outcome identify = clitest::Run({"--interface", "com", "--port", "9", "--address", "1", "identify"}, env, tool);
    EXPECT_EQ(identify.status, 0) << identify.err;
    EXPECT_EQ(identify.out, std::string(Identity) + "\n");
}

// Seconds since the epoch of an ISO 8601 time with its offset.
std::time_t UtcSeconds(const std::string& text) {
    std::tm t{};
    const char* rest = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &t);
    if (!rest) return 0;
    while (*rest == '.' || std::isdigit(static_cast<unsigned char>(*rest))) ++rest;
    const int sign = *rest == '-' ? -1 : 1;
    const int hours = std::atoi(rest + 1), minutes = std::atoi(rest + 4);
    return ::timegm(&t) - sign * (hours * 3600 + minutes * 60);
}

TEST_F(Tool, WatchCsvReadsBackWithItsOffsetAndUnits) {
    emulator.command("at 1 set counter 2 77");
    const Outcome watch =
        Kv(Lan(1) + Args{"watch", "counters", "--count", "2", "--interval", "20", "--format", "csv"}, English);
    ASSERT_EQ(watch.status, 0) << watch.err;
    const auto lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 3u) << watch.out;
    std::vector<std::string> columns;
    std::istringstream header(lines[0]);
    for (std::string column; std::getline(header, column, ',');) columns.push_back(column);
    ASSERT_EQ(columns.size(), 1u + 4 * 5) << lines[0];
    EXPECT_EQ(columns[0], "time");
    // Every quantity's column names its unit as the bridge's keys do.
    for (const std::string unit : {"consumption_wh", "power_w", "period_ms", "power_10s_w"})
        EXPECT_NE(std::find(columns.begin(), columns.end(), "counter3_" + unit), columns.end()) << unit;
    const auto pulses = std::find(columns.begin(), columns.end(), "counter2_pulses") - columns.begin();
    const std::time_t now = std::time(nullptr);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> cells;
        std::istringstream row(lines[i]);
        for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
        ASSERT_EQ(cells.size(), columns.size()) << lines[i];
        EXPECT_TRUE(std::regex_match(cells[0], Timestamp)) << cells[0];
        EXPECT_EQ(cells[0].substr(cells[0].size() - 6), LocalOffset()) << "the local offset: " << cells[0];
        EXPECT_LE(std::abs(UtcSeconds(cells[0]) - now), 60) << "names the moment: " << cells[0];
        EXPECT_EQ(cells[pulses], "77");
    }
}

TEST_F(Tool, IdentifyInJson) {
    const Json id = KvJson(Lan(1) + Args{"identify"});
    EXPECT_EQ(id["address"], 1);
    EXPECT_EQ(id["name"], "KV-618");
    EXPECT_EQ(id["version"], "1.04");
    EXPECT_EQ(id["text"], Identity);
}

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

TEST_F(Tool, ConfigShowInJsonUsesTheSettingsFilesKeys) {
    ASSERT_EQ(emulator.command(SetReg(1, reg::PulseLow(3), 0xE8)), "ok");
    ASSERT_EQ(emulator.command(SetReg(1, reg::PulseHigh(3), 0x03)), "ok");
    const Json show = KvJson(Lan(1) + Args{"config", "show"});
    EXPECT_EQ(show["module"]["text"], Identity);
    const Json& settings = show["settings"];
    EXPECT_EQ(settings["address"], 1);
    EXPECT_EQ(settings["baud"], 9600);
    EXPECT_EQ(settings["input-negation"], 0xFFFFFFFFu);
    EXPECT_EQ(settings["pulse-number.3"], 1000);
    EXPECT_EQ(settings.size(), 9u) << settings.dump();
}

TEST_F(Tool, ClockShowInJsonGivesTheModulesTimeAndTheComputersWithItsOffset) {
    emulator.command("at 1 set clock 2001-02-03 04:05:06");
    const Json clock = KvJson(Lan(1) + Args{"clock", "show"});
    EXPECT_TRUE(std::regex_match(clock["module_time"].get<std::string>(), std::regex(R"(\d{4}-02-03T04:05:0\d)")))
        << clock.dump();
    const std::string computer = clock["computer_time"];
    EXPECT_TRUE(std::regex_match(computer, Timestamp)) << computer;
    EXPECT_LE(std::abs(UtcSeconds(computer) - std::time(nullptr)), 60) << computer;
}

TEST_F(Tool, PowerFailuresInJson) {
    const Json none = KvJson(Lan(1) + Args{"power-failures"});
    EXPECT_EQ(none, Json({{"prf", false}, {"start", nullptr}, {"end", nullptr}}));
    const std::string year = ThisYear();
    ASSERT_EQ(emulator.command("at 1 set stamps " + year + "-01-02 03:04:05 " + year + "-01-02 03:14:15"), "ok");
    const Json stamps = KvJson(Lan(1) + Args{"power-failures"});
    EXPECT_EQ(stamps["start"], year + "-01-02T03:04:05");
    EXPECT_EQ(stamps["end"], year + "-01-02T03:14:15");
}

TEST_F(Tool, PortsInJsonShowAMappingAndWhereItComesFrom) {
    const Json ports = KvJson({"ports"});
    bool found = false;
    for (const Json& port : ports["ports"]) {
        if (port["device"] != emulator.ptyPath()) continue;
        found = true;
        EXPECT_EQ(port["com"], Json::array({SerialPort}));
        EXPECT_EQ(port["mapped_by"], "variable QCOM726_COM" + std::to_string(SerialPort));
        EXPECT_EQ(port["present"], true);
    }
    EXPECT_TRUE(found) << ports.dump();
}

TEST_F(Tool, WatchWithJsonGivesOneDocumentPerPoll) {
    emulator.command("at 1 set inputs 0x0F");
    const Outcome watch = Kv(Lan(1) + Args{"watch", "inputs", "--count", "2", "--interval", "20", "--json"}, English);
    ASSERT_EQ(watch.status, 0) << watch.err;
    const auto lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 2u) << watch.out;
    for (const auto& line : lines) {
        const Json poll = Json::parse(line);
        EXPECT_TRUE(std::regex_match(poll["time"].get<std::string>(), Timestamp)) << line;
        EXPECT_EQ(poll["inputs"], 0x0Fu ^ 0xFFFFFFFFu);
    }
}

TEST_F(Tool, SpeaksTheLanguageOfTheLocale) {
    EXPECT_EQ(Kv(Lan(1) + Args{"reset", "counters"}, English).out, "Counters reset.\n");
    EXPECT_EQ(Kv(Lan(1) + Args{"reset", "counters"}, Czech).out, "Čítače vynulovány.\n");
    const Outcome english = Kv(Lan(1) + Args{"--baud", "1234", "identify"}, English);
    EXPECT_NE(english.err.find("The baud rate must be one of"), std::string::npos) << english.err;
    // A locale this machine never generated still gives its language.
    const Outcome czech = Kv(Lan(1) + Args{"reset", "status"}, Language("cs_CZ.UTF-8@never-generated"));
    EXPECT_EQ(czech.out, "Status registr vynulován.\n");
    // LANGUAGE chooses beside C.UTF-8, as gettext has it, and not beside C.
    Environment languageFirst = English;
    languageFirst.back() = {"LANGUAGE", "cs"};
    EXPECT_EQ(Kv(Lan(1) + Args{"reset", "status"}, languageFirst).out, "Status registr vynulován.\n");
    Environment plainC = Language("C");
    plainC.back() = {"LANGUAGE", "cs"};
    EXPECT_EQ(Kv(Lan(1) + Args{"reset", "status"}, plainC).out, "Status register reset.\n");
}

TEST_F(Tool, ShortOptionsQuietAndVerbose) {
    const Args shortLan = {"-i", "kv1726", "--ip", "127.0.0.1", "--udp-port", std::to_string(emulator.udpPort()),
                           "-a", "1"};
    const Outcome quiet = Kv(shortLan + Args{"-q", "reset", "counters"});
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out, "") << "-q leaves only results and errors";
    const Outcome verbose = Kv(shortLan + Args{"-v", "identify"});
    EXPECT_EQ(verbose.out, std::string(Identity) + "\n");
    EXPECT_NE(verbose.err.find("QKV1726.DLL request"), std::string::npos) << "the exchanges: " << verbose.err;
    const Outcome serial = Kv({"-i", "com", "-p", std::to_string(SerialPort), "-a", "1", "identify"});
    EXPECT_EQ(serial.out, std::string(Identity) + "\n") << serial.err;
}

// The bridge's and the emulator's messages follow the locale as kv618's do.
TEST(Languages, TheBridgeAndTheEmulatorSpeakTheLanguageOfTheLocale) {
    const std::string config = ::testing::TempDir() + "/kv618-no-module-" + std::to_string(::getpid()) + ".conf";
    std::ofstream(config) << "[broker]\nhost = 127.0.0.1\n";
    const Outcome english = clitest::Run({"bridge", "--config", config}, English);
    EXPECT_NE(english.err.find(config + ": no [module NAME] section"), std::string::npos) << english.err;
    // A log line names its moment with the offset.
    EXPECT_TRUE(std::regex_search(english.err, std::regex(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )")))
        << english.err;
    const Outcome czech = clitest::Run({"bridge", "--config", config}, Czech);
    EXPECT_NE(czech.err.find(config + ": chybí sekce [module NÁZEV]"), std::string::npos) << czech.err;
    std::ofstream(config) << "[broker]\nport = 0\n";
    const Outcome wrong = clitest::Run({"bridge", "--config", config}, Czech);
    EXPECT_NE(wrong.err.find(config + ":2: port musí být celé číslo 1-65535, ne \"0\""), std::string::npos) << wrong.err;
    std::filesystem::remove(config);

    const std::string emulator = std::filesystem::path(clitest::ToolPath()).parent_path() / "kv618emu";
    const Outcome englishEmulator = clitest::Run({"--no-such-option"}, English, emulator);
    EXPECT_EQ(englishEmulator.status, 2);
    EXPECT_NE(englishEmulator.err.find("kv618emu: unknown option --no-such-option\nusage: kv618emu"), std::string::npos)
        << englishEmulator.err;
    const Outcome czechEmulator = clitest::Run({"--no-such-option"}, Czech, emulator);
    EXPECT_NE(czechEmulator.err.find("kv618emu: neznámá volba --no-such-option\npoužití: kv618emu"), std::string::npos)
        << czechEmulator.err;
}

}  // namespace
