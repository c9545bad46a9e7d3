// The state files of the modules on the line: read at power-up, saved once a
// second and at the end.  The first module keeps --state FILE, the others
// FILE.2, FILE.3, ... (StateFileOf).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "Bus.h"
#include "Clock.h"

namespace emu {

class StateKeeper {
public:
    // `stateFile` empty: nothing is kept, every start is a first power-up.
    StateKeeper(Bus& bus, const Clock& clock, std::string stateFile)
        : bus_(bus), clock_(clock), stateFile_(std::move(stateFile)) {}

    // Loads each module's file and powers the module up: a power failure for
    // a module that was alive before.  Then saves every file.
    void PowerUp();
    // The first save round is a second from now.
    void Start() { nextRoundMs_ = clock_.SteadyMs() + SaveIntervalMs; }
    // Every module's file at once: at power-up and at the end.
    void SaveAll();
    // A slice of the save round under way, or the start of one when it is due.
    void SaveSome();
    // When SaveSome() has work next (now while a round is under way).
    int64_t DueMs() const;

private:
    static constexpr int64_t SaveIntervalMs = 1000;
    bool SaveModule(size_t index, std::string& errors);
    void EndRound(const std::string& errors);

    Bus& bus_;
    const Clock& clock_;
    std::string stateFile_;
    int64_t nextRoundMs_ = 0;
    size_t next_ = SIZE_MAX;  // next module of the round under way; none at SIZE_MAX
    std::string roundErrors_;
    std::string lastError_;  // reported once, not every second
};

}  // namespace emu
