#include "Modbus.h"

#include "Command.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

extern char** environ;

namespace kvtest {

MbpollResult Mbpoll(const std::string& args) {
    MbpollResult result;
    std::tie(result.status, result.output) = RunShell("mbpoll -1 -0 " + args + " </dev/null");
    static const std::regex value(R"(^\[(\d+)\]:\s+(-?\d+))");
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, value)) result.values[std::stoi(m[1])] = std::stoll(m[2]);
    }
    return result;
}

PtyPair::PtyPair() {
    std::string pattern = "/tmp/kvpty-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    first_ = dir_ + "/a";
    second_ = dir_ + "/b";
    std::vector<std::string> args = {"socat", "pty,raw,echo=0,link=" + first_, "pty,raw,echo=0,link=" + second_};
    auto argv = Pointers(args);
    if (::posix_spawnp(&pid_, "socat", nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("socat cannot be started: install the Debian package socat (tools/install-deps.sh)");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(first_) || !std::filesystem::exists(second_)) {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("socat made no pseudo-terminals");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

PtyPair::~PtyPair() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

}  // namespace kvtest
