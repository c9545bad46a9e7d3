// Figure 12: kv618 plant audit runs its lines side by side.  The wall time
// of the whole process against the longest line's sum of its exchanges,
// each exchange's own time taken from the libraries' trace: 100 modules on
// four LAN converters, and 100 on two serial lines.
#include "Benchmarks.h"
#include "Child.h"
#include "Emulator.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Modules = 100;

// What every module holds from the factory: each audit reads and compares all of it.
const char* const FactorySettings =
    "format = kv618-settings 1\nmodule = KV-618\nversion = 1.04\nsaved = 2026-12-07 12:00:00\n"
    "address = 1\nbaud = 9600\ninitial-outputs = 0x00000000\ninput-negation = 0xFFFFFFFF\n"
    "output-negation = 0xFFFFFFFF\npulse-number.0 = 1\npulse-number.1 = 1\npulse-number.2 = 1\npulse-number.3 = 1\n";

struct Plant {
    std::vector<std::unique_ptr<kvtest::Emulator>> lines;
    std::string folder;  // the plant file, the settings file, the trace
    Child::Environment environment;
};

// Line k carries the addresses k * perLine + 1 ... so that the trace's
// requests tell the lines apart by their address byte.
Plant MakePlant(int lineCount, bool serial, int32_t rate) {
    Plant plant;
    const int perLine = Modules / lineCount;
    std::string text;
    for (int k = 0; k < lineCount; ++k) {
        kvtest::EmulatorOptions options;
        for (int m = 1; m <= perLine; ++m) options.modules.push_back(std::to_string(k * perLine + m) + ":" + std::to_string(rate));
        if (serial) options.lineTiming = true;
        // A LAN converter passes the request on at the line's rate: each reply
        // comes as late as 25 bytes take on the wire at the rate.
        else options.extraArgs = {"--reply-delay", std::to_string((250 * 1000 + rate - 1) / rate)};
        plant.lines.push_back(std::make_unique<kvtest::Emulator>(options));
        const kvtest::Emulator& e = *plant.lines.back();
        for (int m = 1; m <= perLine; ++m) {
            const int address = k * perLine + m;
            text += "[module m" + std::to_string(address) + "]\n";
            text += serial ? "interface = com\nport = " + std::to_string(7 + k) + "\n"
                           : "interface = kv1726\nip = 127.0.0.1\nudp port = " + std::to_string(e.udpPort()) + "\n";
            text += "address = " + std::to_string(address) + "\nrate = " + std::to_string(rate) + "\nsettings = factory.txt\n";
        }
        if (serial) plant.environment.push_back({"QCOM726_COM" + std::to_string(7 + k), e.ptyPath()});
    }
    plant.folder = plant.lines.front()->tempDir();
    std::ofstream(plant.folder + "/plant.conf") << text;
    std::ofstream(plant.folder + "/factory.txt") << FactorySettings;
    return plant;
}

struct Timing {
    double wallMs = 0;
    double longestLineMs = 0;
};

// The exchanges' own times by line, from lines "... request A5 T T ADDRESS ... 2.345 ms".
double LongestLine(const std::string& trace, int perLine) {
    std::map<int, double> byLine;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        const auto request = line.find(" request A5 ");
        const auto end = line.rfind(" ms");
        if (request == std::string::npos || end == std::string::npos) continue;
        const int address = std::stoi(line.substr(request + 18, 2), nullptr, 16);
        const auto start = line.rfind(' ', end - 1);
        byLine[(address - 1) / perLine] += std::stod(line.substr(start + 1, end - start - 1));
    }
    double longest = 0;
    for (const auto& [k, ms] : byLine) longest = std::max(longest, ms);
    return longest;
}

Timing Audit(const Plant& plant, int lineCount) {
    const std::string trace = plant.folder + "/trace";
    std::remove(trace.c_str());
    Child child({siblingPath("kv618"), "--trace", trace, "plant", "audit", plant.folder + "/plant.conf"},
                plant.environment);
    while (child.readLine(std::chrono::minutes(5))) {
    }
    const auto ended = Clock::now();
    const Child::Exit exit = child.wait();
    if (!WIFEXITED(exit.status) || WEXITSTATUS(exit.status) != 0) throw std::runtime_error("kv618 plant audit failed");
    return {std::chrono::duration<double, std::milli>(ended - child.started()).count(),
            LongestLine(trace, Modules / lineCount)};
}

Row AuditRow(const Settings& s, std::string figure, int lineCount, bool serial, int32_t rate, std::string note) {
    const Plant plant = MakePlant(lineCount, serial, rate);
    std::vector<double> wall, longest, ratios;
    for (int round = 0; round < (s.quick ? 1 : 5); ++round) {
        const Timing t = Audit(plant, lineCount);
        wall.push_back(t.wallMs);
        longest.push_back(t.longestLineMs);
        ratios.push_back(t.wallMs / t.longestLineMs);
    }
    Row row = medianRow(std::move(figure), withUnit(percentile(wall, 0.5) / 1000, "s", 2),
                        withUnit(percentile(longest, 0.5) / 1000, "s", 2), ratios);
    atMost(row, 1.2);
    row.note = std::to_string(wall.size()) + (wall.size() == 1 ? " run, " : " runs, ") + note;
    return row;
}

}  // namespace

std::vector<Row> plantBench(const Settings& s) {
    return {
        AuditRow(s, "12a. kv618 plant audit, 100 modules on 4 LAN lines: the whole process vs the longest line's exchanges",
                 4, false, 57600,
                 "25 modules a line at 57600 Bd, each reply 5 ms late (the converter's line time), 20 exchanges a module "
                 "(identification, 17 settings); the exchanges' own times from the libraries' trace"),
        AuditRow(s, "12b. kv618 plant audit, 100 modules on 2 serial lines (pty, line timing): the same",
                 2, true, 115200,
                 "50 modules a line at 115200 Bd, the emulator's line timing (25 bytes on the wire per exchange)"),
    };
}

}  // namespace bench
