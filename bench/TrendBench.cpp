// Figure 13: the trend window ("Nástroje" / "Průběh hodnot") polling every
// 100 ms with 10 minutes of history on the screen, its CPU time in a process
// of its own; its memory after an hour of polls (the hour simulated: the
// polls put into its history at once); and the picture for the README
// (`kvbench trend-picture FILE SECONDS`).
#include "Benchmarks.h"
#include "Child.h"
#include "Emulator.h"
#include "LinkWorker.h"
#include "ProgramLink.h"
#include "StatusBar.h"
#include "TrendWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPixmap>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double wallMs() { return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count(); }

// Resident memory of this process, KiB.
long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// Polls as the emulator's --life makes them: the inputs change every
// second, counter 0 counts 10 pulses a second.
kv618::Sample LifeLike(std::chrono::system_clock::time_point when, long n) {
    kv618::Sample s;
    s.when = when;
    const long second = n / 10;
    s.inputs = static_cast<uint32_t>(second * 2654435761u);
    s.status = 0x41;
    for (int c = 0; c < wire::CounterCount; ++c) {
        s.counters[c][0] = static_cast<uint32_t>(n * (c + 1));
        s.counters[c][2] = static_cast<uint32_t>(1000 + 200 * ((second / 7 + c) % 5));
        s.counters[c][3] = 100;
    }
    return s;
}

// `count` polls 100 ms apart, the last one at `last`.
void Fill(TrendHistory& history, long count,
          std::chrono::system_clock::time_point last = std::chrono::system_clock::now()) {
    for (long n = 0; n < count; ++n) history.Add(LifeLike(last - (count - 1 - n) * std::chrono::milliseconds(100), n));
}

}  // namespace

// trend-child PORT SECONDS: the trend window on the emulator at PORT,
// 10 minutes of history, polling every 100 ms; prints its CPU and wall time
// each second and at the end.
int runTrendChild(int argc, char** argv) {
    if (argc < 4) return 2;
    WindowChild child(argc, argv);
    if (!child.linked) return 1;
    TrendWindow window;
    child.Show(window);
    Fill(window.History(), 6000);
    const size_t before = window.History().Entries().size();
    const int paintsBefore = window.Chart->Paints();
    QTimer second;
    QObject::connect(&second, &QTimer::timeout, [] { std::printf("AT %.3f %.3f\n", wallMs(), cpuMs()); });
    second.start(1000);
    std::printf("AT %.3f %.3f\n", wallMs(), cpuMs());
    child.Run();
    std::printf("AT %.3f %.3f\n", wallMs(), cpuMs());
    window.Timer1->stop();
    LinkWorker::Program().Stop();
    std::printf("POLLS %zu PAINTS %d SKIPPED %d\n", window.History().Entries().size() - before,
                window.Chart->Paints() - paintsBefore, window.Polls.Vynechano());
    return WindowChild::Finish(*window.StatusBar1);
}

// trend-picture FILE SECONDS: the trend window on an emulator with --life
// for SECONDS, then the whole window as a PNG.
int runTrendPicture(int argc, char** argv) {
    if (argc < 4) return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kvtest::EmulatorOptions options;
    options.extraArgs = {"--life"};
    kvtest::Emulator emu(options);
    Connection link;
    if (link.openUdp(emu.udpPort()) != 0) return 1;
    TrendWindow window;
    window.PData = &link.data();
    window.Span->setCurrentIndex(0);  // a minute: the emulator's moves show
    window.LineChoices[3]->setChecked(false);
    window.LineChoices[1]->setChecked(true);   // counter 0's consumption
    window.LineChoices[8]->setChecked(true);   // counter 1's power
    window.resize(980, 860);
    window.show();
    QTimer::singleShot(std::stoi(argv[3]) * 1000, &app, &QCoreApplication::quit);
    app.exec();
    window.Timer1->stop();
    LinkWorker::Program().Stop();
    return window.grab().save(argv[2], "PNG") ? 0 : 1;
}

