// SIGINT, SIGTERM and SIGHUP as a descriptor of the loop, so that a signal
// ends the serving loop between two turns and the state is saved; SIGPIPE is
// ignored (a peer that went away is no reason to stop).
#pragma once

#include <string>
#include <vector>

#include "Endpoint.h"

namespace emu {

class Signals {
public:
    Signals() = default;
    ~Signals();
    Signals(const Signals&) = delete;
    Signals& operator=(const Signals&) = delete;

    // False with a reason when the signals cannot be taken.
    bool Open(std::string& why);
    void AddWatch(std::vector<Watch>& watches);
    bool Caught() const { return caught_; }

private:
    int fd_ = -1;
    bool caught_ = false;
};

}  // namespace emu
