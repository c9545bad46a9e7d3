// What the tests of kv618 as a process share: a module (or a bus of them) on
// the emulator's line, reached over the LAN converter and the serial line,
// the operator's language, and small helpers for the command line, the
// emulator's registers and the tool's output.
#pragma once

#include "Commands.h"
#include "Emulator.h"
#include "Process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace clitest {

using Args = std::vector<std::string>;
using Json = nlohmann::json;

// The operator's language, as LANG chooses it (nothing else in the way).
inline Environment Language(const std::string& lang) {
    return {{"LANG", lang}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANGUAGE", ""}};
}
inline const Environment Czech = Language("cs_CZ.UTF-8"), English = Language("C.UTF-8");

inline Environment operator+(Environment a, const Environment& b) {
    for (const auto& [key, value] : b) {
        std::erase_if(a, [&](const auto& entry) { return entry.first == key; });
        a.emplace_back(key, value);
    }
    return a;
}

inline Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline constexpr const char* Identity = "KV-618   v.1.04";
inline constexpr int SerialPort = 7;

inline void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline std::string SetReg(int address, uint8_t reg, int value) {
    return "at " + std::to_string(address) + " set reg " + std::to_string(reg) + " " + std::to_string(value);
}
inline std::string GetReg(int address, uint8_t reg) {
    return "at " + std::to_string(address) + " get reg " + std::to_string(reg);
}

inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

// The emulator's log of requests holds no register write.
inline bool NothingWritten(kvtest::Emulator& emulator, int address) {
    const std::string log = emulator.command("at " + std::to_string(address) + " get log");
    return (";" + log).find(";" + std::to_string(wire::function::WriteRegister) + " ") == std::string::npos;
}

// How many register writes the module has received since its log was cleared.
inline size_t WritesSeen(kvtest::Emulator& emulator, int address = 1) {
    const std::string log = ";" + emulator.command("at " + std::to_string(address) + " get log");
    const std::string write = ";" + std::to_string(wire::function::WriteRegister) + " ";
    size_t count = 0;
    for (size_t at = log.find(write); at != std::string::npos; at = log.find(write, at + 1)) ++count;
    return count;
}

// Waits (a bounded time) until the module has received that many writes.
inline bool WaitForWrites(kvtest::Emulator& emulator, size_t writes, int address = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (WritesSeen(emulator, address) < writes)
        if (std::chrono::steady_clock::now() > deadline) return false;
        else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

// A module on the emulator's line; each test's records and mappings stay in
// its own folders.
class Tool : public ::testing::Test {
protected:
    explicit Tool(kvtest::EmulatorOptions options = {}) : emulator(std::move(options)) {}

    Args Lan(int address) const { return LanAt(emulator.udpPort(), address); }
    static Args LanAt(uint16_t port, int address) {
        return {"--interface", "kv1726", "--ip", "127.0.0.1", "--udp-port", std::to_string(port),
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

}  // namespace clitest
