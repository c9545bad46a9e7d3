#include "SoakWatch.h"

#include "Dekl.h"
#include "Pozadavky.h"
#include "OkamCNT.h"
#include "OkamDOUT.h"
#include "RTC.h"
#include "StatusBar.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace soak {

namespace {

// No window ever shows this; a tick that leaves it showed nothing.
const QString Marker = QStringLiteral("<soak: nothing shown>");

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

int secondsOfDay(int h, int m, int s) { return h * 3600 + m * 60 + s; }

}  // namespace

void Shared::violation(const std::string& where, const std::string& what) {
    violations.push_back(where + ": " + what);
    if (violations.size() <= 20) std::fprintf(stderr, "VIOLATION %s: %s\n", where.c_str(), what.c_str());
}

int Shared::clockSeconds() {
    const std::string text = emu.command("get clock");
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return -1;
    return secondsOfDay(h, mi, s);
}

Watch::Watch(std::string name, QWidget* window, TPozadavky& requests, Shared& shared)
    : name_(std::move(name)), window_(window), shared_(shared), requests_(requests) {
    requests_.PoVysledku = [this] { after(); };
    timer_ = window->findChild<QTimer*>(QStringLiteral("Timer1"));
    status_ = window->findChild<TStatusBar*>(QStringLiteral("StatusBar1"));
    if (!status_) throw std::runtime_error(name_ + " has no StatusBar1");
}

QLabel* Watch::label(int number) const {
    return window_->findChild<QLabel*>(QStringLiteral("Label%1").arg(number));
}

QString Watch::text(int number) const {
    QLabel* l = label(number);
    return l ? l->text() : QString();
}

void Watch::violation(const std::string& what) { shared_.violation(name_, what); }

Watch::~Watch() { requests_.PoVysledku = nullptr; }

void Watch::before() {
    waiting_ = true;
    snapshot();
    status_->NastavText(0, Marker);
    start_ = Clock::now();
}

void Watch::after() {
    if (!waiting_) return;
    waiting_ = false;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
    ++tally_.ticks;
    tally_.durationsMs.push_back(ms);
    tally_.maxMs = std::max(tally_.maxMs, ms);
    const double limit = (requests() + shared_.requestsAhead) * (shared_.timeoutMs + shared_.marginMs);
    if (ms > limit) {
        ++tally_.overLimit;
        violation("tick took " + std::to_string(static_cast<int>(ms)) + " ms, limit " +
                  std::to_string(static_cast<int>(limit)) + " ms");
    }

    const QString shown = status_->Text(0);
    int code = -1;
    if (shown == Marker) {
        violation("a tick ended without a status text");
    } else if (shown == successText()) {
        code = 0;
        ++tally_.successes;
    } else if (auto it = shared_.errorTexts.find(shown); it != shared_.errorTexts.end()) {
        code = it->second;
        ++tally_.errors[code];
    } else {
        violation("status text that is neither success nor a library error: \"" + shown.toStdString() + "\"");
    }
    check(code);
}

BitsWatch::BitsWatch(std::string name, QWidget* window, TPozadavky& requests, Shared& shared, const uint32_t& held)
    : Watch(std::move(name), window, requests, shared), held_(held) {}

bool BitsWatch::shown(uint32_t& value) const {
    value = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const QString t = text(33 + bit);
        if (t == QLatin1String("1")) value |= 1u << bit;
        else if (t != QLatin1String("0")) return false;
    }
    return true;
}

void BitsWatch::snapshot() { beforeValid_ = shown(before_); }

void BitsWatch::check(int code) {
    uint32_t now = 0;
    if (!shown(now)) {
        violation("a value label shows neither 0 nor 1");
        return;
    }
    if (code == 0 && now != held_)
        violation("shows " + hex(now) + " after a good read, the emulator holds " + hex(held_));
    if (code != 0 && beforeValid_ && now != before_)
        violation("values changed from " + hex(before_) + " to " + hex(now) + " on a failed read");
}

CountersWatch::CountersWatch(TForm6* window, Shared& shared)
    : Watch("counters", window, window->Pozadavky, shared), form_(window) {}

int CountersWatch::labelOf(int step) { return step < 16 ? 5 + step : 26 + (step - 16); }

void CountersWatch::snapshot() {
    step_ = form_->Krok;
    for (int k = 0; k < 20; ++k) before_[k] = text(labelOf(k));
}

