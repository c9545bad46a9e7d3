#include "EmulatedLines.h"

namespace bench {

Emulators emulatedLines(int lines, int perLine, const std::vector<std::string>& extraArgs) {
    Emulators emulators;
    for (int e = 0; e < lines; ++e) {
        kvtest::EmulatorOptions options;
        for (int a = 1; a <= perLine; ++a) options.modules.push_back(std::to_string(a));
        options.extraArgs = extraArgs;
        emulators.push_back(std::make_unique<kvtest::Emulator>(options));
    }
    return emulators;
}

std::vector<RequestCount> requestCounts(const Emulators& lines, int perLine) {
    std::vector<RequestCount> counts;
    for (const auto& e : lines)
        for (int a = 1; a <= perLine; ++a)
            counts.push_back({static_cast<double>(e->value("at " + std::to_string(a) + " get requests")),
                              std::chrono::steady_clock::now()});
    return counts;
}

std::vector<double> cadence(const std::vector<RequestCount>& before, const std::vector<RequestCount>& after,
                            std::chrono::duration<double, std::milli> interval) {
    std::vector<double> ratios;
    for (size_t i = 0; i < before.size(); ++i) {
        const double polls = after[i].requests - before[i].requests;
        const std::chrono::duration<double, std::milli> span = after[i].at - before[i].at;
        ratios.push_back(polls > 0 ? span / polls / interval : 1e9);
    }
    return ratios;
}

}  // namespace bench
