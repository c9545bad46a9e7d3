// kv618 plant against a plant of three lines (two LAN converters and a
// serial line, an emulator each) and ten modules.
#include "Commands.h"
#include "Emulator.h"
#include "Process.h"
#include "TestFiles.h"
#include "ToolFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace wire;
using clitest::Args;
using clitest::operator+;
using nlohmann::json;

using clitest::SerialPort;
using clitest::SetReg;

std::string LanSection(const std::string& name, const kvtest::Emulator& e, int address) {
    return "[module " + name + "]\ninterface = kv1726\nip = 127.0.0.1\nudp port = " + std::to_string(e.udpPort()) +
           "\naddress = " + std::to_string(address) + "\n";
}

// The results of a --json run by module name.
std::map<std::string, json> ByName(const clitest::Outcome& run) {
    std::map<std::string, json> modules;
    const json out = json::parse(run.out);
    for (const json& m : out.at("modules")) modules[m.at("name")] = m;
    return modules;
}

class Plant : public ::testing::Test {
protected:
    Plant()
        : a(kvtest::ModulesOnLine({"1", "2", "3", "4"})),
          b(kvtest::ModulesOnLine({"1", "2", "3:19200"})),
          c(kvtest::ModulesOnLine({"1", "2", "3"})) {
        std::string text = "# three lines, ten modules\n";
        for (int m = 1; m <= 4; ++m) text += LanSection("a" + std::to_string(m), a, m) + Wants("a", m);
        for (int m = 1; m <= 3; ++m)
            text += "[module b" + std::to_string(m) + "]\ninterface = com\nport = " + std::to_string(SerialPort) +
                    "\naddress = " + std::to_string(m) + "\nrate = " + (m == 3 ? "19200" : "9600") + "\n" + Wants("b", m);
        for (int m = 1; m <= 3; ++m) text += LanSection("c" + std::to_string(m), c, m) + Wants("c", m == 3 ? 2 : m);
        std::ofstream(PlantFile()) << text;
    }

    // c3 has no file of its own (it is silent when the files are made): it shares c2's.
    static std::string Wants(const std::string& line, int m) { return "settings = want/" + line + std::to_string(m) + ".txt\n\n"; }
    std::string PlantFile() const { return folder.path() + "/plant.conf"; }
    std::string Want(const std::string& name) const { return folder.path() + "/want/" + name + ".txt"; }
    clitest::Outcome Kv(const Args& args) const {
        return clitest::Run(args, {{"HOME", folder.path()}, {"QCOM726_COM" + std::to_string(SerialPort), b.ptyPath()}});
    }

    kvtest::TemporaryFolder folder{"kvplant"};
    kvtest::Emulator a, b, c;
};

TEST_F(Plant, AuditReportsTheDriftSnapshotSavesWhoAnswersApplyMendsIt) {
    ASSERT_EQ(c.command("at 3 fault drop 100"), "ok");

    const auto snapshot = Kv({"plant", "snapshot", PlantFile(), folder.path() + "/want"});
    EXPECT_EQ(snapshot.status, 3) << snapshot.out << snapshot.err;
    size_t files = 0;
    for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(folder.path() + "/want")) ++files;
    EXPECT_EQ(files, 9u);
    EXPECT_FALSE(std::filesystem::exists(Want("c3")));
    EXPECT_NE(snapshot.out.find("Not saved: c3."), std::string::npos) << snapshot.out;

    // Two modules' settings changed behind the plant's back.
    ASSERT_EQ(a.command(SetReg(2, reg::IoByte(reg::InputNegation, 0), 0x0F)), "ok");
    ASSERT_EQ(b.command(SetReg(3, reg::PulseLow(1), 50)), "ok");

    const auto audit = Kv({"plant", "audit", "--json", PlantFile()});
    ASSERT_EQ(audit.status, 3) << audit.out << audit.err;
    auto modules = ByName(audit);
    ASSERT_EQ(modules.size(), 10u);
    for (const auto& [name, m] : modules) {
        const std::string expected = name == "a2" || name == "b3" ? "differs" : name == "c3" ? "no-answer" : "matches";
        EXPECT_EQ(m.at("result"), expected) << name << ": " << m.dump();
    }
    EXPECT_EQ(modules["a2"].at("differences"),
              json::parse(R"([{"setting":"input-negation","wanted":"0xFFFFFFFF","found":"0xFFFFFF0F"}])"));
    EXPECT_EQ(modules["b3"].at("differences"), json::parse(R"([{"setting":"pulse-number.1","wanted":"1","found":"50"}])"));
    EXPECT_EQ(audit.err, "") << "nothing but results on a pipe";

    const auto apply = Kv({"plant", "apply", "--json", PlantFile()});
    EXPECT_EQ(apply.status, 3) << "c3 is still silent: " << apply.out << apply.err;
    modules = ByName(apply);
    EXPECT_EQ(modules["a2"].at("written"), json::parse(R"(["input-negation"])"));
    EXPECT_EQ(modules["b3"].at("written"), json::parse(R"(["pulse-number.1"])"));
    EXPECT_EQ(a.value("at 2 get reg " + std::to_string(reg::IoByte(reg::InputNegation, 0))), 0xFFu);
    EXPECT_EQ(b.value("at 3 get reg " + std::to_string(reg::PulseLow(1))), 1u);

    ASSERT_EQ(c.command("at 3 fault clear"), "ok");
    const auto again = Kv({"plant", "audit", PlantFile()});
    EXPECT_EQ(again.status, 0) << again.out << again.err;
}

