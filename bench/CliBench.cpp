// Figures 8, 9 and 10: the command-line tool kv618, each run in a process of
// its own against the emulator.  8: a scan of every address against its
// goals (one speed over UDP, all speeds on the serial line), on a bus of
// modules at several rates that answer after the line time and the module's
// turnaround; 9: watch's cadence over minutes against its nominal interval,
// and its drift stated per hour; 10: a one-shot command against /bin/true
// and its exchanges.
#include "Benchmarks.h"
#include "Child.h"
#include "../module/Connection.h"  // the module layer's, not bench/Connection.h
#include "../module/Scan.h"
#include "Emulator.h"

#include "Dekl.h"
#include "ReplyTime.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// The modules of the scanned bus, "ADDRESS:BAUD": several rates, the slowest
// and the fastest among them, addresses at both ends of the range.
const std::vector<std::string> BusModules = {"1:9600", "17:19200", "100:600", "200:115200", "254:2400", "255:9600"};

struct Scanned {
    double ms = 0;
    std::vector<std::string> lines;  // "ADDRESS BAUD IDENTIFICATION"
};

// The whole process, from its start to its exit, with its found modules read.
Scanned scan(const std::vector<std::string>& argv, const Child::Environment& environment) {
    Child child(argv, environment);
    Scanned scanned;
    while (auto line = child.readLine(std::chrono::minutes(10))) scanned.lines.push_back(*line);
    const auto ended = Clock::now();
    const Child::Exit exit = child.wait();
    if (!WIFEXITED(exit.status) || WEXITSTATUS(exit.status) != 0) throw std::runtime_error("kv618 scan failed");
    scanned.ms = std::chrono::duration<double, std::milli>(ended - child.started()).count();
    return scanned;
}

// Which modules of the bus the scan found, and whether it missed or repeated one.
// `rate`: only the modules at that rate are expected (0: all).
std::string foundNote(const Scanned& s, int32_t rate, bool& complete) {
    std::map<std::string, int> seen;
    for (const auto& line : s.lines) {
        std::istringstream words(line);
        std::string address, baud;
        words >> address >> baud;
        ++seen[address + ":" + baud];
    }
    int expected = 0, found = 0, twice = 0;
    for (const auto& m : BusModules) {
        const bool wanted = rate == 0 || m.substr(m.find(':') + 1) == std::to_string(rate);
        expected += wanted;
        found += wanted && seen.count(m);
    }
    for (const auto& [module, times] : seen) twice += times > 1;
    complete = found == expected && twice == 0;
    return std::to_string(found) + " of " + std::to_string(expected) + " modules expected found (" +
           std::to_string(s.lines.size()) + " lines), " + std::to_string(twice) + " reported twice";
}

Row scanRow(std::string figure, const std::vector<std::string>& argv, const Child::Environment& environment,
            double goalMs, double timeoutsMs, int32_t expectedRate, std::string note) {
    const Scanned s = scan(argv, environment);
    bool complete = false;
    const std::string found = foundNote(s, expectedRate, complete);
    Row row = medianRow(std::move(figure), withUnit(s.ms / 1000, "s", 1), withUnit(goalMs / 1000, "s", 0),
                        {s.ms / goalMs});
    row.goal = "<= 1 and no module missed";
    row.met = row.ratio.median <= 1 && complete;
    char share[32];
    std::snprintf(share, sizeof share, "%.3f", s.ms / timeoutsMs);
    row.note = "one scan; " + found + "; " + std::move(note) + "; measured / sum of probe time-outs " + share;
    return row;
}

// The sum of kv618 scan's waits for silent addresses at these rates on a
// line (kv618::ScanPlan): a probe each, and at each rate the rest of the last
// ones' whole time-out.
double probesMs(int addresses, const std::vector<int32_t>& rates, uint8_t interface, int32_t fixedTimeoutMs) {
    kv618::ScanPlan line;
    line.interface = interface;
    line.fixedTimeoutMs = fixedTimeoutMs;
    double ms = 0;
    for (const int32_t rate : rates) {
        const int32_t whole = kv618::WholeTimeoutMs(line, rate), probe = std::min(kv618::ProbeMs(rate), whole);
        ms += addresses * probe + whole - probe;
    }
    return ms;
}

