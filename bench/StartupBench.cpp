// Figure 5: time from the start of the process to the main window's first
// paint, and the process's peak resident memory, against a bare Qt window.
#include "Benchmarks.h"
#include "Child.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace bench {

namespace {

struct Start {
    double ms = 0;
    double peakKiB = 0;
};

Start startOnce(const std::string& executable, const std::string& settings) {
    Child child({executable, settings}, {{"QT_QPA_PLATFORM", "offscreen"}});
    const auto line = child.readLine(std::chrono::seconds(30));
    const auto shown = std::chrono::steady_clock::now();
    long kib = 0;
    if (!line || std::sscanf(line->c_str(), "SHOWN %ld", &kib) != 1 || kib <= 0)
        throw std::runtime_error(executable + " did not show its window");
    child.wait();
    Start s;
    s.ms = std::chrono::duration<double, std::milli>(shown - child.started()).count();
    s.peakKiB = static_cast<double>(kib);
    return s;
}

}  // namespace

std::vector<Row> startupBench(const Settings& s) {
    const std::string program = siblingPath("kvbench_start_program");
    const std::string bare = siblingPath("kvbench_start_bare");
    const std::string text = siblingPath("kvbench_start_text");
    char folder[] = "/tmp/kvbench-start-XXXXXX";
    if (!mkdtemp(folder)) throw std::runtime_error("no temporary folder");
    const std::string settings = std::string(folder) + "/R_iv618.ini";

    const int rounds = s.quick ? 3 : 20;
    startOnce(program, settings);
    startOnce(bare, settings);
    startOnce(text, settings);
    std::vector<double> programMs, bareMs, timeRatio, programKiB, bareKiB, memoryRatio;
    std::vector<double> textMs, textKiB, textTimeRatio, textMemoryRatio;
    for (int round = 0; round < rounds; ++round) {
        Start a, b, c;
        if (round % 2 == 0) {
            a = startOnce(program, settings);
            b = startOnce(bare, settings);
            c = startOnce(text, settings);
        } else {
            c = startOnce(text, settings);
            b = startOnce(bare, settings);
            a = startOnce(program, settings);
        }
        textMs.push_back(c.ms);
        textKiB.push_back(c.peakKiB);
        textTimeRatio.push_back(a.ms / c.ms);
        textMemoryRatio.push_back(a.peakKiB / c.peakKiB);
        programMs.push_back(a.ms);
        bareMs.push_back(b.ms);
        timeRatio.push_back(a.ms / b.ms);
        programKiB.push_back(a.peakKiB);
        bareKiB.push_back(b.peakKiB);
        memoryRatio.push_back(a.peakKiB / b.peakKiB);
    }
    rmdir(folder);

    Row time = medianRow("5a. Start to main window shown (TForm1) vs bare QMainWindow",
                         withUnit(percentile(programMs, 0.5), "ms"),
                         withUnit(percentile(bareMs, 0.5), "ms"), timeRatio);
    atMost(time, 1.2);
    time.note = std::to_string(rounds) + " starts each, offscreen platform";

    Row memory = medianRow("5b. Peak resident memory (TForm1) vs bare QMainWindow",
                           withUnit(percentile(programKiB, 0.5) / 1024, "MiB"),
                           withUnit(percentile(bareKiB, 0.5) / 1024, "MiB"), memoryRatio);
    atMost(memory, 1.3);
    memory.note = "VmHWM of the started process";

    Row textTime = medianRow("5c. (diagnosis) start of TForm1 vs bare window with one line of text",
                             time.measured,
                             withUnit(percentile(textMs, 0.5), "ms"), textTimeRatio);
    textTime.goal = "-";
    textTime.met = true;
    textTime.note = "the first text painted loads the fonts";

    Row textMemory = medianRow("5d. (diagnosis) peak memory of TForm1 vs bare window with one line of text",
                               memory.measured,
                               withUnit(percentile(textKiB, 0.5) / 1024, "MiB"), textMemoryRatio);
    textMemory.goal = "-";
    textMemory.met = true;
    return {time, memory, textTime, textMemory};
}

}  // namespace bench
