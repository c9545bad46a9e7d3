// Faults injected into the module's answers for tests and demonstrations.
#pragma once

#include <cstdint>
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

    // True with the given percentage; never for 0, always for 100.
    bool Chance(uint32_t percent);
    // Whether a request matches one of the entries; uses up one of its count.
    static bool Take(std::vector<Match>& list, uint8_t function, uint8_t subcode);
    void Clear();

private:
    std::mt19937 rng_{0x618u};
};

}  // namespace emu