void CountersWatch::check(int code) {
    for (int k = 0; k < 20; ++k) {
        const QString now = text(labelOf(k));
        if (code == 0 && k == step_) {
            const QString held = QString::number(shared_.quantities[k]);
            if (now != held)
                violation("quantity " + std::to_string(k) + " shows " + now.toStdString() + ", the emulator holds " +
                          held.toStdString());
        } else if (now != before_[k]) {
            violation("quantity " + std::to_string(k) + " changed from " + before_[k].toStdString() + " to " +
                      now.toStdString() + " in a tick that did not read it");
        }
    }
    const int expectedStep = code == 0 ? (step_ + 1) % 20 : step_;
    if (form_->Krok != expectedStep)
        violation("reading step went from " + std::to_string(step_) + " to " + std::to_string(form_->Krok) +
                  " in a tick that ended with code " + std::to_string(code));
}

ClockWatch::ClockWatch(TForm3* window, Shared& shared)
    : Watch("clock", window, window->Pozadavky, shared), form_(window) {}

void ClockWatch::snapshot() {
    stampsRead_ = form_->VypadkyNacteny;
    for (int i = 0; i < 6; ++i) before_[i] = text(4 + i);
    clockBefore_ = shared_.clockSeconds();
}

bool ClockWatch::timeValid(const QString& t) const {
    int h = 0, m = 0, s = 0;
    if (std::sscanf(t.toStdString().c_str(), "%d:%d:%d", &h, &m, &s) != 3) return false;
    const int shown = secondsOfDay(h, m, s);
    return shown >= clockBefore_ && shown <= clockAfter_;
}

void ClockWatch::check(int code) {
    clockAfter_ = shared_.clockSeconds();
    // Labels 4, 5, 7, 8: the stamps; 6: the clock's time; 9: its date.
    const std::array<int, 4> stampLabels = {4, 5, 7, 8};
    for (size_t i = 0; i < stampLabels.size(); ++i) {
        const int n = stampLabels[i];
        const QString now = text(n);
        if (now != before_[n - 4] && now != shared_.stamps[i])
            violation("Label" + std::to_string(n) + " shows \"" + now.toStdString() + "\", the stamp is \"" +
                      shared_.stamps[i].toStdString() + "\"");
        if (code == 0 && form_->VypadkyNacteny && now != shared_.stamps[i])
            violation("Label" + std::to_string(n) + " lacks its stamp after a good tick");
    }
    const QString time = text(6);
    if (time != before_[2] && !timeValid(time))
        violation("clock shows " + time.toStdString() + " outside the module's time " + std::to_string(clockBefore_) +
                  "-" + std::to_string(clockAfter_) + " s of the day");
    if (code == 0 && !timeValid(time)) violation("clock not shown after a good tick: " + time.toStdString());
    const QString date = text(9);
    const QString heldDate = QString::fromStdString(shared_.clockDate);
    if (date != before_[5] && date != heldDate)
        violation("date shows " + date.toStdString() + ", the module's is " + shared_.clockDate);
    if (code == 0 && date != heldDate) violation("date not shown after a good tick: " + date.toStdString());
}

OutputsWatch::OutputsWatch(TForm9* window, Shared& shared)
    : Watch("outputs", window, window->Zapisy, shared), form_(window) {}

QString OutputsWatch::successText() const { return QStringLiteral(" Data zapsána"); }

void OutputsWatch::press(uint32_t pattern) {
    if (waiting()) {
        skipped();
        return;
    }
    pattern_ = pattern;
    for (int n = 0; n < 32; ++n) form_->CheckBox[n]->setChecked((pattern >> n) & 1u);
    before();
    form_->Button1->click();
    if (!requestOut()) after();
}

void OutputsWatch::check(int code) {
    const uint32_t previous = shared_.outputs;
    const uint32_t now = shared_.emu.value("get outputs");
    shared_.outputs = now;
    if (code == 0 && now != pattern_)
        violation("write reported done, the module's outputs are " + hex(now) + " not " + hex(pattern_));
    if (code != 0 && now != pattern_ && now != previous)
        violation("outputs became " + hex(now) + ", neither written " + hex(pattern_) + " nor earlier " +
                  hex(previous));
}

}  // namespace soak
