// Order statistics of repeated measurements: the benchmarks report medians
// with their spread rather than means, because the machine is shared and a
// few slow repetitions must not move the figure.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Summary {
    double median = 0;
    double p10 = 0;
    double p90 = 0;
    size_t count = 0;
};

// Percentile q (0..1) by linear interpolation between the nearest ranks.
double percentile(std::vector<double> values, double q);
Summary summarize(const std::vector<double>& values);
double mean(const std::vector<double>& values);

// "1.23 (1.10-1.41)": median with p10-p90, in the given precision.
std::string format(const Summary& s, int decimals);
// "12.3 ms": a figure with its unit.
std::string withUnit(double value, const char* unit, int decimals = 1);

}  // namespace bench
