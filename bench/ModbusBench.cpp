// Figure 14: the bridge's Modbus face (docs/modbus.md).
//   14a/14b  one read of all 32 inputs (function 2), and of one module's
//            counters (function 4, 40 registers), through the gateway vs the
//            same read answered by a bare libmodbus server from memory; the
//            client, the bridge, the bare server and the emulator on one core;
//   14c      1000 modules on 4 lines (emulators of 250, inputs every 1 s), 16
//            clients reading each module's inputs every 100 ms: the lines'
//            cadence with the clients;
//   14d      every request of 14c answered;
//   14e      the bridge's CPU per request: its Modbus thread's, against the
//            bare server's per read of 14a.
#include "Benchmarks.h"
#include "Cores.h"
#include "EmulatedLines.h"
#include "Emulator.h"
#include "Mqtt.h"

#include <modbus.h>

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace bench {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int PerSection = 200;  // unit ids are 1-247: five sections of 200
constexpr int Clients = 16;
constexpr auto LinePoll = 1s;
constexpr auto ClientPoll = 100ms;
constexpr int CounterRegister = 20, CounterRegisters = 40;

// A bare libmodbus server in a child process: one connection at a time,
// every request answered by modbus_reply from a mapping of the gateway's
// sizes.  Its pid.
pid_t BareServer(uint16_t port) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(1);
        modbus_t* ctx = ::modbus_new_tcp("127.0.0.1", port);
        int listening = ::modbus_tcp_listen(ctx, 4);
        modbus_mapping_t* map = ::modbus_mapping_new(32, 32, 4, 60);
        for (int i = 0; i < 60; ++i) map->tab_input_registers[i] = static_cast<uint16_t>(i * 7);
        for (int i = 0; i < 32; ++i) map->tab_input_bits[i] = i & 1;
        for (;;) {
            if (::modbus_tcp_accept(ctx, &listening) < 0) ::_exit(1);
            uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
            for (int length; (length = ::modbus_receive(ctx, request)) != -1;)
                if (length > 0) ::modbus_reply(ctx, request, length, map);
            ::close(::modbus_get_socket(ctx));
        }
    }
    return pid;
}

// The bare server's time on a CPU to the nanosecond (its one thread is named
// as this process).
double BareCpuSeconds(pid_t pid) {
    std::string name;
    std::getline(std::ifstream("/proc/self/comm"), name);
    return threadCpuSeconds(pid, name);
}

void Kill(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// A libmodbus client of `port` on 127.0.0.1 for unit `unit`, connected once
// the server listens.
modbus_t* Client(uint16_t port, int unit) {
    const auto deadline = Clock::now() + 60s;
    for (;;) {
        modbus_t* ctx = ::modbus_new_tcp("127.0.0.1", port);
        ::modbus_set_slave(ctx, unit);
        ::modbus_set_response_timeout(ctx, 2, 0);
        if (::modbus_connect(ctx) == 0) return ctx;
        ::modbus_free(ctx);
        if (Clock::now() > deadline) throw std::runtime_error("no Modbus server on port " + std::to_string(port));
        std::this_thread::sleep_for(50ms);
    }
}

bool ReadInputs(modbus_t* ctx) {
    uint8_t bits[32];
    return ::modbus_read_input_bits(ctx, 0, 32, bits) == 32;
}

bool ReadCounters(modbus_t* ctx) {
    uint16_t registers[CounterRegisters];
    return ::modbus_read_input_registers(ctx, CounterRegister, CounterRegisters, registers) == CounterRegisters;
}

// Microseconds per read of `n` reads.
double TimeReads(modbus_t* ctx, bool (*read)(modbus_t*), int n) {
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i)
        if (!read(ctx)) throw std::runtime_error(std::string("a read failed: ") + ::modbus_strerror(errno));
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
}

