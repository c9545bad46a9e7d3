#include "Process.h"

#include "Command.h"
#include "Dekl.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace clitest {

namespace {

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads what is there; false at the end of the stream.
bool ReadSome(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) into.append(buffer, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

}  // namespace

std::string ToolPath() { return SlozkaProgramu() + "/kv618"; }

Process::Process(const std::string& program, const std::vector<std::string>& args, const Environment& environment) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    // A trace the developer left on would only go into the outputs compared.
    std::vector<std::string> env = kvtest::ChildEnvironment(environment, {"KV618_TRACE"});
    auto argp = kvtest::Pointers(argv);
    auto envp = kvtest::Pointers(env);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(program.c_str(), argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

Process::~Process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
}

void Process::Drain(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) return;
    if (fds[0].revents && !ReadSome(out_, outBuffer_)) ::close(out_), out_ = -1;
    if (fds[1].revents && !ReadSome(err_, errText_)) ::close(err_), err_ = -1;
}

std::optional<std::string> Process::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const auto end = outBuffer_.find('\n'); end != std::string::npos) {
            std::string line = outBuffer_.substr(0, end);
            outTaken_ += outBuffer_.substr(0, end + 1);
            outBuffer_.erase(0, end + 1);
            return line;
        }
        if (out_ < 0 || Clock::now() >= deadline) return std::nullopt;
        Drain(Remaining(deadline));
    }
}

void Process::Signal(int signal) { ::kill(pid_, signal); }

Outcome Process::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while ((out_ >= 0 || err_ >= 0) && Clock::now() < deadline) {
        // A closed end polls as ready; stop asking about it.
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, Remaining(deadline)) <= 0) break;
        if (out_ >= 0 && fds[0].revents && !ReadSome(out_, outBuffer_)) ::close(out_), out_ = -1;
        if (err_ >= 0 && fds[1].revents && !ReadSome(err_, errText_)) ::close(err_), err_ = -1;
    }
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) ::usleep(1000);
    const bool exited = ended == pid_ && WIFEXITED(status);
    const int signal = ended == pid_ && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (ended != pid_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    Outcome outcome;
    outcome.status = exited ? WEXITSTATUS(status) : -1;
    outcome.signal = signal;
    outcome.out = outTaken_ + outBuffer_;
    outcome.err = errText_;
    return outcome;
}

Outcome Run(const std::vector<std::string>& args, const Environment& environment, const std::string& program) {
    Process process(program, args, environment);
    return process.Wait();
}

}  // namespace clitest
