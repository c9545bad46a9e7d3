// The trend's picture: the 32 inputs as lanes of a logic analyser, then one
// strip per chosen counter quantity with its unit, over a stretch of time
// that ends at the newest poll (or at a moment the operator went back to).
//
// Drawn with QPainter rather than Qt Charts: a chart keeps a copy of every
// point of every series and lays each one out on every change, which for 32
// lanes and up to 20 lines over an hour of 100 ms polls is most of a core's
// work and a package more.  Here each paint reduces the visible stretch to
// one column per pixel (which inputs were high, low or both, each line's
// lowest, highest and last value), draws a few hundred lines and
// rectangles, and paints only when the newest poll has moved the picture by
// a pixel or more.
#pragma once

#include "TrendHistory.h"

#include <QWidget>

#include <chrono>
#include <cstddef>
#include <vector>

class TrendChart : public QWidget {
    Q_OBJECT
public:
    using Clock = TrendHistory::Clock;

    // A counter quantity drawn as a line: counter 0-3 and the quantity's
    // place in wire::Quantities.
    struct Line {
        int counter = 0;
        size_t quantity = 0;
        bool operator==(const Line&) const = default;
    };

    explicit TrendChart(const TrendHistory& history, QWidget* parent = nullptr);

    // A quantity (its place in wire::Quantities) by name and unit, "Odběr [Wh]".
    static QString QuantityTitle(size_t quantity);

    void SetLines(std::vector<Line> lines);
    const std::vector<Line>& Lines() const { return lines_; }
    void SetSpan(std::chrono::seconds span);
    std::chrono::seconds Span() const { return span_; }
    // Two polls further apart than this are not joined: nothing was polled
    // between them (a few of the window's intervals).
    void SetJoinGap(std::chrono::milliseconds gap) { joinGap_ = gap; }

    // The right edge follows the newest poll, or stays at `end`.
    void Follow();
    void HoldAt(Clock::time_point end);
    bool Following() const { return following_; }
    Clock::time_point End() const;

    // Told after every poll: repaints once the picture has moved by a pixel.
    void NewSample();
    // How many times the picture was painted (for the benchmark and tests).
    int Paints() const { return paints_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Columns;
    QRect Plot() const;
    void Collect(Columns& c, const QRect& plot) const;
    void DrawLanes(class QPainter& p, const Columns& c, const QRect& plot) const;
    void DrawFailures(class QPainter& p, const Columns& c, const QRect& plot) const;
    void DrawLine(class QPainter& p, const Columns& c, size_t k, const QRect& strip) const;
    void DrawTimeAxis(class QPainter& p, const QRect& plot) const;

    const TrendHistory& history_;
    std::vector<Line> lines_;
    std::chrono::seconds span_{600};
    std::chrono::milliseconds joinGap_{1000};
    bool following_ = true;
    Clock::time_point end_{};         // while held
    Clock::time_point paintedEnd_{};  // the right edge of the last paint
    int paints_ = 0;
};