// This thread on the measured core for as long as it lives, then on every core.
struct OneCore {
    OneCore() { pin(0, MeasuredCore); }
    ~OneCore() {
        cpu_set_t all;
        CPU_ZERO(&all);
        for (unsigned c = 0; c < std::thread::hardware_concurrency(); ++c) CPU_SET(c, &all);
        ::sched_setaffinity(0, sizeof all, &all);
    }
};

struct PairResult {
    std::vector<Row> rows;
    double bareCpuPerRead = 0;  // µs, of the bare server
};

PairResult GatewayAgainstBare(const Settings& s) {
    kvtest::Emulator emulator;
    const uint16_t gatewayPort = kvtest::FreeTcpPort();
    std::ostringstream config;
    config << "[modbus]\nlisten = 127.0.0.1:" << gatewayPort << "\n\n[module m]\nRozhraní = KV-1726\n"
           << "IP adresa = 127.0.0.1\nUDP port = " << emulator.udpPort()
           << "\nAdresa = 1\ninputs = 1 s\nstatus = off\ncounters = 1 s\n";
    kvtest::BridgeProcess bridge(config.str());
    const uint16_t barePort = kvtest::FreeTcpPort();
    const pid_t bare = BareServer(barePort);
    // Everything on one core: each exchange costs both sides the same switches.
    for (const pid_t pid : {bridge.pid(), bare, emulator.pid()}) pin(pid, MeasuredCore);
    OneCore oneCore;
    modbus_t* gateway = Client(gatewayPort, 1);
    modbus_t* reference = Client(barePort, 1);
    const auto deadline = Clock::now() + 30s;
    while (!ReadInputs(gateway) || !ReadCounters(gateway)) {
        if (Clock::now() > deadline) throw std::runtime_error("the gateway does not serve the module:\n" + bridge.log());
        std::this_thread::sleep_for(100ms);
    }
    const int rounds = s.quick ? 4 : 40, reads = s.quick ? 100 : 500;
    PairResult result;
    double bareCpu = 0;
    long bareReads = 0;
    for (const auto& [read, figure] :
         {std::pair{&ReadInputs, "14a. Modbus read of 32 inputs (function 2) through the gateway vs a bare libmodbus "
                                 "server answering from memory"},
          {&ReadCounters, "14b. Modbus read of one module's counters (function 4, 40 registers) through the gateway "
                          "vs a bare libmodbus server answering from memory"}}) {
        std::vector<double> gatewayUs, bareUs, ratios;
        for (int r = 0; r < rounds; ++r) {
            double g = 0, b = 0;
            const double cpuBefore = BareCpuSeconds(bare);
            if (r % 2 == 0) g = TimeReads(gateway, read, reads), b = TimeReads(reference, read, reads);
            else b = TimeReads(reference, read, reads), g = TimeReads(gateway, read, reads);
            bareCpu += BareCpuSeconds(bare) - cpuBefore;
            bareReads += reads;
            gatewayUs.push_back(g);
            bareUs.push_back(b);
            ratios.push_back(g / b);
        }
        Row row = medianRow(figure, withUnit(percentile(gatewayUs, 0.5), "µs", 1),
                            withUnit(percentile(bareUs, 0.5), "µs", 1), ratios);
        atMost(row, 1.3);
        row.note = std::to_string(rounds) + " rounds x " + std::to_string(reads) +
                   " reads, alternating; client, bridge, bare server and emulator on one core";
        result.rows.push_back(row);
    }
    result.bareCpuPerRead = bareCpu / static_cast<double>(bareReads) * 1e6;
    ::modbus_close(gateway);
    ::modbus_free(gateway);
    ::modbus_close(reference);
    ::modbus_free(reference);
    Kill(bare);
    return result;
}

