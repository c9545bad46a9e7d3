// The benchmarks' Markdown table, printed by kvbench and by the figures that
// also run alone without the windows (kvbench_sparkplug, kvbench_modbus).
#pragma once

#include "Benchmarks.h"

#include <string>
#include <vector>

namespace bench {

void printHeader();
void printRow(const Row& r);
// The row of a benchmark that threw: `name` and why.
void printFailure(const std::string& name, const std::string& why);

// main() of a figure run alone: `program [--quick] [--seconds N]`, its rows
// as a table; 0 when measured, 1 when it threw, 2 on wrong usage.
int runAlone(int argc, char** argv, const char* program, const char* figure,
             std::vector<Row> (*measure)(const Settings&));

}  // namespace bench
