// kvsoak: fault soak of the live windows and the clock window.
//
//   kvsoak [--seconds N] [--seed S] [--faults P]
//
// The real windows (inputs, counters, status register, clock; the outputs
// window pressed periodically) poll a real emulator process through the real
// LAN converter library, while the emulator drops, delays past the time-out,
// damages and misaddresses P % of replies each (5 by default, 20 % in all)
// and the driver keeps changing what the module holds.  Every tick is checked
// (see SoakWatch.h); the process's resident memory is sampled every second.
// Prints a summary; exits 1 when any check failed.
#include "ProgramLink.h"
#include "Emulator.h"
#include "OkamCNT.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "RTC.h"
#include "LinkWorker.h"
#include "SoakWatch.h"
#include "StatReg.h"
#include "Stats.h"

#include <QApplication>
#include <QDate>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <exception>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using soak::Clock;

struct Options {
    int seconds = 300;
    unsigned seed = 618;
    int faultPercent = 5;
};

// Wraps every tick of a watched timer: the checks run right before the
// window's own handler, and once the result of the request it sent is shown.
class SoakApp : public QApplication {
public:
    using QApplication::QApplication;
    std::vector<soak::Watch*> watches;

    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            for (soak::Watch* w : watches)
                if (w->timer() == receiver) {
                    if (w->waiting()) {
                        w->skipped();
                        return QApplication::notify(receiver, event);
                    }
                    w->before();
                    const bool handled = QApplication::notify(receiver, event);
                    // A tick that sent nothing has ended; one that did ends
                    // when its result is shown.
                    if (!w->requestOut()) w->after();
                    return handled;
                }
        return QApplication::notify(receiver, event);
    }
};

long residentKiB(pid_t pid) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    long size = 0, resident = 0;
    if (!(statm >> size >> resident)) return -1;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The emulator process is our child; found by name among our children.
pid_t emulatorPid() {
    DIR* proc = opendir("/proc");
    if (!proc) return -1;
    pid_t found = -1;
    while (dirent* e = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == getpid() && line.substr(open + 1, close - open - 1) == "kv618emu") found = pid;
    }
    closedir(proc);
    return found;
}

struct MemoryTrend {
    std::vector<double> samples;  // KiB
    double firstThird = 0, lastThird = 0;
    void finish() {
        const size_t third = samples.size() / 3;
        if (third == 0) return;
        firstThird = bench::percentile({samples.begin(), samples.begin() + static_cast<long>(third)}, 0.5);
        lastThird = bench::percentile({samples.end() - static_cast<long>(third), samples.end()}, 0.5);
    }
};


class Driver {
public:
    Driver(kvtest::Emulator& emu, soak::Shared& shared, const Options& o)
        : emu_(emu), shared_(shared), random_(o.seed) {}

    // Known clock, stamps and values before the windows open.
    void prepareModule(int faultPercent) {
        year_ = QDate::currentDate().year();
        const std::string day = std::to_string(year_) + "-06-15";
        emu_.command("set clock " + day + " 10:00:00");
        emu_.command("set stamps " + std::to_string(year_) + "-06-14 08:01:02 " + std::to_string(year_) +
                     "-06-14 09:03:04");
        shared_.clockDate = DatumNaText(15, 6, static_cast<uint8_t>(year_ % 4));
        const QString stampDate = QString::fromStdString(DatumNaText(14, 6, static_cast<uint8_t>(year_ % 4)));
        shared_.stamps = {QString::fromStdString(CasNaText(2, 1, 8)), QString::fromStdString(CasNaText(4, 3, 9)),
                          stampDate, stampDate};
        changeValues(true);
        shared_.outputs = emu_.value("get outputs");
        const std::string p = std::to_string(faultPercent);
        emu_.command("fault drop " + p);
        emu_.command("fault delay " + p + " 300");
        emu_.command("fault crc " + p);
        emu_.command("fault address " + p);
    }

    // New inputs and status every call, new counter quantities every third.
    void changeValues(bool all = false) {
        emu_.command("set inputs " + std::to_string(random_()));
        shared_.inputs = emu_.value("get inputs");
        emu_.command("set status " + std::to_string(random_()));
        shared_.status = emu_.value("get status");
        if (all || ++changes_ % 3 == 0)
            for (int k = 0; k < TForm6::PocetVelicin; ++k) {
                const uint32_t v = random_();
                emu_.command("set quantity " + std::to_string(TForm6::PodfunkceKroku(k)) + " " + std::to_string(v));
                shared_.quantities[k] = v;
            }
    }

    uint32_t nextPattern() { return random_(); }

private:
    kvtest::Emulator& emu_;
    soak::Shared& shared_;
    std::mt19937 random_;
    int year_ = 2026;
    long changes_ = 0;
};

void printTally(const soak::Watch& w) {
    const auto& t = w.tally();
    const auto d = bench::summarize(t.durationsMs);
    std::string errors;
    long failed = 0;
    for (const auto& [code, count] : t.errors) {
        errors += " code" + std::to_string(code) + "=" + std::to_string(count);
        failed += count;
    }
    std::printf("%-9s ticks %6ld  good %6ld  failed %5ld (%4.1f %%)  tick ms median %6.2f p90 %6.2f max %7.1f  "
                "over limit %ld  skipped %ld |%s\n",
                w.name().c_str(), t.ticks, t.successes, failed, t.ticks ? 100.0 * failed / t.ticks : 0.0, d.median,
                d.p90, t.maxMs, t.overLimit, t.skipped, errors.c_str());
}