// One line whose replies come late enough to catch the module between two
// writes.
class PlantWrite : public ::testing::Test {
protected:
    PlantWrite() : line([] {
        auto o = kvtest::ModulesOnLine({"1", "2"});
        o.extraArgs = {"--reply-delay", "10"};
        return o;
    }()) {
        const std::string text = LanSection("first", line, 1) + "settings = want.txt\n" + LanSection("second", line, 2) +
                                 "settings = want.txt\n";
        std::ofstream(plant) << text;
    }
    clitest::Outcome Kv(const Args& args) const { return clitest::Run(args, {{"HOME", folder.path()}}); }
    // want.txt, which both modules are to hold: module 1's settings as they are.
    int SaveWanted() const {
        return Kv({"--interface", "kv1726", "--ip", "127.0.0.1", "--udp-port", std::to_string(line.udpPort()),
                   "--address", "1", "config", "save", folder.path() + "/want.txt"})
            .status;
    }
    // Whether a write reached module 1 within a bounded time; looked for
    // often, so that the test acts before the next request comes.
    bool FirstWriteCame() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (line.command("at 1 get last").rfind(std::to_string(function::WriteRegister) + " ", 0) != 0) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

    kvtest::TemporaryFolder folder{"kvplant"};
    const std::string plant = folder.path() + "/plant.conf";
    kvtest::Emulator line;
};

TEST_F(PlantWrite, AModuleThatStopsAnsweringDuringApplyIsReportedAndARerunFinishesIt) {
    ASSERT_EQ(SaveWanted(), 0);
    const uint8_t low = reg::IoByte(reg::InputNegation, 0), high = reg::IoByte(reg::InputNegation, 1);
    for (const int m : {1, 2})
        for (const uint8_t r : {low, high}) ASSERT_EQ(line.command(SetReg(m, r, 0x0F)), "ok");

    clitest::Process apply(clitest::ToolPath(), {"plant", "apply", "--json", plant}, {{"HOME", folder.path()}});
    // The first write reaches module 1: from then on it answers nothing.
    ASSERT_TRUE(FirstWriteCame()) << "no write came";
    ASSERT_EQ(line.command("at 1 fault timeout " + std::to_string(function::WriteRegister) + " 0"), "ok");
    const auto first = apply.Wait();
    EXPECT_EQ(first.status, 1) << first.out << first.err;
    auto modules = ByName(first);
    EXPECT_EQ(modules["first"].at("result"), "write-failed") << modules["first"].dump();
    EXPECT_EQ(modules["first"].at("failed")[0].at("setting"), "input-negation");
    EXPECT_EQ(modules["second"].at("result"), "written") << "one module's failure does not stop the others";
    EXPECT_EQ(line.value("at 1 get reg " + std::to_string(low)), 0xFFu) << "the first write was finished";
    EXPECT_EQ(line.value("at 1 get reg " + std::to_string(high)), 0x0Fu);

    ASSERT_EQ(line.command("at 1 fault clear"), "ok");
    const auto rerun = Kv({"plant", "apply", "--json", plant});
    EXPECT_EQ(rerun.status, 0) << rerun.out << rerun.err;
    EXPECT_EQ(ByName(rerun)["first"].at("written"), json::parse(R"(["input-negation"])"));
    EXPECT_EQ(line.value("at 1 get reg " + std::to_string(high)), 0xFFu);
    EXPECT_EQ(Kv({"plant", "audit", plant}).status, 0);
}

// Ctrl-C during apply: the block being written is finished, read back, and
// no further module is begun.
TEST_F(PlantWrite, CtrlCFinishesTheBlockBeingWrittenAndBeginsNoFurtherModule) {
    ASSERT_EQ(SaveWanted(), 0);
    for (const int m : {1, 2})
        for (int byte = 0; byte < 4; ++byte) ASSERT_EQ(line.command(SetReg(m, reg::IoByte(reg::InputNegation, byte), 0x0F)), "ok");

    clitest::Process apply(clitest::ToolPath(), {"plant", "apply", "--json", plant}, {{"HOME", folder.path()}});
    ASSERT_TRUE(FirstWriteCame()) << "no write came";
    apply.Signal(SIGINT);
    const auto run = apply.Wait();
    EXPECT_EQ(run.status, 130) << run.out << run.err;
    for (int byte = 0; byte < 4; ++byte)
        EXPECT_EQ(line.value("at 1 get reg " + std::to_string(reg::IoByte(reg::InputNegation, byte))), 0xFFu) << byte;
    EXPECT_EQ(line.value("at 2 get reg " + std::to_string(reg::IoByte(reg::InputNegation, 0))), 0x0Fu);
    auto modules = ByName(run);
    EXPECT_EQ(modules["first"].at("result"), "written");
    EXPECT_EQ(modules["second"].at("result"), "not-reached");
    EXPECT_NE(run.err.find("Ctrl-C"), std::string::npos) << run.err;
}

