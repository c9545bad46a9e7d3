// kv618 bridge's exit statuses where the file is at fault, and --check: a
// service manager must see 78 for every wrong, missing or unreadable file,
// and a file can be checked before the service starts.
#include "Process.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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

}  // namespace
