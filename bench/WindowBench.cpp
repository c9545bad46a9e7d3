// Figures 3 and 4: the I/O configuration window's full write against its
// floor, and the polling windows' cadence and CPU cost.
#include "Benchmarks.h"
#include "Child.h"
#include "ProgramLink.h"
#include "StoredSettings.h"
#include "Emulator.h"
#include "LinkWorker.h"
#include "NastavDIO.h"
#include "OkamCNT.h"
#include "OkamDIN.h"
#include "RTC.h"
#include "StatReg.h"
#include "StatusBar.h"

#include <QApplication>
#include <QEvent>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <ctime>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double cpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The floor of the window's write: the same twelve writes and twelve
// read-backs as bare exchanges; the 24 pauses of 1 ms are added by the caller.
bool bareConfigWrite(Connection& link, TKonfigurace config) {
    bool ok = true;
    for (const uint8_t reg : kv618::Registers(kv618::Block::InputsOutputs)) {
        const uint8_t value = kv618::StoredByte(config, reg);
        uint8_t back = 0;
        ok = link.writeRegister(reg, value) == 0 && ok;
        ok = link.readRegister(reg, back) == 0 && back == value && ok;
    }
    return ok;
}

// Time and CPU time of every tick of the window's timer, taken as the timer
// event arrives, before the window's handler runs.
class TickRecorder : public QObject {
public:
    struct Tick {
        double wallMs;
        double cpuMs;
    };
    std::vector<Tick> ticks;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            ticks.push_back({milliseconds(Clock::now().time_since_epoch()), cpuMilliseconds()});
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

std::vector<Row> configBench(const Settings& s) {
    kvtest::Emulator emu;
    Connection link;
    if (const int32_t code = link.openUdp(emu.udpPort()); code != 0)
        throw std::runtime_error("QKV1726.DLL did not open: " + TextKodu(RozhraniKV1726, code));
    TForm14 form;
    form.PData = &link.data();
    form.show();
    QApplication::processEvents();
    auto* button = form.findChild<QPushButton*>("Button1");
    auto* status = form.findChild<TStatusBar*>("StatusBar1");
    if (!button || !status) throw std::runtime_error("Form14 lacks Button1 or StatusBar1");

    const int rounds = s.quick ? 5 : 40;
    int windowFailures = 0, bareFailures = 0;
    std::vector<double> window, floor, ratios;
    // The write runs on the connection worker; it has ended when its
    // closing text is shown (or an error, which counts as a failure).
    auto timeWindow = [&] {
        status->NastavText(0, QStringLiteral(" "));
        const auto start = Clock::now();
        button->click();
        while (!status->Text(0).startsWith(QStringLiteral(" Konfigurace")) && !form.isHidden()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            if (milliseconds(Clock::now() - start) > 5000) break;
        }
        const double ms = milliseconds(Clock::now() - start);
        if (status->Text(0) != QStringLiteral(" Konfigurace zapsána.")) ++windowFailures;
        return ms;
    };
    auto timeFloor = [&] {
        const auto start = Clock::now();
        if (!bareConfigWrite(link, link.data().Konfigurace)) ++bareFailures;
        return milliseconds(Clock::now() - start) + 24.0;
    };
    // What the window's 24 pauses of 1 ms take on this machine by themselves.
    std::vector<double> pauses, pauseRatios;
    auto timePauses = [&] {
        const auto start = Clock::now();
        for (int i = 0; i < 24; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return milliseconds(Clock::now() - start);
    };
    // The window's own work in one write without exchanges and pauses: its
    // progress texts, each painted at once as it comes from the worker.
    std::vector<double> uiWork;
    auto timeUiWork = [&] {
        const auto start = Clock::now();
        status->NastavText(0, QStringLiteral(" Probíhá zápis konfigurace do modulu (0 %)"));
        for (int step = 1; step <= 12; ++step) {
            QApplication::processEvents();
            status->NastavText(0, QStringLiteral(" Probíhá zápis konfigurace do modulu (%1 %)").arg(step * 100 / 12));
        }
        status->NastavText(0, QStringLiteral(" Konfigurace zapsána."));
        return milliseconds(Clock::now() - start);
    };
    timeWindow();
    timeFloor();
    windowFailures = bareFailures = 0;
    for (int round = 0; round < rounds; ++round) {
        double a = 0, b = 0;
        if (round % 2 == 0) {
            a = timeWindow();
            b = timeFloor();
        } else {
            b = timeFloor();
            a = timeWindow();
        }
        window.push_back(a);
        floor.push_back(b);
        ratios.push_back(a / b);
        pauses.push_back(timePauses());
        uiWork.push_back(timeUiWork());
        pauseRatios.push_back(pauses.back() / 24.0);
    }

    Row row = medianRow("3. Configuration write (TForm14, Button1) vs 24 bare exchanges + 24 ms",
                        withUnit(percentile(window, 0.5), "ms"),
                        withUnit(percentile(floor, 0.5), "ms"), ratios);
    atMost(row, 1.2);
    row.note = std::to_string(rounds) + " writes each";
    if (windowFailures + bareFailures > 0)
        row.note += "; failed: window " + std::to_string(windowFailures) + ", bare " + std::to_string(bareFailures);

    Row pause = medianRow("3b. (diagnosis) 24 sleeps of 1 ms vs 24 ms",
                          withUnit(percentile(pauses, 0.5), "ms"),
                          "24.0 ms", pauseRatios);
    pause.goal = "-";
    pause.met = true;
    pause.note = "std::this_thread::sleep_for, as the window pauses";

    std::vector<double> uiRatios;
    for (size_t i = 0; i < uiWork.size(); ++i) uiRatios.push_back((floor[i] + uiWork[i]) / floor[i]);
    Row ui = medianRow("3c. (diagnosis) floor + the window's texts, repaints and event rounds vs floor",
                       withUnit(percentile(uiWork, 0.5), "ms", 2) + " of window work",
                       row.reference, uiRatios);
    ui.goal = "-";
    ui.met = true;
    ui.note = "13 status texts painted at once, 12 rounds of pending events";
    return {row, pause, ui};
}

namespace {

// The windows that poll, at their designed periods.
std::unique_ptr<ModuleWindow> pollingWindow(const std::string& name) {
    if (name == "Form11") return std::make_unique<TForm11>();
    if (name == "Form6") return std::make_unique<TForm6>();
    if (name == "Form15") return std::make_unique<TForm15>();
    if (name == "Form3") return std::make_unique<TForm3>();
    return nullptr;
}

}  // namespace

int runPollChild(int argc, char** argv) {
    if (argc < 5) return 2;
    WindowChild child(argc, argv);
    if (!child.linked) return 1;
    TickRecorder recorder;
    const auto form = pollingWindow(argv[4]);
    if (!form) return 2;
    form->Timer1->installEventFilter(&recorder);
    child.Show(*form);
    child.Run();
    LinkWorker::Program().Stop();
    std::printf("TIMER %s %d\n", form->Timer1->timerType() == Qt::PreciseTimer ? "precise" : "coarse",
                form->Timer1->interval());
    for (const auto& t : recorder.ticks) std::printf("TICK %.3f %.3f\n", t.wallMs, t.cpuMs);
    return WindowChild::Finish(*form->StatusBar1);
}

namespace {

struct PollRun {
    std::vector<TickRecorder::Tick> ticks;
    std::string timer;
    std::string status;
    double nominalMs = 100;
};

PollRun runPollProcess(uint16_t port, int seconds, const std::string& window) {
    Child child({selfPath(), "poll-child", std::to_string(port), std::to_string(seconds), window},
                {{"QT_QPA_PLATFORM", "offscreen"}});
    PollRun run;
    for (;;) {
        const auto line = child.readLine(std::chrono::seconds(seconds + 30));
        if (!line) throw std::runtime_error("the polling process did not finish");
        std::istringstream in(*line);
        std::string word;
        in >> word;
        if (word == "END") break;
        if (word == "ERROR") throw std::runtime_error("polling process: " + line->substr(6));
        if (word == "TIMER") in >> run.timer >> run.nominalMs;
        if (word == "STATUS") run.status = line->substr(7);
        if (word == "TICK") {
            TickRecorder::Tick t{};
            in >> t.wallMs >> t.cpuMs;
            run.ticks.push_back(t);
        }
    }
    child.wait();
    // Half the ticks its period gives, and a few at least.
    const double expected = seconds * 1000.0 / run.nominalMs;
    if (static_cast<double>(run.ticks.size()) < std::max(4.0, expected / 2))
        throw std::runtime_error(window + ": the polling window hardly ticked");
    return run;
}

// CPU time of the whole polling process (window, worker, library) against
// wall time, from the first tick to the last.
double cpuShare(const PollRun& run) {
    return (run.ticks.back().cpuMs - run.ticks.front().cpuMs) / (run.ticks.back().wallMs - run.ticks.front().wallMs);
}

// Shares in windows of `ticks` ticks, for the spread.
std::vector<double> cpuShares(const PollRun& run, size_t ticks) {
    std::vector<double> shares;
    for (size_t i = ticks; i < run.ticks.size(); i += ticks) {
        const auto& a = run.ticks[i - ticks];
        const auto& b = run.ticks[i];
        shares.push_back((b.cpuMs - a.cpuMs) / (b.wallMs - a.wallMs));
    }
    return shares;
}

}  // namespace

std::vector<Row> pollBench(const Settings& s) {
    kvtest::Emulator emu;
    const uint32_t before = emu.value("get requests");
    const int seconds = s.quick ? 4 : s.pollSeconds;
    const PollRun run = runPollProcess(emu.udpPort(), seconds, "Form11");
    const uint32_t requests = emu.value("get requests") - before;

    std::vector<double> intervals, ratios;
    for (size_t i = 1; i < run.ticks.size(); ++i) {
        intervals.push_back(run.ticks[i].wallMs - run.ticks[i - 1].wallMs);
        ratios.push_back(intervals.back() / run.nominalMs);
    }
    const size_t quarter = intervals.size() / 4;
    const std::vector<double> first(intervals.begin(), intervals.begin() + static_cast<long>(quarter));
    const std::vector<double> last(intervals.end() - static_cast<long>(quarter), intervals.end());
    const double firstMedian = percentile(first, 0.5);
    std::vector<double> drift;
    for (double v : last) drift.push_back(v / firstMedian);
    const double span = run.ticks.back().wallMs - run.ticks.front().wallMs;
    const double meanInterval = span / static_cast<double>(intervals.size());

    const std::string common = std::to_string(run.ticks.size()) + " ticks in " + std::to_string(seconds) +
                               " s, " + std::to_string(requests) + " requests at the module, " + run.timer +
                               " timer";
    Row interval = medianRow("4a. Inputs window (TForm11) tick interval vs nominal",
                             withUnit(percentile(intervals, 0.5), "ms", 2),
                             withUnit(run.nominalMs, "ms", 0), ratios);
    within(interval, 0.98, 1.02);
    interval.note = common + "; mean interval " + withUnit(meanInterval, "ms", 2) + "; last status \"" +
                    run.status + "\"";

    Row driftRow = medianRow("4b. Drift: last-quarter intervals vs first-quarter median",
                             withUnit(percentile(last, 0.5), "ms", 2),
                             withUnit(firstMedian, "ms", 2), drift);
    within(driftRow, 0.98, 1.02);
    driftRow.note = std::to_string(quarter) + " intervals per quarter";

    // The goal is on the share over the whole run; the spread is over
    // windows of about one second.
    const auto cpuRow = [](std::string figure, const PollRun& r, size_t ticks) {
        const double share = cpuShare(r);
        Row row = medianRow(std::move(figure), withUnit(share * 100, "% of one core", 2), "wall time",
                            cpuShares(r, ticks));
        row.goal = "<= 0.005";
        row.met = share <= 0.005;
        return row;
    };
    Row cpu = cpuRow("4c. Inputs window (TForm11, 100 ms) CPU time vs wall time (share of one core)", run, 10);
    cpu.note = "whole process: window, worker, library; spread over one-second windows";
    std::vector<Row> rows{interval, driftRow, cpu};

    // The other polling windows, each in a process of its own at its period.
    struct Other {
        const char* name;
        const char* figure;
    };
    for (const Other& o : {Other{"Form6", "4d. Counter values window (TForm6, 100 ms)"},
                           Other{"Form15", "4e. Status register window (TForm15, 500 ms)"},
                           Other{"Form3", "4f. Clock window (TForm3, 200 ms)"}}) {
        const PollRun other = runPollProcess(emu.udpPort(), seconds, o.name);
        Row r = cpuRow(std::string(o.figure) + " CPU time vs wall time", other,
                       std::max<size_t>(2, static_cast<size_t>(1000 / other.nominalMs)));
        r.note = std::to_string(other.ticks.size()) + " ticks in " + std::to_string(seconds) + " s; last status \"" +
                 other.status + "\"";
        rows.push_back(r);
    }
    return rows;
}

}  // namespace bench