void printMemory(const char* who, MemoryTrend& m) {
    m.finish();
    const double growth = m.lastThird - m.firstThird;
    std::printf("%-9s RSS KiB: first third median %.0f, last third median %.0f, growth %+.0f KiB (%+.2f %%), "
                "min %.0f max %.0f, %zu samples\n",
                who, m.firstThird, m.lastThird, growth, m.firstThird > 0 ? 100.0 * growth / m.firstThird : 0.0,
                bench::percentile(m.samples, 0), bench::percentile(m.samples, 1), m.samples.size());
}

int usage() {
    std::fprintf(stderr, "usage: kvsoak [--seconds N] [--seed S] [--faults PERCENT]\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        if (a == "--seconds") o.seconds = std::atoi(argv[++i]);
        else if (a == "--seed") o.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 0));
        else if (a == "--faults") o.faultPercent = std::atoi(argv[++i]);
        else return usage();
    }
    if (o.seconds < 5) return usage();

    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    SoakApp app(qtArgc, argv);
    char folder[] = "/tmp/kvsoak-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    NastavCestuNastaveni(std::string(folder) + "/R_iv618.ini");

    try {
        kvtest::Emulator emu;
        soak::Shared shared(emu);
        bench::Connection link;
        if (const int32_t code = link.openUdp(emu.udpPort(), shared.timeoutMs); code != 0) {
            std::fprintf(stderr, "QKV1726.DLL did not open: %s\n", TextKodu(RozhraniKV1726, code).c_str());
            return 1;
        }
        shared.successText = " " + QString::fromStdString(TextKodu(RozhraniKV1726, 0));
        for (int code = 1; code < 100; ++code)
            shared.errorTexts[" " + QString::fromStdString(TextKodu(RozhraniKV1726, code))] = code;

        Driver driver(emu, shared, o);
        driver.prepareModule(o.faultPercent);

        TForm11 inputs;
        TForm6 counters;
        TForm15 status;
        TForm3 clock;
        TForm9 outputs;
        inputs.PData = counters.PData = status.PData = clock.PData = outputs.PData = &link.data();

        soak::BitsWatch inputsWatch("inputs", &inputs, inputs.Pozadavky, shared, shared.inputs);
        soak::CountersWatch countersWatch(&counters, shared);
        soak::BitsWatch statusWatch("status", &status, status.Pozadavky, shared, shared.status);
        soak::ClockWatch clockWatch(&clock, shared);
        soak::OutputsWatch outputsWatch(&outputs, shared);
        app.watches = {&inputsWatch, &countersWatch, &statusWatch, &clockWatch};
        // The other windows' requests that can stand before one of a window
        // on the worker: the inputs, counters, status and outputs one each,
        // the clock six; a window's own are counted by its watch.
        shared.requestsAhead = 1 + 1 + 1 + 1 + 6 - 1;
        inputs.show();
        counters.show();
        status.show();
        clock.show();
        outputs.show();

        const pid_t emuPid = emulatorPid();
        MemoryTrend ours, theirs;
        QTimer change, press, sample;
        QObject::connect(&change, &QTimer::timeout, [&] { driver.changeValues(); });
        QObject::connect(&press, &QTimer::timeout, [&] { outputsWatch.press(driver.nextPattern()); });
        QObject::connect(&sample, &QTimer::timeout, [&] {
            ours.samples.push_back(static_cast<double>(residentKiB(getpid())));
            if (emuPid > 0) theirs.samples.push_back(static_cast<double>(residentKiB(emuPid)));
        });
        change.start(1000);
        press.start(700);
        sample.start(1000);
        const auto started = Clock::now();
        QTimer::singleShot(o.seconds * 1000, &app, &QCoreApplication::quit);
        app.exec();
        app.watches.clear();
        // The link closes below: what the worker holds must be done first.
        LinkWorker::Program().Stop();
        const double ran = std::chrono::duration<double>(Clock::now() - started).count();

        std::printf("kvsoak: %.0f s, seed %u, faults: drop/delay 300 ms/crc/address %d %% each, time-out %d ms, "
                    "limit per request %d ms\n",
                    ran, o.seed, o.faultPercent, shared.timeoutMs, shared.timeoutMs + shared.marginMs);
        for (const soak::Watch* w : std::initializer_list<const soak::Watch*>{&inputsWatch, &countersWatch,
                                                                            &statusWatch, &clockWatch, &outputsWatch})
            printTally(*w);
        printMemory("kvsoak", ours);
        if (emuPid > 0) printMemory("kv618emu", theirs);
        std::printf("requests at the module: %u\n", emu.value("get requests"));
        const double growth = ours.lastThird - ours.firstThird;
        const bool memoryFlat = growth <= std::max(1024.0, 0.02 * ours.firstThird);
        if (!memoryFlat) shared.violation("memory", "resident memory grew by " + std::to_string(growth) + " KiB");
        std::printf("violations: %zu\n", shared.violations.size());
        for (size_t i = 0; i < shared.violations.size() && i < 20; ++i)
            std::printf("  %s\n", shared.violations[i].c_str());
        std::printf("%s\n", shared.violations.empty() ? "SOAK PASSED" : "SOAK FAILED");
        rmdir(folder);
        return shared.violations.empty() ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvsoak: %s\n", e.what());
        rmdir(folder);
        return 1;
    }
}
