// Figure 10: one bridge as a Sparkplug B edge node with a thousand modules.
// Four emulators, 250 modules each behind its LAN converter (four lines),
// every module's inputs moving (the emulator's life) and polled every second;
// a mosquitto broker on 127.0.0.1 and a client of the benchmark's own that
// decodes what the node publishes.  The bridge is held on one core.
//   10a  cadence of every module's polls against the 1 s interval;
//   10b  the bridge's CPU per published metric: its Sparkplug node's network
//        thread, which compares, encodes, publishes and writes, against a bare
//        libmosquitto publisher sending the same payloads at the same times;
//        10b2 checks it as what publishing adds to polling (runs with moving
//        and still inputs, alternating);
//   10c  (diagnosis) the same bridge with inputs that do not move: what
//        polling alone costs;
//   10d  (diagnosis) all the bridge's CPU per published metric.
#include "Benchmarks.h"
#include "Cores.h"
#include "EmulatedLines.h"
#include "Emulator.h"
#include "Mqtt.h"
#include "sparkplug_b.pb.h"

#include <mosquitto.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace bench {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto Interval = 1s;

// What one run of the thousand-module node gave.
struct Run {
    std::vector<double> cadence;  // per module: its mean poll interval / 1 s
    double wall = 0;              // s
    double cpu = 0;               // the bridge's, s
    double nodeCpu = 0;           // its Sparkplug node's network thread's, s
    uint64_t metrics = 0;         // in DDATA
    std::vector<kvtest::Message> data;  // the DDATA messages of the window, for the bare publisher
};

Run RunNode(const Settings& s, bool life) {
    StateFilesInMemory inMemory;
    OtherCore otherCore;
    kvtest::Broker broker;
    std::vector<std::string> emulatorArgs;
    if (life) emulatorArgs.push_back("--life");
    const Emulators emulators = emulatedLines(ThousandLines, ThousandPerLine, emulatorArgs);
    std::ostringstream config;
    config << "[broker]\nhost = 127.0.0.1\nport = " << broker.port()
           << "\nclient id = bench\npayload = sparkplug\ngroup id = bench\nedge node id = node\n";
    for (int e = 0; e < ThousandLines; ++e)
        for (int a = 1; a <= ThousandPerLine; ++a)
            config << "[module m" << e << "-" << a << "]\nRozhraní = KV-1726\nIP adresa = 127.0.0.1\nUDP port = "
                   << emulators[e]->udpPort() << "\nAdresa = " << a
                   << "\ninputs = 1 s\nstatus = off\ncounters = off\n";
    kvtest::MqttClient client(broker.port(), "spBv1.0/#");
    kvtest::BridgeProcess bridge(config.str());
    pin(bridge.pid(), MeasuredCore);

    // Every module born.
    std::set<std::string> born;
    size_t seen = 0;
    const auto deadline = Clock::now() + 120s;
    while (born.size() < static_cast<size_t>(ThousandModules)) {
        if (Clock::now() > deadline) throw std::runtime_error("not every module was born:\n" + bridge.log());
        std::this_thread::sleep_for(200ms);
        const auto messages = client.messages();
        for (; seen < messages.size(); ++seen)
            if (messages[seen].topic.find("/DBIRTH/") != std::string::npos) born.insert(messages[seen].topic);
    }
    std::this_thread::sleep_for(3s);

    const auto before = requestCounts(emulators, ThousandPerLine);
    const double cpuBefore = cpuSeconds(bridge.pid());
    const double nodeBefore = threadCpuSeconds(bridge.pid(), "kv-sparkplug");
    const size_t from = client.count();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(s.quick ? 10 : std::max(30, s.pollSeconds)));
    const double cpuAfter = cpuSeconds(bridge.pid());
    const double nodeAfter = threadCpuSeconds(bridge.pid(), "kv-sparkplug");
    const size_t to = client.count();
    Run run;
    run.wall = std::chrono::duration<double>(Clock::now() - start).count();
    const auto after = requestCounts(emulators, ThousandPerLine);
    run.cpu = cpuAfter - cpuBefore;
    run.nodeCpu = nodeAfter - nodeBefore;
    run.cadence = cadence(before, after, Interval);
    const auto messages = client.messages();
    for (size_t i = from; i < to && i < messages.size(); ++i) {
        if (messages[i].topic.find("/DDATA/") == std::string::npos) continue;
        kvbridge::spb::Payload payload;
        if (!payload.ParseFromString(messages[i].payload)) throw std::runtime_error("a DDATA that does not decode");
        run.metrics += static_cast<uint64_t>(payload.metrics_size());
        run.data.push_back(messages[i]);
    }
    if (bridge.terminate() != 0) throw std::runtime_error("the bridge did not end cleanly:\n" + bridge.log());
    return run;
}

