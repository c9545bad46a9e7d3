// The trend: the module's inputs, status register and counters polled at a
// chosen interval (the inputs window's 100 ms unless changed) and drawn
// over time: the 32 inputs as lanes of a logic analyser, the chosen counter
// quantities as lines with their units.  The last 10 minutes show (up to an
// hour kept, to scroll back through); "Pozastavit" holds the picture while
// the polls go on; the picture is saved as PNG and the polls as the CSV of
// `kv618 watch all --format csv`.
//
// Each tick hands one poll to the connection worker, as the live windows
// do: one out at a time, a tick that comes while it is out is skipped.  A
// poll that fails (the module silent, say) is kept as a gap; what came
// before it stays, and the trend goes on when the module answers again.
#pragma once

#include "Pozadavky.h"
#include "ToolWindow.h"
#include "TrendChart.h"
#include "TrendHistory.h"

#include <array>

class QCheckBox;
class QComboBox;
class QPushButton;
class QScrollBar;
class QSpinBox;

class TrendWindow : public ToolWindow {
    Q_OBJECT
public:
    explicit TrendWindow(QWidget* owner = nullptr);

    static constexpr int DefaultIntervalMs = 100;  // the inputs and counter values windows' period

    QSpinBox* Interval = nullptr;  // ms
    QComboBox* Span = nullptr;     // the stretch shown
    QPushButton* PauseButton = nullptr;
    TrendChart* Chart = nullptr;
    QScrollBar* Scroll = nullptr;  // back through what is kept
    // Counter by counter, in the counter values window's order of columns.
    std::array<QCheckBox*, 20> LineChoices{};
    QPushButton* PictureButton = nullptr;
    QPushButton* DataButton = nullptr;

    const TrendHistory& History() const { return history_; }
    // For whoever fills it without polls (the benchmark's hour of history).
    TrendHistory& History() { return history_; }
    // The picture as PNG, the polls as kv618 watch's CSV: false with the
    // reason in the status bar.
    bool SavePicture(const QString& path);
    bool SaveData(const QString& path);

    TPozadavky Polls;

public slots:
    void FormShow() override;
    void Timer1Timer();
    void Pause();

private:
    void ChooseLines();
    void IntervalChanged(int ms);
    void SpanChanged();
    void Scrolled(int value);
    void ShowScroll();
    void Polled(const TVysledekOkna<kv618::Sample>& v);

    TrendHistory history_;
    TrendHistory::Clock::time_point scrolledAt_{};  // the newest poll when the scroll bar was last set
};
