#include "Faults.h"

namespace emu {

bool Faults::Chance(uint32_t percent) {
    if (percent == 0) return false;
    if (percent >= 100) return true;
    return std::uniform_int_distribution<uint32_t>(0, 99)(rng_) < percent;
}

bool Faults::Take(std::vector<Match>& list, uint8_t function, uint8_t subcode) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->function != function || it->subcode != subcode) continue;
        if (it->remaining == 1) list.erase(it);
        else if (it->remaining > 1) --it->remaining;
        return true;
    }
    return false;
}

void Faults::Clear() {
    dropPercent = delayPercent = delayMs = crcPercent = addressPercent = 0;
    refuse.clear();
    timeout.clear();
    refusedRegisters.reset();
}

}  // namespace emu