double ThreadCpu() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The same messages at the same moments through one libmosquitto client, on
// the bridge's core, publishing and writing on one thread: the least that
// putting these payloads on the wire costs.  Its CPU time in seconds.
double BarePublisher(const std::vector<kvtest::Message>& messages) {
    kvtest::Broker broker;
    kvtest::MqttClient sink(broker.port(), "spBv1.0/#");
    double cpu = 0;
    std::string failure;
    std::thread publisher([&] {
        pin(0, MeasuredCore);
        mosquitto* client = ::mosquitto_new("bare", true, nullptr);
        if (!client || ::mosquitto_connect(client, "127.0.0.1", broker.port(), 30) != MOSQ_ERR_SUCCESS) {
            failure = "the bare publisher cannot connect";
            if (client) ::mosquitto_destroy(client);
            return;
        }
        ::mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
        const auto start = Clock::now();
        const auto first = messages.front().at;
        const double cpuBefore = ThreadCpu();
        for (const auto& m : messages) {
            std::this_thread::sleep_until(start + (m.at - first));
            ::mosquitto_publish(client, nullptr, m.topic.c_str(), static_cast<int>(m.payload.size()), m.payload.data(),
                                0, false);
            ::mosquitto_loop(client, 0, 1);  // the broker's answers, keepalive
        }
        cpu = ThreadCpu() - cpuBefore;
        ::mosquitto_disconnect(client);
        ::mosquitto_destroy(client);
    });
    publisher.join();
    if (!failure.empty()) throw std::runtime_error(failure);
    return cpu;
}

}  // namespace

