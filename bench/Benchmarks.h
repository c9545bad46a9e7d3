// The benchmark figures.  Each is measured side by side with its reference
// in one run and reported as a ratio with its spread over the repetitions.
#pragma once

#include "Stats.h"

#include <string>
#include <vector>

namespace bench {

struct Row {
    std::string figure;
    std::string measured;   // median of the measured side, with its unit
    std::string reference;  // median of the reference, with its unit
    Summary ratio;          // measured / reference per repetition
    std::string goal;       // e.g. "<= 1.3"
    bool met = false;
    std::string note;
};

struct Settings {
    bool quick = false;     // fewer repetitions, for a check that it all runs
    int pollSeconds = 20;
    int watchSeconds = 180;  // kv618 watch's cadence and drift
};

std::vector<Row> exchangeBench(const Settings& s);
std::vector<Row> serialBench(const Settings& s);
std::vector<Row> configBench(const Settings& s);
std::vector<Row> pollBench(const Settings& s);
std::vector<Row> startupBench(const Settings& s);
std::vector<Row> silentBench(const Settings& s);
std::vector<Row> bridgeBench(const Settings& s);
std::vector<Row> sparkplugBench(const Settings& s);
std::vector<Row> cliBench(const Settings& s);
std::vector<Row> plantBench(const Settings& s);

// Child process modes of the benchmark executable.
int runPong();
int runPollChild(int argc, char** argv);

}  // namespace bench
