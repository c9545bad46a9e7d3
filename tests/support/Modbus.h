// The independent Modbus peers of the tests and benchmarks: Debian's mbpoll
// as a process, and a linked pair of pseudo-terminals made by socat for RTU
// (what is written to one is read from the other).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>

namespace kvtest {

struct MbpollResult {
    int status = -1;              // 0: every value read or written
    std::string output;           // standard output and error
    std::map<int, int64_t> values;  // by reference, as printed ("[n]: value")
};

// `mbpoll -1 -0 ARGS`: one poll, references counted from 0 as the protocol's addresses.
MbpollResult Mbpoll(const std::string& args);

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Symbolic links to the two terminals.
    const std::string& first() const { return first_; }
    const std::string& second() const { return second_; }

private:
    std::string dir_, first_, second_;
    pid_t pid_ = -1;
};

}  // namespace kvtest
