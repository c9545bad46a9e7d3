// kv618 run as a process, as an operator or a script runs it, against the
// emulator through the real libraries over the LAN converter and the serial
// line: one test per behaviour.  Here what every command shares: the link,
// the exit status, help and options, languages; the commands' own tests
// stand beside it (ScanTest, ConfigTest, ActionsTest, PlantTest).
#include "Dekl.h"
#include "TestFiles.h"
#include "ToolFixture.h"
#include "kv_version.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace clitest;
using kvtest::ReadFile;

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

TEST_F(Tool, IdentifyInJson) {
    const Json id = KvJson(Lan(1) + Args{"identify"});
    EXPECT_EQ(id["address"], 1);
    EXPECT_EQ(id["name"], "KV-618");
    EXPECT_EQ(id["version"], "1.04");
    EXPECT_EQ(id["text"], Identity);
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
