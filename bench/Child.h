// A child process with its standard output on a pipe: the benchmarks run
// the measured program in a process of its own, so that its CPU time, peak
// memory and start-up are its own and nothing of the measuring side.
#pragma once

#include "Command.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace bench {

class Child {
public:
    using Environment = kvtest::Environment;

    // Starts argv[0] (a path) with the given variables added to or replacing
    // the current environment.  Throws std::runtime_error on failure.
    Child(const std::vector<std::string>& argv, const Environment& extra = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Next line of the child's standard output, without its newline; empty
    // when the time runs out or the child closes its output first.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);

    struct Exit {
        int status = 0;     // as from waitpid
        rusage usage{};     // the child's own resources
    };
    Exit wait();
    void terminate();

    pid_t pid() const { return pid_; }
    // When the child was started, for timing from its very beginning.
    std::chrono::steady_clock::time_point started() const { return started_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
    std::chrono::steady_clock::time_point started_;
};

// Path of the running executable and of a sibling in the same folder.
std::string selfPath();
std::string siblingPath(const std::string& name);

}  // namespace bench
