// Figure 7: the MQTT bridge.  The bridge runs as its own process
// (kv618 bridge) between the emulator over the LAN converter and a mosquitto
// broker on 127.0.0.1; a client of the benchmark's own takes the messages.
//   7a/7b  latency from an input change at the emulator to its MQTT message,
//          against the poll interval;
//   7c/7d  CPU of the bridge per module polled every 100 ms;
//   7e     cadence of every module with the bridge held on one core, for
//          growing numbers of modules.
#include "Benchmarks.h"
#include "Cores.h"
#include "EmulatedLines.h"

#include "../module/Connection.h"  // the module layer's, not bench/Connection.h
#include "Emulator.h"
#include "Mqtt.h"

#include <nlohmann/json.hpp>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace bench {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr int BridgeCore = MeasuredCore;  // the bridge's core; everything else runs on the other

struct Setup {
    int modules = 1;     // per emulator
    int emulators = 1;   // LAN converters, one line each
    std::string polls;   // keys of every module
};

// One broker, the emulators, the bridge with every module and a client on
// kv618/#; only the bridge on its core.
class Plant {
public:
    explicit Plant(const Setup& setup) : emulators(emulatedLines(setup.emulators, setup.modules)) {
        std::ostringstream config;
        config << "[broker]\nhost = 127.0.0.1\nport = " << broker.port() << "\nclient id = bench\n";
        for (int e = 0; e < setup.emulators; ++e)
            for (int a = 0; a < setup.modules; ++a)
                config << "[module m" << e << "-" << a + 1 << "]\nRozhraní = KV-1726\nIP adresa = 127.0.0.1\n"
                       << "UDP port = " << emulators[e]->udpPort() << "\nAdresa = " << a + 1 << "\n"
                       << setup.polls;
        client = std::make_unique<kvtest::MqttClient>(broker.port());
        bridge = std::make_unique<kvtest::BridgeProcess>(config.str());
        pin(bridge->pid(), BridgeCore);
        const size_t total = static_cast<size_t>(setup.modules * setup.emulators);
        const auto deadline = Clock::now() + 60s;
        while (online() < total) {
            if (Clock::now() > deadline) throw std::runtime_error("not every module came online:\n" + bridge->log());
            std::this_thread::sleep_for(100ms);
        }
    }
    size_t online() const {
        size_t n = 0;
        std::map<std::string, std::string> last;
        for (const auto& m : client->messages())
            if (m.topic.size() > 7 && m.topic.compare(m.topic.size() - 7, 7, "/online") == 0) last[m.topic] = m.payload;
        for (const auto& [topic, payload] : last) n += payload == "true";
        return n;
    }

    OtherCore otherCore;
    kvtest::Broker broker;
    Emulators emulators;
    std::unique_ptr<kvtest::MqttClient> client;
    std::unique_ptr<kvtest::BridgeProcess> bridge;
};

Row latencyRow(std::chrono::milliseconds interval, int samples, const char* figure) {
    Plant plant({1, 1, "inputs = " + std::to_string(interval.count()) + " ms\nstatus = off\ncounters = off\nheartbeat = 1 h\n"});
    kvtest::Emulator& emulator = *plant.emulators[0];
    std::mt19937 random(618);
    std::uniform_int_distribution<int> phase(0, static_cast<int>(interval.count()) - 1);
    std::vector<double> latencies, ratios;
    for (int i = 0; i < samples; ++i) {
        // A change at a random point between two polls, as the plant makes them.
        std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
        const size_t from = plant.client->count();
        const auto changed = Clock::now();
        emulator.command("set inputs " + std::to_string(i + 1));
        const uint32_t wanted = emulator.value("get inputs");
        const auto message = plant.client->waitOn(
            "kv618/m0-1/inputs", [&](const std::string& p) { return nlohmann::json::parse(p)["value"] == wanted; },
            10s, from);
        if (!message) throw std::runtime_error("an input change never arrived:\n" + plant.bridge->log());
        const double ms = std::chrono::duration<double, std::milli>(message->at - changed).count();
        latencies.push_back(ms);
        ratios.push_back(ms / static_cast<double>(interval.count()));
    }
    Row row = medianRow(figure,
                        withUnit(percentile(latencies, 0.5), "ms"),
                        withUnit(static_cast<double>(interval.count()), "ms", 0) + " (poll interval)", ratios);
    const double worst = *std::max_element(ratios.begin(), ratios.end());
    row.goal = "max <= 1.05";
    row.met = worst <= 1.05;
    char note[160];
    std::snprintf(note, sizeof note, "%d changes at random phase; max %.3f (%.1f ms)", samples, worst,
                  *std::max_element(latencies.begin(), latencies.end()));
    row.note = note;
    return row;
}

