#include "Child.h"

#include "Command.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

Child::Child(const std::vector<std::string>& argv, const Environment& extra) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::string(strerror(errno)));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);

    auto args = argv;
    auto env = kvtest::ChildEnvironment(extra);
    auto argp = kvtest::Pointers(args);
    auto envp = kvtest::Pointers(env);
    started_ = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid_, args.at(0).c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + args[0] + ": " + strerror(rc));
    }
    out_ = pipeFds[0];
}

Child::~Child() {
    terminate();
    if (out_ >= 0) close(out_);
}

std::optional<std::string> Child::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return std::nullopt;
        pollfd p{out_, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char chunk[4096];
        const ssize_t n = read(out_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(out_);
            out_ = -1;
            continue;
        }
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

Child::Exit Child::wait() {
    Exit e;
    if (pid_ <= 0) return e;
    while (wait4(pid_, &e.status, 0, &e.usage) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return e;
}

void Child::terminate() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        usleep(10'000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string selfPath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) throw std::runtime_error("cannot read /proc/self/exe");
    return std::string(path, static_cast<size_t>(n));
}

std::string siblingPath(const std::string& name) {
    const std::string self = selfPath();
    return self.substr(0, self.rfind('/') + 1) + name;
}

}  // namespace bench
