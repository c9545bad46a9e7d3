// kvbench: the benchmark figures of the program, each against its reference,
// printed as a Markdown table.
//
//   kvbench [--quick] [--seconds N] [--watch-seconds N] [exchange|serial|config|poll|startup|silent|bridge|sparkplug|modbus|cli|oneshot|scan|watch|plant|trend ...]
//
// Without names it runs them all.  --quick runs few repetitions (a check that
// everything works, not figures); --seconds sets the polling runs (20 s),
// --watch-seconds the run of kv618 watch (180 s).
#include "Benchmarks.h"
#include "Table.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Bench = std::function<std::vector<bench::Row>(const bench::Settings&)>;

const std::vector<std::pair<std::string, Bench>>& benches() {
    static const std::vector<std::pair<std::string, Bench>> all = {
        {"exchange", bench::exchangeBench}, {"serial", bench::serialBench}, {"config", bench::configBench},
        {"poll", bench::pollBench},         {"startup", bench::startupBench},
        {"silent", bench::silentBench},
        {"bridge", bench::bridgeBench},
        {"sparkplug", bench::sparkplugBench},
        {"modbus", bench::modbusBench},
        {"cli", bench::cliBench},           {"oneshot", bench::oneShotBench},
        {"scan", bench::scanBench},         {"watch", bench::watchBench},
        {"plant", bench::plantBench},       {"trend", bench::trendBench},
    };
    return all;
}

int usage() {
    std::fprintf(stderr,
                 "usage: kvbench [--quick] [--seconds N] [--watch-seconds N] "
                 "[exchange|serial|config|poll|startup|silent|bridge|sparkplug|modbus|cli|oneshot|scan|watch|plant|trend ...]\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "pong") == 0) return bench::runPong();
    if (argc > 1 && std::strcmp(argv[1], "poll-child") == 0) return bench::runPollChild(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "trend-child") == 0) return bench::runTrendChild(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "trend-picture") == 0) return bench::runTrendPicture(argc, argv);

    bench::Settings settings;
    std::vector<std::string> chosen;
    bool watchSecondsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") settings.quick = true;
        else if (a == "--seconds" && i + 1 < argc) settings.pollSeconds = std::stoi(argv[++i]);
        else if (a == "--watch-seconds" && i + 1 < argc) {
            settings.watchSeconds = std::stoi(argv[++i]);
            watchSecondsGiven = true;
        }
        else if (a.rfind("--", 0) == 0) return usage();
        else chosen.push_back(a);
    }
    if (settings.quick && !watchSecondsGiven) settings.watchSeconds = 10;
    for (const auto& name : chosen) {
        bool known = false;
        for (const auto& [n, b] : benches()) known = known || n == name;
        if (!known) return usage();
    }

    // The windows are real widgets on Qt's platform without a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    bench::printHeader();
    int failures = 0;
    for (const auto& [name, run] : benches()) {
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), name) == chosen.end()) continue;
        try {
            for (const auto& row : run(settings)) bench::printRow(row);
        } catch (const std::exception& e) {
            ++failures;
            bench::printFailure(name, e.what());
        }
    }
    return failures == 0 ? 0 : 1;
}