// The thousand-module bridge, Modbus only: five sections (ports) of 200 units.
struct Plant {
    explicit Plant(std::vector<uint16_t>& ports) : emulators(emulatedLines(ThousandLines, ThousandPerLine)) {
        std::ostringstream config;
        for (int s = 0; s < ThousandModules / PerSection; ++s) {
            ports.push_back(kvtest::FreeTcpPort());
            config << "[modbus s" << s << "]\nlisten = 127.0.0.1:" << ports.back() << "\n";
        }
        for (int i = 0; i < ThousandModules; ++i)
            config << "[module m" << i << "]\nRozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = "
                   << emulators[static_cast<size_t>(i / ThousandPerLine)]->udpPort()
                   << "\nAdresa = " << i % ThousandPerLine + 1
                   << "\ninputs = 1 s\nstatus = off\ncounters = off\nmodbus = s" << i / PerSection
                   << "\nunit = " << i % PerSection + 1 << "\n";
        bridge = std::make_unique<kvtest::BridgeProcess>(config.str());
        pin(bridge->pid(), MeasuredCore);
    }
    std::vector<RequestCount> Requests() const { return requestCounts(emulators, ThousandPerLine); }
    Emulators emulators;
    std::unique_ptr<kvtest::BridgeProcess> bridge;
};

// The 16 clients: client c reads the inputs of every module i with i % 16 == c
// every 100 ms, one connection to each section.
struct Load {
    std::atomic<long> answered{0}, failed{0};
    void Run(const std::vector<uint16_t>& ports, Clock::time_point end) {
        std::vector<std::thread> clients;
        for (int c = 0; c < Clients; ++c)
            clients.emplace_back([&, c] {
                std::vector<modbus_t*> sections;
                for (const uint16_t port : ports) sections.push_back(Client(port, 1));
                std::vector<int> mine;
                for (int i = c; i < ThousandModules; i += Clients) mine.push_back(i);
                const auto step = std::chrono::microseconds(ClientPoll) / static_cast<int>(mine.size());
                auto due = Clock::now() + step * c / Clients;
                for (size_t k = 0; Clock::now() < end; k = (k + 1) % mine.size()) {
                    std::this_thread::sleep_until(due);
                    due += step;
                    modbus_t* ctx = sections[static_cast<size_t>(mine[k] / PerSection)];
                    ::modbus_set_slave(ctx, mine[k] % PerSection + 1);
                    (ReadInputs(ctx) ? answered : failed)++;
                }
                for (modbus_t* ctx : sections) ::modbus_close(ctx), ::modbus_free(ctx);
            });
        for (auto& t : clients) t.join();
    }
};

