// kv618 run as a child process, as an operator or a script runs it: its
// standard output and error captured, its exit status taken whole.
#pragma once

#include "Command.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace clitest {

using Environment = kvtest::Environment;

struct Outcome {
    int status = -1;       // exit status; -1 when it did not exit by itself
    int signal = 0;        // the signal that ended it, when it was not the test's own kill
    std::string out, err;  // everything it wrote
};

// The kv618 built beside the test executable.
std::string ToolPath();

class Process {
public:
    // Starts `program` with the arguments; `environment` adds to or replaces
    // the test's own variables.
    Process(const std::string& program, const std::vector<std::string>& args, const Environment& environment);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The next line of standard output, without its end; nothing when the
    // time runs out or the output ends first.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    void Signal(int signal);
    // Waits for the end (killing the child after `timeout`) and collects the rest.
    Outcome Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    void Drain(int timeoutMs);
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string outBuffer_, outTaken_, errText_;
};

Outcome Run(const std::vector<std::string>& args, const Environment& environment = {},
            const std::string& program = ToolPath());

}  // namespace clitest
