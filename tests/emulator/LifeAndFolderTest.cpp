// --life, as tools/run.sh starts the emulator, the card folder that the
// emulator will serve from, and the pseudo-terminal's link.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "Command.h"
#include "Dekl.h"
#include "Emulator.h"
#include "TestFiles.h"

namespace {

using namespace std::chrono_literals;

// Polls `read` until it gives something other than `before`, for up to 5 s.
template <typename F>
uint32_t NextValue(F read, uint32_t before) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    uint32_t now = read();
    while (now == before && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        now = read();
    }
    return now;
}

TEST(EmulatorLife, InputsMoveAndPulsesArriveOnEveryCounter) {
    kvtest::EmulatorOptions options;
    options.extraArgs = {"--life"};
    kvtest::Emulator emulator(options);
    const uint32_t inputs = emulator.value("get inputs");
    EXPECT_NE(NextValue([&] { return emulator.value("get inputs"); }, inputs), inputs);
    for (int counter = 0; counter < 4; ++counter) {
        const std::string get = "get counter " + std::to_string(counter);
        const uint32_t count = emulator.value(get);
        EXPECT_GT(NextValue([&] { return emulator.value(get); }, count), count) << counter;
    }
}

// The emulator's exit code and what it said, run with the given options.
std::pair<int, std::string> RunEmulator(const std::string& options) {
    return kvtest::RunShell(SlozkaProgramu() + "/kv618emu --no-udp " + options + " </dev/null");
}

TEST(EmulatorCardFolder, AFolderOthersMayWriteToIsNotServedFrom) {
    char pattern[] = "/tmp/kvemufolderXXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string base = pattern;
    const std::string open = base + "/open";
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    const auto [code, text] = RunEmulator("--cards " + open);
    EXPECT_EQ(code, 1);
    EXPECT_NE(text.find(open + ": other users may write to it"), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(open + "/usb1726.sock"));

    // A missing folder is made private, and served from.
    const std::string fresh = base + "/fresh";
    kvtest::EmulatorOptions options;
    options.extraArgs = {"--cards", fresh};
    kvtest::Emulator emulator(options);
    struct stat st {};
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(std::filesystem::exists(fresh + "/usb1726.sock"));
    std::filesystem::remove_all(base);
}

// The pseudo-terminal's link replaces only a link: a file of the user's at
// its path stops the start and is left as it was.
TEST(EmulatorSerialLine, APtyLinkPathHoldingAFileIsRefusedAndTheFileKept) {
    kvtest::TemporaryFolder folder("kvemulink");
    const std::string file = folder.path() + "/tty";
    std::ofstream(file) << "mine";
    const auto [code, text] = RunEmulator("--no-cards --pty-link " + file);
    EXPECT_EQ(code, 1);
    EXPECT_NE(text.find(file + ": exists and is not a symbolic link"), std::string::npos) << text;
    EXPECT_EQ(kvtest::ReadFile(file), "mine");
}

}  // namespace
