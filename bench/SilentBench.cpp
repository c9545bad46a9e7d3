// Figure 6: the windows with a module that has gone silent (the emulator
// stopped with SIGSTOP, the LAN time-out 200 ms).  A probe timer of 1 ms on
// the window's thread measures how long its event loop is ever kept from
// running, while a live window polls and while a configuration window reads;
// and "Cancel", pressed from the event loop at a moment of the probe's
// choosing, is timed until the window is hidden.
#include "Benchmarks.h"
#include "ProgramLink.h"
#include "Emulator.h"
#include "LinkWorker.h"
#include "NastavDIO.h"
#include "OkamDIN.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// The longest time between two turns of the event loop (beyond the probe's
// own 1 ms) while `run` lets it go for `ms`.
double longestBlock(int ms) {
    double longest = 0;
    auto last = Clock::now();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, msSince(last) - 1.0);
        last = Clock::now();
    });
    probe.start();
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return std::max(longest, 0.0);
}

// Time from a press of the button, queued as a click from the event loop,
// until the window is hidden.
double cancelLatency(QDialog& window, const char* button) {
    auto* cancel = window.findChild<QPushButton*>(button);
    if (!cancel) throw std::runtime_error(std::string("no ") + button);
    const auto asked = Clock::now();
    QMetaObject::invokeMethod(cancel, &QPushButton::click, Qt::QueuedConnection);
    while (window.isVisible() && msSince(asked) < 10000) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
    return msSince(asked);
}

Row goalRow(std::string figure, const std::vector<double>& values, double goalMs, std::string note) {
    std::vector<double> ratios;
    for (double v : values) ratios.push_back(v / goalMs);
    Row row = medianRow(std::move(figure),
                        withUnit(percentile(values, 1.0), "ms (longest)"),
                        withUnit(goalMs, "ms"), ratios);
    row.goal = "<= 1 (" + withUnit(goalMs, "ms") + ")";
    row.met = percentile(values, 1.0) <= goalMs;
    row.note = std::move(note);
    return row;
}

}  // namespace

std::vector<Row> silentBench(const Settings& s) {
    kvtest::Emulator emu;
    Connection link;
    if (const int32_t code = link.openUdp(emu.udpPort(), 200); code != 0)
        throw std::runtime_error("QKV1726.DLL did not open: " + TextKodu(RozhraniKV1726, code));
    emu.freeze();
    const int rounds = s.quick ? 3 : 20;
    std::vector<double> pollBlocks, readBlocks, pollCancels, readCancels;
    for (int round = 0; round < rounds; ++round) {
        {
            TForm11 inputs;
            inputs.PData = &link.data();
            inputs.show();
            pollBlocks.push_back(longestBlock(500));
            pollCancels.push_back(cancelLatency(inputs, "Button1"));
        }
        {
            TForm14 config;
            config.PData = &link.data();
            config.show();
            QMetaObject::invokeMethod(config.findChild<QPushButton*>("Button2"), &QPushButton::click,
                                      Qt::QueuedConnection);
            readBlocks.push_back(longestBlock(100));
            readCancels.push_back(cancelLatency(config, "Button4"));
        }
        LinkWorker::Program().WaitIdle();
    }
    emu.thaw();
    const std::string note = std::to_string(rounds) + " rounds, module stopped, LAN time-out 200 ms";
    return {
        goalRow("6a. Event loop held while the inputs window polls a silent module", pollBlocks, 20, note),
        goalRow("6b. Event loop held while the I/O window reads from a silent module", readBlocks, 20, note),
        goalRow("6c. \"Cancel\" to the inputs window hidden, a request out", pollCancels, 50, note),
        goalRow("6d. \"Cancel\" to the I/O window hidden, its read waiting", readCancels, 50, note),
    };
}

}  // namespace bench
