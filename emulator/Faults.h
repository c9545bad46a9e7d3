// Faults injected into the module's answers for tests and demonstrations.
#pragma once

#include <bitset>
#include <cstdint>

#include "Commands.h"
#include "Frame.h"
#include <random>
#include <vector>

namespace emu {

class Faults {
public:
    struct Match {
        uint8_t function;
        uint8_t subcode;
        uint32_t remaining;  // 0 = until cleared
    };

    // Percentages of replies affected (0-100).
    uint32_t dropPercent = 0;
    uint32_t delayPercent = 0;
    uint32_t delayMs = 0;
    uint32_t crcPercent = 0;
    uint32_t addressPercent = 0;
    std::vector<Match> refuse;
    std::vector<Match> timeout;
    // Configuration registers whose reads and writes are refused.
    std::bitset<256> refusedRegisters;
    bool RefusesRegister(const wire::Request& request) const {
        const bool onRegister = request.function == wire::function::ReadRegister ||
                                request.function == wire::function::WriteRegister;
        return onRegister && refusedRegisters[request.data[1]];
    }

    // True with the given percentage; never for 0, always for 100.
    bool Chance(uint32_t percent);
    // Whether a request matches one of the entries; uses up one of its count.
    static bool Take(std::vector<Match>& list, uint8_t function, uint8_t subcode);
    void Clear();

private:
    std::mt19937 rng_{0x618u};
};

}  // namespace emu