Row cpuRow(const Settings& s, int modules, bool everyPoll, const char* figure) {
    Plant plant({modules, 1,
                 std::string("inputs = 100 ms\nstatus = off\ncounters = off\nheartbeat = ") +
                     (everyPoll ? "10 ms\n" : "1 h\n")});
    std::this_thread::sleep_for(2s);
    const int windows = std::max(4, s.pollSeconds / 2);
    std::vector<double> shares;
    for (int w = 0; w < windows; ++w) {
        const double before = cpuSeconds(plant.bridge->pid());
        const auto start = Clock::now();
        std::this_thread::sleep_for(s.quick ? 1s : 2s);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        shares.push_back((cpuSeconds(plant.bridge->pid()) - before) / wall / modules);
    }
    Row row;
    row.figure = figure;
    row.ratio = summarize(shares);
    row.measured = withUnit(row.ratio.median * 100, "% of one core per module", 3);
    row.reference = "wall time";
    row.goal = "< 0.0044";
    row.met = row.ratio.median < 0.0044;
    row.note = std::to_string(modules) + " modules, " + std::to_string(windows) + " windows; goal: the inputs window's 0.44 % (4c)";
    return row;
}

// Exchanges per second that one line carries right now, bare through the
// module layer on the bridge's core: what the machine leaves for polling.
double lineCapacity(kvtest::Emulator& emulator, int modules) {
    double rate = 0;
    std::thread probe([&] {
        pin(0, BridgeCore);
        TData data;
        InicializujData(&data);
        data.IPAdresa = "127.0.0.1";
        data.UDPPort = emulator.udpPort();
        kv618::Connection connection;
        if (connection.Open(RozhraniKV1726, kv618::InitBlock(data, RozhraniKV1726), 9600) != 0) return;
        int done = 0;
        const auto start = Clock::now();
        while (Clock::now() - start < 2s) done += connection.At(static_cast<uint8_t>(done % modules + 1)).ReadInputs().ok();
        rate = done / std::chrono::duration<double>(Clock::now() - start).count();
    });
    probe.join();
    return rate;
}

Row cadenceRow(const Settings& s, int perEmulator, int emulators) {
    const int total = perEmulator * emulators;
    Plant plant({perEmulator, emulators, "inputs = 100 ms\nstatus = off\ncounters = off\nheartbeat = 1 h\n"});
    std::this_thread::sleep_for(2s);
    const auto before = requestCounts(plant.emulators, perEmulator);
    const double cpuBefore = cpuSeconds(plant.bridge->pid());
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(s.quick ? 5 : s.pollSeconds));
    const auto after = requestCounts(plant.emulators, perEmulator);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = (cpuSeconds(plant.bridge->pid()) - cpuBefore) / wall;
    const std::vector<double> ratios = cadence(before, after, 100ms);
    const auto [lowest, highest] = std::minmax_element(ratios.begin(), ratios.end());
    plant.bridge->terminate();
    const double capacity = lineCapacity(*plant.emulators[0], perEmulator);
    Row row;
    row.figure = "7e. Cadence, " + std::to_string(total) + " modules at 100 ms over " + std::to_string(emulators) +
                 (emulators == 1 ? " LAN converter" : " LAN converters") + ", bridge on one core";
    row.ratio = summarize(ratios);
    row.measured = withUnit(row.ratio.median * 100, "ms", 2);
    row.reference = "100 ms";
    row.goal = "0.98 - 1.02";
    row.met = *lowest >= 0.98 && *highest <= 1.02;
    char note[240];
    std::snprintf(note, sizeof note,
                  "every module: %.3f-%.3f; bridge %.1f %% of its core; %.0f s; a bare line then carried %.0f "
                  "exchanges/s, %d needed",
                  *lowest, *highest, cpu * 100, wall, capacity, perEmulator * 10);
    row.note = note;
    return row;
}

}  // namespace

std::vector<Row> bridgeBench(const Settings& s) {
    StateFilesInMemory inMemory;
    std::vector<Row> rows;
    rows.push_back(latencyRow(100ms, s.quick ? 10 : 100,
                              "7a. Bridge: input change to MQTT message, inputs every 100 ms, vs poll interval"));
    rows.push_back(latencyRow(500ms, s.quick ? 5 : 40,
                              "7b. Bridge: input change to MQTT message, inputs every 500 ms, vs poll interval"));
    rows.push_back(cpuRow(s, 20, false, "7c. Bridge CPU per module, inputs every 100 ms, unchanged"));
    rows.push_back(cpuRow(s, 20, true, "7d. Bridge CPU per module, inputs every 100 ms, each poll published"));
    for (const auto& [perEmulator, emulators] : std::vector<std::pair<int, int>>{{100, 1}, {200, 1}, {255, 1}, {150, 2}})
        rows.push_back(cadenceRow(s, perEmulator, emulators));
    return rows;
}

}  // namespace bench