// A second Ctrl-C stops between two registers of one setting: the table and
// the JSON say which of its bytes are new and which are not, as config load
// does, and nothing claims that no write was left half done.
TEST_F(PlantWrite, ASecondCtrlCReportsTheHalfWrittenSettingByteByByte) {
    ASSERT_EQ(SaveWanted(), 0);
    const auto initial = [](int byte) { return reg::IoByte(reg::InitialOutputs, byte); };
    const uint32_t wanted = line.value("at 1 get reg " + std::to_string(initial(0)));
    ASSERT_EQ(line.command("at 1 fault delay 100 150"), "ok");
    const clitest::Environment english = clitest::Language("C.UTF-8") + clitest::Environment{{"HOME", folder.path()}};
    for (const bool asJson : {true, false}) {
        for (int byte = 0; byte < 4; ++byte) ASSERT_EQ(line.command(SetReg(1, initial(byte), 0x0F)), "ok");
        ASSERT_EQ(line.command("at 1 clear log"), "ok");
        clitest::Process apply(clitest::ToolPath(), asJson ? Args{"plant", "apply", "--json", plant} : Args{"plant", "apply", plant},
                               english);
        ASSERT_TRUE(clitest::WaitForWrites(line, 1));
        apply.Signal(SIGINT);
        ASSERT_TRUE(clitest::WaitForWrites(line, 2));
        apply.Signal(SIGINT);
        const auto run = apply.Wait();
        EXPECT_EQ(run.status, 130) << run.out << run.err;
        for (int byte = 0; byte < 4; ++byte)
            EXPECT_EQ(line.value("at 1 get reg " + std::to_string(initial(byte))), byte < 2 ? wanted : 0x0Fu) << byte;
        if (asJson) {
            const json first = ByName(run)["first"];
            EXPECT_EQ(first.at("half_written"),
                      json::parse(R"([{"setting":"initial-outputs","bytes":{"written":[0,1],"uncertain":[],"not_written":[2,3]}}])"))
                << first.dump();
            EXPECT_EQ(first.at("written"), json::array()) << first.dump();
            EXPECT_EQ(first.at("left"), json::array()) << "nothing is untouched: " << first.dump();
        } else {
            EXPECT_NE(run.out.find("half written: initial-outputs (bytes 0, 1 written and verified; bytes 2, 3 not written)"),
                      std::string::npos)
                << run.out;
            EXPECT_EQ(run.out.find("no write was left half done"), std::string::npos) << run.out;
            EXPECT_NE(run.out.find("a setting left half written"), std::string::npos) << run.out;
        }
    }
}

TEST(PlantFile, ASettingsFileThatDoesNotParseStopsTheRunBeforeAnyRequest) {
    kvtest::TemporaryFolder folder{"kvplant"};
    std::ofstream(folder.path() + "/plant.conf")
        << "[module one]\ninterface = kv1726\nip = 127.0.0.1\naddress = 1\nsettings = bad.txt\n";
    std::ofstream(folder.path() + "/bad.txt") << "format = kv618-settings 1\nbogus = 1\n";
    const auto run = clitest::Run({"plant", "audit", folder.path() + "/plant.conf"}, {{"HOME", folder.path()}});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("bad.txt:2:"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// One language in one message: the file's failure is told in the words of
// the message around it, in Czech as in English.
TEST(PlantFile, AFolderGivenForThePlantFileIsRefusedInOneLanguage) {
    kvtest::TemporaryFolder folder{"kvplant"};
    const clitest::Environment czech = {{"LANG", "cs_CZ.UTF-8"}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANGUAGE", ""}};
    const auto cs = clitest::Run({"plant", "audit", folder.path()}, czech);
    EXPECT_EQ(cs.status, 2) << cs.err;
    EXPECT_NE(cs.err.find(folder.path() + ": nelze číst: není to obyčejný soubor"), std::string::npos) << cs.err;
    const auto en = clitest::Run({"plant", "audit", folder.path()}, {{"LANG", "C.UTF-8"}, {"LC_ALL", ""}});
    EXPECT_NE(en.err.find(folder.path() + ": cannot be read: not a regular file"), std::string::npos) << en.err;
}

}  // namespace
