// --life: a module that moves.  It goes through the control commands, as an
// operator at the control socket would, for every module on the line: pulse
// trains of different rates, so every counter quantity differs, and inputs
// that change every second from the first on.
#pragma once

#include <cstdint>

#include "Bus.h"
#include "Clock.h"

namespace emu {

class Life {
public:
    Life(Bus& bus, const Clock& clock) : bus_(bus), clock_(clock) {}

    // Starts the pulse trains; the first tick is due at once.
    void Start();
    // When the next tick is due (steady ms).
    int64_t DueMs() const { return nextTickMs_; }
    // Once a second: the inputs move, and every 20 s the 24 V supply fails.
    void Tick();

private:
    Bus& bus_;
    const Clock& clock_;
    int64_t nextTickMs_ = 0;
    uint32_t step_ = 0;
};

}  // namespace emu