std::vector<Row> ServeThousandModules(const Settings& s, double bareCpuPerRead) {
    StateFilesInMemory inMemory;
    OtherCore otherCore;
    std::vector<uint16_t> ports;
    Plant plant(ports);
    // Every module served before the windows start.
    {
        std::vector<modbus_t*> sections;
        for (const uint16_t port : ports) sections.push_back(Client(port, 1));
        const auto deadline = Clock::now() + 180s;
        for (int i = 0; i < ThousandModules; ++i) {
            modbus_t* ctx = sections[static_cast<size_t>(i / PerSection)];
            ::modbus_set_slave(ctx, i % PerSection + 1);
            while (!ReadInputs(ctx)) {
                if (Clock::now() > deadline) throw std::runtime_error("not every module is served:\n" + plant.bridge->log());
                std::this_thread::sleep_for(50ms);
            }
        }
        for (modbus_t* ctx : sections) ::modbus_close(ctx), ::modbus_free(ctx);
    }
    const auto window = std::chrono::seconds(s.quick ? 10 : std::max(30, s.pollSeconds));
    // A window without clients, then one with them.
    const double quietBefore = cpuSeconds(plant.bridge->pid());
    auto start = Clock::now();
    std::this_thread::sleep_for(window / 3);
    const double quietShare = (cpuSeconds(plant.bridge->pid()) - quietBefore) /
                              std::chrono::duration<double>(Clock::now() - start).count();

    const auto before = plant.Requests();
    const double cpuBefore = cpuSeconds(plant.bridge->pid());
    const double threadBefore = threadCpuSeconds(plant.bridge->pid(), "kv-modbus");
    start = Clock::now();
    Load load;
    load.Run(ports, start + window);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds(plant.bridge->pid()) - cpuBefore;
    const double thread = threadCpuSeconds(plant.bridge->pid(), "kv-modbus") - threadBefore;
    const auto after = plant.Requests();
    const std::vector<double> lineCadence = cadence(before, after, LinePoll);
    if (plant.bridge->terminate() != 0) throw std::runtime_error("the bridge did not end cleanly:\n" + plant.bridge->log());

    const long requests = load.answered + load.failed;
    char note[320];
    std::vector<Row> rows;
    const auto [lowest, highest] = std::minmax_element(lineCadence.begin(), lineCadence.end());
    Row lines;
    lines.figure = "14c. Modbus: cadence of 1000 modules at 1 s on 4 lines while 16 clients read each module's inputs "
                   "every 100 ms, bridge on one core";
    lines.ratio = summarize(lineCadence);
    lines.measured = withUnit(lines.ratio.median * 1000, "ms", 1);
    lines.reference = "1000 ms";
    lines.goal = "0.98 - 1.02";
    lines.met = *lowest >= 0.98 && *highest <= 1.02;
    std::snprintf(note, sizeof note, "every module: %.3f-%.3f; %.0f s; bridge %.1f %% of its core (%.1f %% without clients)",
                  *lowest, *highest, wall, cpu / wall * 100, quietShare * 100);
    lines.note = note;
    rows.push_back(lines);

    Row answered;
    answered.figure = "14d. Modbus: requests of 14c answered";
    answered.measured = std::to_string(load.answered.load()) + " of " + std::to_string(requests);
    answered.reference = withUnit(static_cast<double>(ThousandModules) * 1000.0 / ClientPoll.count() * wall, "asked for", 0);
    answered.ratio = summarize({requests ? static_cast<double>(load.answered) / static_cast<double>(requests) : 0});
    answered.goal = "every one";
    answered.met = requests > 0 && load.failed == 0;
    std::snprintf(note, sizeof note, "%.0f requests a second from %d clients over 5 ports (200 units each)",
                  static_cast<double>(requests) / wall, Clients);
    answered.note = note;
    rows.push_back(answered);

    const double perRequest = thread / static_cast<double>(requests) * 1e6;
    Row cpuRow;
    cpuRow.figure = "14e. Modbus: CPU per request of 14c, the bridge's Modbus thread (kv-modbus), vs the bare libmodbus "
                    "server's per read in 14a";
    cpuRow.measured = withUnit(perRequest, "µs/request", 2);
    cpuRow.reference = withUnit(bareCpuPerRead, "µs/read", 2) + " (bare server)";
    cpuRow.ratio = summarize({perRequest / bareCpuPerRead});
    cpuRow.goal = "-";
    std::snprintf(note, sizeof note,
                  "the thread's time on a CPU (schedstat); the whole bridge with its polling less the same without "
                  "clients: %.2f µs/request",
                  (cpu - quietShare * wall) / static_cast<double>(requests) * 1e6);
    cpuRow.note = note;
    rows.push_back(cpuRow);
    return rows;
}

}  // namespace

std::vector<Row> modbusBench(const Settings& s) {
    PairResult pair = GatewayAgainstBare(s);
    std::vector<Row> rows = pair.rows;
    for (Row& row : ServeThousandModules(s, pair.bareCpuPerRead)) rows.push_back(row);
    return rows;
}

}  // namespace bench

#ifdef KV_MODBUS_BENCH_MAIN
// kvbench_modbus [--quick] [--seconds N]: figure 14 alone, without the
// windows kvbench needs.
#include "Table.h"

int main(int argc, char* argv[]) { return bench::runAlone(argc, argv, "kvbench_modbus", "14", bench::modbusBench); }
#endif