// A scan over the LAN converter at 9600 Bd, or with `more` options.
std::vector<std::string> lanScan(const kvtest::Emulator& emu, const std::string& tool, int addresses,
                                 std::vector<std::string> more = {"--bauds", "9600"}) {
    std::vector<std::string> argv = {tool,   "--interface", "kv1726", "--ip", "127.0.0.1", "--udp-port",
                                      std::to_string(emu.udpPort()), "scan", "--addresses",
                                      "0-" + std::to_string(addresses - 1)};
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
}

// Each silent probe's own wait from the library's trace ("... 35.1 ms").
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
Row probeRow(const kvtest::Emulator& emu, const std::string& tool) {
    const std::string trace = emu.tempDir() + "/scan-trace";
    std::vector<std::string> argv = lanScan(emu, tool, 256);
    argv.insert(argv.begin() + 1, {"--trace", trace});
    scan(argv, {});
    const std::vector<double> ms = tracedMs(trace);
    if (ms.empty()) throw std::runtime_error("no trace of the scan");
    const double timeout = kv618::ProbeMs(9600);
    std::vector<double> ratios;
    for (const double m : ms) ratios.push_back(m / timeout);
    Row row = medianRow("8c. (diagnosis) one silent probe's wait in QKV1726.DLL (its trace) vs its time-out at 9600 Bd",
                        withUnit(percentile(ms, 0.5), "ms", 2), withUnit(timeout, "ms", 0), ratios);
    row.goal = "-";
    row.met = true;
    row.note = std::to_string(ms.size()) + " probes; the last 10 ms and an eighth of each wait in ppoll()";
    return row;
}

std::vector<Row> scanRows(const Settings& s, const std::string& tool) {
    kvtest::EmulatorOptions bus = kvtest::ModulesOnLine(BusModules);
    bus.lineTiming = true;
    bus.extraArgs = {"--reply-delay", std::to_string(wire::ModuleTurnaroundMs)};
    kvtest::Emulator emu(bus);
    const int lanAddresses = s.quick ? 32 : 256;
    const int serialAddresses = s.quick ? 8 : 256;
    const std::vector<std::string> serial = {tool, "--interface", "com", "--port", "7", "scan", "--addresses",
                                             "0-" + std::to_string(serialAddresses - 1)};
    const std::vector<int32_t> all(wire::BaudRates.begin(), wire::BaudRates.end());
    // The LAN block's time-out of the program's record (200 ms), and 0 for the rule of _SetConfig.
    constexpr int32_t BlockTimeoutMs = 200;
    const std::string delay = "line timing, reply delay " + std::to_string(wire::ModuleTurnaroundMs) + " ms";
    std::vector<Row> rows;
    rows.push_back(scanRow("8a. kv618 scan 0-255 at 9600 Bd over UDP vs the goal of 10 s",
                           lanScan(emu, tool, lanAddresses, {"--bauds", "9600", "--timeout", "200"}), {},
                           10000.0 * lanAddresses / 256,
                           probesMs(lanAddresses, {9600}, RozhraniKV1726, BlockTimeoutMs), 9600,
                           std::to_string(lanAddresses) + " addresses, " + delay));
    rows.push_back(scanRow("8b. kv618 scan 0-255 at all speeds on the serial line (QCOM726.DLL, pty) vs the goal of 4 min",
                           serial, {{"QCOM726_COM7", emu.ptyPath()}}, 240000.0 * serialAddresses / 256,
                           probesMs(serialAddresses, all, RozhraniCOM, 0), 0,
                           std::to_string(serialAddresses) + " addresses x 9 rates, " + delay));
    rows.push_back(scanRow("8d. kv618 scan 0-255 at all speeds over UDP (the converter carries the rate) vs the serial "
                           "line's goal of 4 min",
                           lanScan(emu, tool, serialAddresses, {"--timeout", "0"}), {}, 240000.0 * serialAddresses / 256,
                           probesMs(serialAddresses, all, RozhraniKV1726, 0), 0,
                           std::to_string(serialAddresses) + " addresses x 9 rates, the link's rule as its time-out "
                           "(--timeout 0: 1417 ms at 600 Bd, as on the serial line), " + delay));
    rows.push_back(probeRow(emu, tool));
    return rows;
}

