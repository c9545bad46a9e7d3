// Figures 8 and 9: the command-line tool kv618, each run in a process of its
// own against the emulator.  8: a scan of every address at one speed against
// the sum of its probes' time-outs (the libraries' rule); 9: watch's cadence
// over minutes against its nominal interval, and its drift stated per hour.
#include "Benchmarks.h"
#include "Child.h"
#include "Emulator.h"
#include "Exchange.h"

#include "Dekl.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <sys/wait.h>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

std::string withUnit(double value, const char* unit, int decimals = 1) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f %s", decimals, value, unit);
    return text;
}

// The whole process, from its start to its exit, with its found modules read.
double scanMs(const std::vector<std::string>& argv, const Child::Environment& environment) {
    Child child(argv, environment);
    while (child.readLine(std::chrono::minutes(5))) {
    }
    const auto ended = Clock::now();
    const Child::Exit exit = child.wait();
    if (!WIFEXITED(exit.status) || WEXITSTATUS(exit.status) != 0) throw std::runtime_error("kv618 scan failed");
    return std::chrono::duration<double, std::milli>(ended - child.started()).count();
}

Row scanRow(std::string figure, const std::vector<std::string>& argv, const Child::Environment& environment,
            int probes, int timeoutMs, int rounds, std::string note) {
    const double reference = static_cast<double>(probes) * timeoutMs;
    std::vector<double> ms, ratios;
    for (int round = 0; round < rounds; ++round) {  // each scan is many probes: few rounds suffice
        ms.push_back(scanMs(argv, environment));
        ratios.push_back(ms.back() / reference);
    }
    Row row = medianRow(std::move(figure),
                        withUnit(percentile(ms, 0.5) / 1000, "s", 2),
                        withUnit(reference / 1000, "s", 2), ratios);
    atMost(row, 1.1);
    row.note = (rounds == 1 ? std::string("one scan, ") : std::to_string(rounds) + " scans, ") + note;
    return row;
}

std::vector<std::string> lanScan(const kvtest::Emulator& emu, const std::string& tool, int timeoutMs, int addresses) {
    return {tool,      "--interface", "kv1726",     "--ip",       "127.0.0.1", "--udp-port", std::to_string(emu.udpPort()),
            "--timeout", std::to_string(timeoutMs), "scan", "--addresses", "0-" + std::to_string(addresses - 1)};
}

// Each exchange's own duration from the library's trace ("... 23.966 ms").
std::vector<double> tracedMs(const std::string& file) {
    std::vector<double> ms;
    FILE* f = std::fopen(file.c_str(), "r");
    if (!f) return ms;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        const std::string text = line;
        const auto end = text.rfind(" ms");
        const auto start = text.rfind(' ', end - 1);
        if (end != std::string::npos && start != std::string::npos && text.find("no reply") != std::string::npos)
            ms.push_back(std::stod(text.substr(start + 1, end - start - 1)));
    }
    std::fclose(f);
    return ms;
}

// The per-probe view: how long the library waited for each silent address.
Row probeRow(const kvtest::Emulator& emu, const std::string& tool, int timeoutMs) {
    const std::string trace = emu.tempDir() + "/scan-trace";
    std::vector<std::string> argv = lanScan(emu, tool, timeoutMs, 256);
    argv.insert(argv.begin() + 1, {"--trace", trace});
    scanMs(argv, {});
    const std::vector<double> ms = tracedMs(trace);
    if (ms.empty()) throw std::runtime_error("no trace of the scan");
    std::vector<double> ratios;
    for (const double m : ms) ratios.push_back(m / timeoutMs);
    Row row = medianRow("8c. (diagnosis) one silent probe's wait in QKV1726.DLL (its trace) vs the 20 ms time-out",
                        withUnit(percentile(ms, 0.5), "ms", 2),
                        std::to_string(timeoutMs) + " ms", ratios);
    row.goal = "-";
    row.met = true;
    row.note = std::to_string(ms.size()) + " probes; the library's wait (SO_RCVTIMEO) ends on the kernel's timer "
               "tick, some 4 ms after the time-out: 20 % at 20 ms, 2 % at the default 200 ms";
    return row;
}