std::vector<Row> trendBench(const Settings& s) {
    const int seconds = s.quick ? 4 : s.pollSeconds;
    kvtest::EmulatorOptions options;
    options.extraArgs = {"--life"};
    kvtest::Emulator emu(options);
    Child child({selfPath(), "trend-child", std::to_string(emu.udpPort()), std::to_string(seconds)},
                {{"QT_QPA_PLATFORM", "offscreen"}});
    std::vector<std::pair<double, double>> at;
    std::string polls, status;
    for (;;) {
        const auto line = child.readLine(std::chrono::seconds(seconds + 30));
        if (!line) throw std::runtime_error("the trend process did not finish");
        std::istringstream in(*line);
        std::string word;
        in >> word;
        if (word == "END") break;
        if (word == "ERROR") throw std::runtime_error("trend process: " + line->substr(6));
        if (word == "AT") {
            double wall = 0, cpu = 0;
            in >> wall >> cpu;
            at.emplace_back(wall, cpu);
        }
        if (word == "POLLS") polls = *line;
        if (word == "STATUS") status = line->substr(7);
    }
    child.wait();
    if (at.size() < 3) throw std::runtime_error("the trend process hardly ran");
    std::vector<double> shares;
    for (size_t i = 1; i < at.size(); ++i) shares.push_back((at[i].second - at[i - 1].second) / (at[i].first - at[i - 1].first));
    const double share = (at.back().second - at.front().second) / (at.back().first - at.front().first);
    char measured[64];
    std::snprintf(measured, sizeof measured, "%.2f %% of one core", share * 100);
    Row cpu = medianRow("13a. Trend window (100 ms, 10 min shown, 2 lines) CPU time vs wall time (share of one core)",
                        measured, "wall time", shares);
    cpu.goal = "<= 0.01";
    cpu.met = share <= 0.01;
    cpu.note = std::to_string(seconds) + " s; " + polls + "; emulator --life; last status \"" + status +
               "\"; spread over one-second windows; whole process: window, worker, library";

    // An hour of polls every 100 ms, then a second hour: the history keeps
    // an hour, so the second adds nothing.
    TrendWindow window;
    window.resize(980, 820);
    const long start = residentKiB();
    const auto now = std::chrono::system_clock::now();
    Fill(window.History(), 36'000, now);
    const long hour = residentKiB();
    Fill(window.History(), 36'000, now + std::chrono::hours(1));
    const long twoHours = residentKiB();
    // The history's last 10 minutes, painted as the window paints them; the
    // first paint loads the fonts and is not counted.
    QPixmap picture = window.Chart->grab();
    std::vector<double> paints;
    for (int i = 0; i < (std::getenv("KV_TREND_PAINTS") ? 500 : 20); ++i) {
        const auto paintStart = Clock::now();
        picture = window.Chart->grab();
        paints.push_back(std::chrono::duration<double, std::milli>(Clock::now() - paintStart).count());
    }
    const double paintMs = percentile(paints, 0.5);
    char text[96];
    std::snprintf(text, sizeof text, "%.1f MiB after 1 h, %.1f MiB after 2 h", (hour - start) / 1024.0,
                  (twoHours - start) / 1024.0);
    Row memory = medianRow("13b. Trend window's memory: growth of the resident set after an hour of 100 ms polls "
                           "(simulated), and after two",
                           text, std::to_string(window.History().Bytes() / 1024) + " KiB of history",
                           {static_cast<double>(twoHours - start) / std::max(1L, hour - start)});
    memory.goal = "<= 1.05 (flat after the hour)";
    memory.met = twoHours - start <= (hour - start) * 105 / 100;
    memory.note = std::to_string(window.History().Entries().size()) +
                  " polls kept; the hour simulated: polls put into the history at once, as --life would give them";
    char paint[64];
    std::snprintf(paint, sizeof paint, "%.2f ms", paintMs);
    Row draw = medianRow("13c. (diagnosis) one paint of the last 10 minutes (6000 polls, 32 lanes, 2 lines)", paint,
                         "-", paints);
    draw.goal = "-";
    draw.met = true;
    draw.note = std::to_string(picture.width()) + " x " + std::to_string(picture.height()) +
                " px, offscreen, 20 paints (QWidget::grab) after a first one";
    return {cpu, memory, draw};
}

}  // namespace bench
