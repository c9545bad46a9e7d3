#include "Life.h"

#include <string>

namespace emu {

void Life::Start() {
    for (size_t i = 0; i < bus_.size(); ++i) {
        for (const char* train : {"pulses 0 1", "pulses 1 2", "pulses 2 5", "pulses 3 10"}) bus_.at(i).OnControl(train);
    }
    nextTickMs_ = clock_.SteadyMs();
}

// A running light on DIN0-7, the seconds counted in binary on DIN8-15 and
// DIN16 blinking; every 20 s the 24 V supply fails (ERR24), so the status
// register has a bit to reset.
void Life::Tick() {
    const uint32_t step = step_++;
    const uint32_t inputs = (1u << (step % 8)) | ((step & 0xFFu) << 8) | ((step & 1u) << 16);
    for (size_t i = 0; i < bus_.size(); ++i) {
        bus_.at(i).OnControl("set inputs " + std::to_string(inputs));
        if (step % 20 == 19) bus_.at(i).OnControl("supply-fault");
    }
    nextTickMs_ += 1000;
    // A loop held up for long does not make up for the seconds it missed.
    if (nextTickMs_ < clock_.SteadyMs()) nextTickMs_ = clock_.SteadyMs() + 1000;
}

}  // namespace emu