// Figure 10: a one-shot command, `kv618 identify`, start to exit, against
// /bin/true's start to exit plus the identification's three exchanges made
// in this process through the same library.
std::vector<Row> oneShotRows(const Settings& s, const std::string& tool) {
    kvtest::Emulator emu;
    const std::vector<std::string> identify = {tool,        "--interface", "kv1726", "--ip", "127.0.0.1", "--udp-port",
                                               std::to_string(emu.udpPort()), "--address", "1", "identify"};
    const auto processMs = [](const std::vector<std::string>& argv) {
        Child child(argv);
        while (child.readLine(std::chrono::seconds(10))) {
        }
        const auto ended = Clock::now();
        const Child::Exit exit = child.wait();
        if (!WIFEXITED(exit.status) || WEXITSTATUS(exit.status) != 0) throw std::runtime_error(argv[0] + " failed");
        return std::chrono::duration<double, std::milli>(ended - child.started()).count();
    };
    TData data;
    InicializujData(&data);
    data.IPAdresa = "127.0.0.1";
    data.UDPPort = emu.udpPort();
    kv618::Connection connection;
    if (connection.Open(RozhraniKV1726, kv618::InitBlock(data, RozhraniKV1726), 9600) != 0)
        throw std::runtime_error("no link to the emulator");
    const kv618::Module module = connection.At(1);
    const auto exchangesMs = [&] {
        const auto start = Clock::now();
        if (!module.Identify().ok()) throw std::runtime_error("identification failed");
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    const int rounds = s.quick ? 10 : 200;
    const std::vector<std::string> cxx = {siblingPath("kvbench_cxx_floor")};
    std::vector<double> tool_, floor, ratios, cxxMs, cxxRatios;
    for (int round = 0; round < rounds; ++round) {
        double measured = 0, reference = 0;
        if (round % 2 == 0) {
            measured = processMs(identify);
            reference = processMs({"/bin/true"}) + exchangesMs();
        } else {
            reference = processMs({"/bin/true"}) + exchangesMs();
            measured = processMs(identify);
        }
        tool_.push_back(measured);
        floor.push_back(reference);
        ratios.push_back(measured / reference);
    }
    // The floor afterwards, in rounds of its own, so as not to change the figure's.
    for (int round = 0; round < rounds; ++round) {
        const double reference = processMs({"/bin/true"}) + exchangesMs();
        cxxMs.push_back(processMs(cxx) + exchangesMs());
        cxxRatios.push_back(cxxMs.back() / reference);
    }
    Row row;
    row.figure = "11. kv618 identify (LAN), start to exit, vs /bin/true + its three exchanges";
    row.measured = withUnit(percentile(tool_, 0.5), "ms", 2);
    row.reference = withUnit(percentile(floor, 0.5), "ms", 2);
    row.ratio = summarize(ratios);
    row.goal = "<= 2";
    row.met = row.ratio.median <= 2;
    row.note = std::to_string(rounds) + " rounds, alternating; the bridge's libraries not loaded";
    Row cxxRow;
    cxxRow.figure = "11b. (diagnosis) a C++ program that only starts (libstdc++ loaded, one string printed), plus the "
                    "same exchanges, vs the same reference";
    cxxRow.measured = withUnit(percentile(cxxMs, 0.5), "ms", 2);
    cxxRow.reference = row.reference;
    cxxRow.ratio = summarize(cxxRatios);
    cxxRow.goal = "-";
    cxxRow.note = "the floor of any C++ tool here, before its options, its library and its link";
    return {row, cxxRow};
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

std::vector<Row> oneShotBench(const Settings& s) { return oneShotRows(s, siblingPath("kv618")); }

std::vector<Row> scanBench(const Settings& s) { return scanRows(s, siblingPath("kv618")); }

std::vector<Row> watchBench(const Settings& s) {
    kvtest::Emulator emu;
    return watchRows(s, emu, siblingPath("kv618"));
}

std::vector<Row> cliBench(const Settings& s) {
    std::vector<Row> rows = oneShotBench(s);
    for (auto* part : {scanBench, watchBench})
        for (Row& row : part(s)) rows.push_back(std::move(row));
    return rows;
}

}  // namespace bench
