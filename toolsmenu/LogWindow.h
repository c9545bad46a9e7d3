// A log of the module's live values in a file, until stopped: the inputs,
// the status register and the counters (or one of them) polled at an
// interval, one line per poll in the CSV or JSON lines of `kv618 watch`
// (the same code, module/LiveValues.h).  The window shows the file's size
// and the time of its last line.  Each line goes into the file whole or not
// at all (files/LineFile.h): a write that fails leaves the file ending with
// its last whole line, stops the log and says why in the status bar.
//
// Each tick hands one poll to the connection worker, as the live windows
// do; a poll that fails writes no line (kv618 watch tells it on standard
// error, the window in its status bar) and the log goes on.  Closing the
// window ends the log.
#pragma once

#include "LineFile.h"
#include "LiveValues.h"
#include "Pozadavky.h"
#include "ToolWindow.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

class LogWindow : public ToolWindow {
    Q_OBJECT
public:
    explicit LogWindow(QWidget* owner = nullptr);

    static constexpr int DefaultIntervalMs = 1000;  // kv618 watch's

    QLineEdit* FileField = nullptr;
    QComboBox* What = nullptr;    // all, inputs, counters, status: kv618 watch's WHAT
    QComboBox* Format = nullptr;  // CSV, JSON lines
    QSpinBox* Interval = nullptr; // ms
    QLabel* SizeLabel = nullptr;
    QLabel* LastLineLabel = nullptr;
    QPushButton* StartButton = nullptr;  // starts and stops the log
    // Ticks while a log runs (not Timer1, which a window starts when shown).
    QTimer* Ticks = nullptr;

    bool Logging() const { return file_.IsOpen(); }
    uint64_t Lines() const { return lines_; }

    void done(int result) override;

    TPozadavky Polls;

public slots:
    void FormShow() override;
    void TicksTimer();
    void StartOrStop();

private:
    void Start();
    void Stop(const QString& why);
    void Polled(const TVysledekOkna<kv618::Sample>& v);
    void ShowFile(std::chrono::system_clock::time_point last);
    void Controls(bool enabled);

    files::LineFile file_;
    kv618::Groups groups_;
    kv618::LogFormat format_ = kv618::LogFormat::Csv;
    uint64_t lines_ = 0;
};
