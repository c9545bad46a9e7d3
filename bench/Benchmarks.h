// The benchmark figures.  Each is measured side by side with its reference
// in one run and reported as a ratio with its spread over the repetitions.
#pragma once

#include "Stats.h"

#include <sstream>
#include <string>
#include <utility>
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

// A row of the measured side's median against the reference's, with the
// ratios of the repetitions.
inline Row medianRow(std::string figure, std::string measured, std::string reference, const std::vector<double>& ratios) {
    Row row;
    row.figure = std::move(figure);
    row.measured = std::move(measured);
    row.reference = std::move(reference);
    row.ratio = summarize(ratios);
    return row;
}

// The goal of a row whose median ratio must stay at most `high`, or within
// `low` - `high`: sets its text and whether the median meets it.
inline std::string goalNumber(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}
inline void atMost(Row& row, double high) {
    row.goal = "<= " + goalNumber(high);
    row.met = row.ratio.median <= high;
}
inline void within(Row& row, double low, double high) {
    row.goal = goalNumber(low) + " - " + goalNumber(high);
    row.met = row.ratio.median >= low && row.ratio.median <= high;
}

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
std::vector<Row> modbusBench(const Settings& s);
std::vector<Row> cliBench(const Settings& s);  // oneshot, scan and watch
std::vector<Row> oneShotBench(const Settings& s);
std::vector<Row> scanBench(const Settings& s);
std::vector<Row> watchBench(const Settings& s);
std::vector<Row> plantBench(const Settings& s);
std::vector<Row> trendBench(const Settings& s);

// Child process modes of the benchmark executable.
int runPong();
int runPollChild(int argc, char** argv);
int runTrendChild(int argc, char** argv);
int runTrendPicture(int argc, char** argv);

}  // namespace bench