std::vector<Row> sparkplugBench(const Settings& s) {
    // Runs with moving and with still inputs alternate, so that what
    // publishing adds is the difference of neighbouring runs, not of two
    // moments of a shared machine minutes apart.
    const int pairs = s.quick ? 1 : 2;
    std::vector<double> cadences, node, publishing, bareShares, whole, polling;
    uint64_t metrics = 0;
    size_t messages = 0;
    double movingShare = 0;
    for (int pair = 0; pair < pairs; ++pair) {
        const Run moving = RunNode(s, true);
        if (moving.data.empty() || moving.metrics == 0) throw std::runtime_error("no DDATA in the window");
        const Run still = RunNode(s, false);
        const double bare = BarePublisher(moving.data);
        const double n = static_cast<double>(moving.metrics);
        const double pollingCpu = still.cpu / still.wall * moving.wall;  // over the moving run's window
        cadences.insert(cadences.end(), moving.cadence.begin(), moving.cadence.end());
        node.push_back(moving.nodeCpu / n * 1e6);
        publishing.push_back((moving.cpu - pollingCpu) / n * 1e6);
        bareShares.push_back(bare / n * 1e6);
        whole.push_back(moving.cpu / n * 1e6);
        polling.push_back(still.cpu / still.wall * 100);
        metrics += moving.metrics;
        messages += moving.data.size();
        movingShare += moving.cpu / moving.wall * 100 / pairs;
    }
    std::vector<double> nodeRatios, publishingRatios, wholeRatios;
    for (size_t i = 0; i < publishing.size(); ++i) {
        nodeRatios.push_back(node[i] / bareShares[i]);
        publishingRatios.push_back(publishing[i] / bareShares[i]);
        wholeRatios.push_back(whole[i] / bareShares[i]);
    }
    const double barePerMetric = percentile(bareShares, 0.5);
    char note[320];
    std::vector<Row> rows;

    const auto [lowest, highest] = std::minmax_element(cadences.begin(), cadences.end());
    Row cadence;
    cadence.figure = "10a. Sparkplug node: cadence of 1000 modules at 1 s over 4 LAN converters, bridge on one core";
    cadence.ratio = summarize(cadences);
    cadence.measured = withUnit(cadence.ratio.median * 1000, "ms", 1);
    cadence.reference = "1000 ms";
    cadence.goal = "0.98 - 1.02";
    cadence.met = *lowest >= 0.98 && *highest <= 1.02;
    std::snprintf(note, sizeof note,
                  "every module in %d run(s): %.3f-%.3f; bridge %.1f %% of its core; %zu DDATA, %llu metrics", pairs,
                  *lowest, *highest, movingShare, messages, static_cast<unsigned long long>(metrics));
    cadence.note = note;
    rows.push_back(cadence);

    // A figure in µs per published metric against the bare publisher's.
    const auto perMetric = [&](std::string figure, const std::vector<double>& values,
                               const std::vector<double>& ratios, std::string noteText) {
        Row row;
        row.figure = std::move(figure);
        row.measured = withUnit(percentile(values, 0.5), "µs/metric", 2);
        row.reference = withUnit(barePerMetric, "µs/metric", 2) + " (bare publisher)";
        row.ratio = summarize(ratios);
        row.goal = "-";
        row.note = std::move(noteText);
        return row;
    };
    std::snprintf(note, sizeof note,
                  "%d run(s), the thread's time on a CPU (schedstat) over the window; the lines hand their readings "
                  "over (10b2)", pairs);
    Row cpu = perMetric("10b. Sparkplug node: CPU per published metric (the node's network thread: comparing, "
                        "encoding, publishing, writing), vs a bare libmosquitto publisher of the same payloads",
                        node, nodeRatios, note);
    cpu.goal = "<= 2";
    cpu.met = cpu.ratio.median <= 2;
    rows.push_back(cpu);
    rows.push_back(perMetric("10b2. (check) the same, as the bridge's CPU with moving inputs less the same node with "
                             "still ones (neighbouring runs)",
                             publishing, publishingRatios,
                             "everything publishing adds, the lines' hand-over included; a difference of two runs, "
                             "so rougher"));

    Row still;
    still.figure = "10c. (diagnosis) Sparkplug node, 1000 modules at 1 s, inputs not moving: bridge CPU";
    still.measured = withUnit(percentile(polling, 0.5), "% of one core", 1);
    still.reference = withUnit(movingShare, "% with inputs moving");
    still.ratio = summarize({percentile(polling, 0.5) / movingShare});
    still.goal = "-";
    still.note = "polling alone: 1000 exchanges a second over UDP, nothing published";
    rows.push_back(still);

    rows.push_back(perMetric("10d. (diagnosis) all the bridge's CPU, polling included, per published metric vs the "
                             "bare publisher",
                             whole, wholeRatios,
                             "the bare publisher polls nothing; about five inputs change per module per second"));
    return rows;
}

}  // namespace bench

#ifdef KV_SPARKPLUG_BENCH_MAIN
// kvbench_sparkplug [--quick] [--seconds N]: figure 10 alone, without the
// windows kvbench needs.
#include "Table.h"

int main(int argc, char* argv[]) {
    return bench::runAlone(argc, argv, "kvbench_sparkplug", "10", bench::sparkplugBench);
}
#endif
