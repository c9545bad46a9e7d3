// Starting other programs from the tests and the benchmarks: the
// environment a child gets, its argument vector, and a shell command run to
// its end.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kvtest {

using Environment = std::vector<std::pair<std::string, std::string>>;

// This process's environment with `extra` added or replacing what it names,
// less the variables named in `dropped`, as "NAME=value" entries.
std::vector<std::string> ChildEnvironment(const Environment& extra, const std::vector<std::string>& dropped = {});

// The texts as the null-terminated array execve() and posix_spawn() take;
// valid while `texts` lives unchanged.
std::vector<char*> Pointers(std::vector<std::string>& texts);

// Runs a shell command to its end: its exit code (-1 when it did not exit
// by itself) and what it wrote to standard output and error.
std::pair<int, std::string> RunShell(const std::string& command);

}  // namespace kvtest
