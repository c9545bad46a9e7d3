// kv618 config as a process: settings saved, compared and loaded, a load
// that fails or is stopped half way told exactly.
#include "TestFiles.h"
#include "ToolFixture.h"

#include <chrono>
#include <csignal>

namespace {

using namespace clitest;
using namespace wire;
using kvtest::ReadFile;

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

}  // namespace
