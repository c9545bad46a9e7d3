#include "Emulator.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "Dekl.h"

namespace kvtest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto ReadyTimeout = std::chrono::seconds(10);
constexpr auto ReplyTimeout = std::chrono::seconds(5);
constexpr auto StopTimeout = std::chrono::seconds(3);

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads one line from `fd` before the deadline; false on end of file or time-out.
bool ReadLine(int fd, std::string& line, Clock::time_point deadline) {
    line.clear();
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) <= 0) return false;
        char c;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (c == '\n') return true;
        line += c;
    }
}

std::string Field(const std::string& line, const std::string& key) {
    const size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return {};
    const size_t start = at + key.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
}

std::string MakeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kv618emu-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    return pattern;
}

}  // namespace

Emulator::Emulator(EmulatorOptions o) : options_(std::move(o)) {
    tempDir_ = MakeTempDir();
    ptyPath_ = tempDir_ + "/tty";
    cardDir_ = tempDir_ + "/cards";
    controlPath_ = tempDir_ + "/control.sock";
    stateFile_ = options_.stateFile.empty() ? tempDir_ + "/state" : options_.stateFile;
    try {
        start();
    } catch (...) {
        stop();
        std::error_code ignored;
        std::filesystem::remove_all(tempDir_, ignored);
        throw;
    }
}

Emulator::~Emulator() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(tempDir_, ignored);
}

void Emulator::start() {
    const std::string program = SlozkaProgramu() + "/kv618emu";
    std::vector<std::string> args{program,
                                  "--udp", "127.0.0.1:" + std::to_string(udpPort_),
                                  "--pty-link", ptyPath_,
                                  "--cards", cardDir_,
                                  "--state", stateFile_,
                                  "--control", controlPath_};
    if (options_.modules.empty()) args.insert(args.end(), {"--address", std::to_string(options_.address)});
    for (const std::string& module : options_.modules) args.insert(args.end(), {"--module", module});
    if (options_.lineTiming) args.push_back("--line-timing");
    args.insert(args.end(), options_.extraArgs.begin(), options_.extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    }
    if (pid == 0) {
        // The emulator dies with the test, even when the test is killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        // Nothing of the test (ports, pipes, other emulators) leaks into the emulator.
        ::close_range(3, ~0u, 0);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    pid_ = pid;
    stdoutFd_ = out[0];

    std::string line;
    if (!ReadLine(stdoutFd_, line, Clock::now() + ReadyTimeout) || line.rfind("READY", 0) != 0) {
        stop();
        throw std::runtime_error("kv618emu did not get ready (" + program + ")");
    }
    const std::string udp = Field(line, "udp");
    udpPort_ = static_cast<uint16_t>(std::atoi(udp.substr(udp.rfind(':') + 1).c_str()));
    if (!connectControl()) {
        stop();
        throw std::runtime_error("kv618emu control socket unreachable");
    }
}

bool Emulator::connectControl() {
    closeControl();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (controlPath_.size() >= sizeof address.sun_path) return false;
    std::strcpy(address.sun_path, controlPath_.c_str());
    controlFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (controlFd_ < 0) return false;
    if (::connect(controlFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closeControl();
        return false;
    }
    return true;
}

void Emulator::closeControl() {
    if (controlFd_ >= 0) ::close(controlFd_);
    controlFd_ = -1;
}

std::string Emulator::command(const std::string& line) {
    if (controlFd_ < 0 && (!running() || !connectControl())) return "error emulator not running";
    const std::string text = line + "\n";
    if (::send(controlFd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
        closeControl();
        return "error control socket closed";
    }
    std::string reply;
    if (!ReadLine(controlFd_, reply, Clock::now() + ReplyTimeout)) {
        closeControl();
        return "error no reply to '" + line + "'";
    }
    return reply;
}

uint32_t Emulator::value(const std::string& line) {
    const std::string reply = command(line);
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = reply.empty() ? 0 : std::strtoull(reply.c_str(), &end, 0);
    if (reply.empty() || errno != 0 || *end != '\0' || number > 0xFFFFFFFFull || reply[0] == '-') {
        ADD_FAILURE() << "emulator command '" << line << "' gave '" << reply << "', not a number";
        throw std::runtime_error("emulator command '" + line + "' gave '" + reply + "'");
    }
    return static_cast<uint32_t>(number);
}

uint32_t Emulator::setInputs(int address, uint32_t pins) {
    const std::string at = "at " + std::to_string(address) + " ";
    command(at + "set inputs " + std::to_string(pins));
    return value(at + "get inputs");
}

void Emulator::restart() {
    stop();
    start();
}

void Emulator::stop() {
    closeControl();
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::kill(pid_, SIGCONT);  // a frozen emulator takes the SIGTERM only once it runs
        const auto deadline = Clock::now() + StopTimeout;
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    if (stdoutFd_ >= 0) ::close(stdoutFd_);
    stdoutFd_ = -1;
}

void Emulator::freeze() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void Emulator::thaw() {
    if (pid_ > 0) ::kill(pid_, SIGCONT);
}

bool Emulator::running() const {
    if (pid_ <= 0) return false;
    // Peeks without reaping: a process that has exited stays a zombie until stop().
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
    return info.si_pid == 0;
}

}  // namespace kvtest
