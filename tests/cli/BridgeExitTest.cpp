// kv618 bridge's exit statuses where the file is at fault, and --check: a
// service manager must see 78 for every wrong, missing or unreadable file,
// and a file can be checked before the service starts; a damaged plug-in is
// 1 with a message.
#include "Process.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using clitest::Outcome;

constexpr int WrongConfiguration = 78;

class BridgeFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }

    std::string Write(const std::string& text) {
        const std::string path = dir_ + "/bridge.conf";
        std::ofstream(path) << text;
        return path;
    }

    kvtest::TemporaryFolder folder_{"kv618-bridge-file"};
    const std::string& dir_ = folder_.path();
};

// A broker port nothing listens on: a bridge that tried to connect would not
// end by itself.
const std::string Good =
    "[broker]\nhost = 127.0.0.1\nport = 1\n"
    "[module a]\nRozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = 5000\nAdresa = 1\n";

TEST_F(BridgeFile, AMissingFileIsAWrongConfiguration) {
    const std::string missing = dir_ + "/missing.conf";
    for (const bool check : {false, true}) {
        std::vector<std::string> args = {"bridge", "--config", missing};
        if (check) args.push_back("--check");
        const Outcome run = clitest::Run(args);
        EXPECT_EQ(run.status, WrongConfiguration) << run.err;
        EXPECT_NE(run.err.find(missing + ": cannot be read"), std::string::npos) << run.err;
    }
}

TEST_F(BridgeFile, AFolderForTheFileIsRefusedInOneLanguage) {
    const clitest::Environment czech = {{"LANG", "cs_CZ.UTF-8"}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANGUAGE", ""}};
    const Outcome run = clitest::Run({"bridge", "--check", "--config", dir_}, czech);
    EXPECT_EQ(run.status, WrongConfiguration) << run.err;
    EXPECT_NE(run.err.find(dir_ + ": nelze číst: není to obyčejný soubor"), std::string::npos) << run.err;
}

TEST_F(BridgeFile, CheckPassesAGoodFileWithoutConnecting) {
    const Outcome run = clitest::Run({"bridge", "--check", "--config", Write(Good)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("bridge.conf: good, 1 module(s) on 1 line(s), broker 127.0.0.1:1"), std::string::npos)
        << run.err;
}

TEST_F(BridgeFile, CheckRefusesAWrongFileNamingTheLine) {
    const Outcome run = clitest::Run({"bridge", "--check", "--config", Write(Good + "inputs = fast\n")});
    EXPECT_EQ(run.status, WrongConfiguration) << run.err;
    EXPECT_NE(run.err.find("bridge.conf:9: inputs takes a time"), std::string::npos) << run.err;
}

// kv618 beside a damaged plug-in, as a half-copied upgrade or a slip of the
// hand leaves it: a message naming it and exit status 1, never a signal
// (dlopen's mapping of bytes the file does not hold, its reading of garbage)
// and never a wait (a FIFO).
class DamagedPlugin : public BridgeFile {
protected:
    // The plug-in built beside kv618.
    static std::string Built() {
        const std::string tool = clitest::ToolPath();
        return kvtest::ReadFile(tool.substr(0, tool.rfind('/')) + "/kv618-bridge.so");
    }

    // Where the built plug-in's loadable segments end: a cut before it
    // leaves dlopen a mapping beyond the file's end.
    static size_t LoadedEnd(const std::string& elf) {
        Elf64_Ehdr header;
        std::memcpy(&header, elf.data(), sizeof header);
        size_t end = 0;
        for (int i = 0; i < header.e_phnum; ++i) {
            Elf64_Phdr segment;
            std::memcpy(&segment, elf.data() + header.e_phoff + i * sizeof segment, sizeof segment);
            if (segment.p_type == PT_LOAD) end = std::max<size_t>(end, segment.p_offset + segment.p_filesz);
        }
        return end;
    }

    // kv618 --check run from the test's folder, beside the plug-in `place` puts there.
    Outcome CheckBeside(const std::function<void(const std::string& plugin)>& place) {
        const std::string tool = dir_ + "/kv618";
        std::filesystem::copy_file(clitest::ToolPath(), tool);
        place(dir_ + "/kv618-bridge.so");
        clitest::Process process(tool, {"bridge", "--check", "--config", Write(Good)}, {});
        return process.Wait(20s);
    }

    static void ExpectRefused(const Outcome& run, const std::string& why) {
        EXPECT_EQ(run.signal, 0) << run.err;
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("kv618-bridge.so cannot be loaded: " + why), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("install the package again"), std::string::npos) << run.err;
    }
};

TEST_F(DamagedPlugin, ATruncatedOneIsRefused) {
    const Outcome run = CheckBeside([](const std::string& plugin) {
        const std::string built = Built();
        std::ofstream(plugin, std::ios::binary) << built.substr(0, LoadedEnd(built) / 2);
    });
    ExpectRefused(run, "it is truncated");
}

TEST_F(DamagedPlugin, AFifoInItsPlaceIsRefusedAtOnce) {
    const Outcome run = CheckBeside([](const std::string& plugin) { ASSERT_EQ(::mkfifo(plugin.c_str(), 0600), 0); });
    ExpectRefused(run, "it is not a regular file");
}

TEST_F(DamagedPlugin, GarbageAfterItsHeadersIsRefused) {
    const Outcome run = CheckBeside([](const std::string& plugin) {
        std::string bytes = Built();
        Elf64_Ehdr header;
        std::memcpy(&header, bytes.data(), sizeof header);
        std::mt19937 random(1);
        for (size_t i = header.e_phoff + header.e_phnum * sizeof(Elf64_Phdr); i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(random());
        std::ofstream(plugin, std::ios::binary) << bytes;
    });
    ExpectRefused(run, "");
}

}  // namespace