std::vector<Row> scanRows(const Settings& s, const kvtest::Emulator& emu, const std::string& tool) {
    // The LAN converter's block time-out (the program's default 200 ms) is the LAN link's whole rule.
    constexpr int lanTimeoutMs = 200;
    const int lanAddresses = s.quick ? 32 : 256;
    // The serial line at 9600 Bd with the program's time value: the rule's 200 ms floor.
    const int serialTimeoutMs = drv::replyTimeoutMs(9600, TimeoutRychlosti(9600));
    const int serialAddresses = s.quick ? 16 : 64;
    const std::vector<std::string> serial = {tool,   "--interface", "com",   "--port", "7",
                                             "scan", "--addresses", "0-" + std::to_string(serialAddresses - 1),
                                             "--bauds", "9600"};
    return {
        scanRow("8a. kv618 scan of every address at one speed over UDP vs the sum of its probes' time-outs",
                lanScan(emu, tool, lanTimeoutMs, lanAddresses), {}, lanAddresses, lanTimeoutMs, 1,
                std::to_string(lanAddresses) + " probes x " + std::to_string(lanTimeoutMs) +
                    " ms, one module at address 1; the whole process, start to exit"),
        scanRow("8b. kv618 scan at 9600 Bd over the serial line (QCOM726.DLL, pty) vs the sum of its probes' time-outs",
                serial, {{"QCOM726_COM7", emu.ptyPath()}}, serialAddresses, serialTimeoutMs, 1,
                std::to_string(serialAddresses) + " probes x " + std::to_string(serialTimeoutMs) +
                    " ms (the libraries' rule at 9600 Bd); the whole process"),
        probeRow(emu, tool, 20),
    };
}

// Least-squares slope of lateness against time: how many ms per ms the
// polls fall behind (or run ahead of) their schedule.
double driftSlope(const std::vector<double>& at, double intervalMs) {
    const size_t n = at.size();
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t k = 0; k < n; ++k) {
        const double x = at[k] - at[0];
        const double y = x - static_cast<double>(k) * intervalMs;
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double d = static_cast<double>(n) * sxx - sx * sx;
    return d == 0 ? 0 : (static_cast<double>(n) * sxy - sx * sy) / d;
}

std::vector<Row> watchRows(const Settings& s, const kvtest::Emulator& emu, const std::string& tool) {
    constexpr double intervalMs = 100;
    Child child({tool, "--interface", "kv1726", "--ip", "127.0.0.1", "--udp-port", std::to_string(emu.udpPort()),
                 "--address", "1", "watch", "inputs", "--interval", "100", "--format", "csv"});
    if (!child.readLine(std::chrono::seconds(10))) throw std::runtime_error("kv618 watch gave no header");
    std::vector<double> at;  // arrival of each line through the pipe, ms
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(s.watchSeconds)) {
        if (!child.readLine(std::chrono::seconds(5))) throw std::runtime_error("kv618 watch stopped");
        at.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    child.terminate();
    if (at.size() < 3) throw std::runtime_error("too few polls");

    std::vector<double> intervals, ratios;
    for (size_t k = 1; k < at.size(); ++k) {
        intervals.push_back(at[k] - at[k - 1]);
        ratios.push_back(intervals.back() / intervalMs);
    }
    double lateness = 0;
    for (size_t k = 0; k < at.size(); ++k) lateness = std::max(lateness, at[k] - at[0] - k * intervalMs);
    const double span = at.back() - at.front(), nominal = (at.size() - 1) * intervalMs;
    const double perHour = driftSlope(at, intervalMs) * 3600 * 1000;

    Row cadence = medianRow("9a. kv618 watch inputs --interval 100 (LAN, CSV into a pipe): interval between lines vs nominal",
                            withUnit(percentile(intervals, 0.5), "ms", 2),
                            "100 ms", ratios);
    within(cadence, 0.98, 1.02);
    cadence.note = std::to_string(at.size()) + " lines in " + std::to_string(s.watchSeconds) + " s, timed as they arrive";

    Row drift;
    drift.figure = "9b. kv618 watch drift: span of all lines vs their number x 100 ms";
    drift.measured = withUnit(perHour, "ms/h", 1) + " (slope of lateness, scaled to an hour)";
    drift.reference = "0 ms/h";
    drift.ratio = summarize({span / nominal});
    within(drift, 0.9999, 1.0001);
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.6f", span / nominal);
    drift.note = "span / nominal = " + std::string(ratio) + "; measured over " + std::to_string(s.watchSeconds) +
                 " s, not a full hour; deadlines are absolute, so lateness does not add up; largest lateness " +
                 withUnit(lateness, "ms");
    return {cadence, drift};
}

}  // namespace

std::vector<Row> cliBench(const Settings& s) {
    const std::string tool = siblingPath("kv618");
    kvtest::Emulator emu;
    std::vector<Row> rows = scanRows(s, emu, tool);
    for (Row& row : watchRows(s, emu, tool)) rows.push_back(std::move(row));
    return rows;
}

}  // namespace bench
