// Watching the real windows during the fault soak.  Every timer tick of a
// polling window (and every press of the outputs window's "Zapsat") is
// wrapped: before it the values on screen are noted and the status bar is
// set to a marker that no window ever shows; after it the tick must have
// left a status text (the success text or an error text of the library),
// every value on screen must be one the emulator held, and the tick must
// have ended within the library's time-out.
#pragma once

#include "Emulator.h"

#include "Pozadavky.h"

#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class QLabel;
class QTimer;
class QWidget;
class TStatusBar;

class TForm3;
class TForm6;
class TForm9;

namespace soak {

using Clock = std::chrono::steady_clock;

// What the emulator holds now, as set by the driver, and what every watch
// reports into.
struct Shared {
    explicit Shared(kvtest::Emulator& e) : emu(e) {}
    kvtest::Emulator& emu;
    int timeoutMs = 200;
    int marginMs = 100;          // scheduling on a busy machine
    // Requests that may stand before a window's own on the one connection
    // worker: one out per window, six of the clock's; set by the driver.
    int requestsAhead = 0;
    uint32_t inputs = 0;         // what a read of the inputs returns now
    uint32_t status = 0;         // what a read of the status register returns now
    std::array<uint32_t, 20> quantities{};  // in the counter window's reading order
    uint32_t outputs = 0;        // last value written to the outputs
    std::string clockDate;       // the module clock's date, as the window shows it
    std::array<QString, 4> stamps;  // Label4, Label5, Label7, Label8 as expected

    QString successText;                 // " " + the library's text for 0
    std::map<QString, int> errorTexts;   // " " + text -> code, codes 1..99
    std::vector<std::string> violations;
    void violation(const std::string& where, const std::string& what);

    // Module clock as seconds of the day, from "get clock".
    int clockSeconds();
};

struct Tally {
    long ticks = 0;
    long successes = 0;
    std::map<int, long> errors;   // code -> count
    long overLimit = 0;           // ticks that took longer than their time-outs
    long skipped = 0;             // ticks that came while the window's request was still out
    double maxMs = 0;
    std::vector<double> durationsMs;
};

class Watch {
public:
    // The window's requests tell the watch when a result has been shown.
    Watch(std::string name, QWidget* window, TPozadavky& requests, Shared& shared);
    virtual ~Watch();

    // Around one tick (or press): before() as it comes, after() once the
    // window has shown what its request came to (at once when it sent none).
    void before();
    void after();
    // A tick that comes while the window's request is out is skipped.
    bool waiting() const { return waiting_; }
    void skipped() { ++tally_.skipped; }
    bool requestOut() const { return requests_.Venku(); }
    QTimer* timer() const { return timer_; }
    const std::string& name() const { return name_; }
    const Tally& tally() const { return tally_; }

protected:
    virtual void snapshot() = 0;
    virtual void check(int code) = 0;   // code 0 = the tick reported success
    virtual int requests() const { return 1; }
    virtual QString successText() const { return shared_.successText; }

    QLabel* label(int number) const;
    QString text(int number) const;
    void violation(const std::string& what);

    std::string name_;
    QWidget* window_;
    Shared& shared_;
    QTimer* timer_ = nullptr;
    TStatusBar* status_ = nullptr;
    Tally tally_;

private:
    TPozadavky& requests_;
    bool waiting_ = false;
    Clock::time_point start_;
};

// Inputs window and status register window: 32 "0"/"1" labels Label33..64.
class BitsWatch : public Watch {
public:
    BitsWatch(std::string name, QWidget* window, TPozadavky& requests, Shared& shared, const uint32_t& held);

protected:
    void snapshot() override;
    void check(int code) override;

private:
    bool shown(uint32_t& value) const;
    const uint32_t& held_;
    uint32_t before_ = 0;
    bool beforeValid_ = false;
};

class CountersWatch : public Watch {
public:
    CountersWatch(TForm6* window, Shared& shared);

protected:
    void snapshot() override;
    void check(int code) override;

private:
    static int labelOf(int step);
    TForm6* form_;
    int step_ = 0;
    std::array<QString, 20> before_;
};

class ClockWatch : public Watch {
public:
    ClockWatch(TForm3* window, Shared& shared);

protected:
    void snapshot() override;
    void check(int code) override;
    int requests() const override { return stampsRead_ ? 2 : 6; }

private:
    bool timeValid(const QString& text) const;
    TForm3* form_;
    bool stampsRead_ = false;
    int clockBefore_ = 0;
    int clockAfter_ = 0;
    std::array<QString, 6> before_;  // Label4..Label9
};

// The outputs window has no timer: the driver ticks the box pattern and
// presses "Zapsat" itself.
class OutputsWatch : public Watch {
public:
    OutputsWatch(TForm9* window, Shared& shared);
    void press(uint32_t pattern);

protected:
    void snapshot() override {}
    void check(int code) override;
    QString successText() const override;

private:
    TForm9* form_;
    uint32_t pattern_ = 0;
};

}  // namespace soak
