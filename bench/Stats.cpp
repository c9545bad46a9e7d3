#include "Stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace bench {

double percentile(std::vector<double> values, double q) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const double rank = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<size_t>(std::floor(rank));
    const size_t above = std::min(below + 1, values.size() - 1);
    const double part = rank - static_cast<double>(below);
    return values[below] + (values[above] - values[below]) * part;
}

Summary summarize(const std::vector<double>& values) {
    Summary s;
    s.count = values.size();
    s.median = percentile(values, 0.5);
    s.p10 = percentile(values, 0.1);
    s.p90 = percentile(values, 0.9);
    return s;
}

double mean(const std::vector<double>& values) {
    if (values.empty()) return NAN;
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

std::string format(const Summary& s, int decimals) {
    char text[96];
    std::snprintf(text, sizeof text, "%.*f (%.*f-%.*f)", decimals, s.median, decimals, s.p10, decimals, s.p90);
    return text;
}

std::string withUnit(double value, const char* unit, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f %s", decimals, value, unit);
    return text;
}

}  // namespace bench
