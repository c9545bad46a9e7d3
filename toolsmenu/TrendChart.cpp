#include "TrendChart.h"

#include "Quantities.h"

#include <QDateTime>
#include <QImage>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr int Inputs = 32;
constexpr int LabelWidth = 56;   // "DIN31" and a strip's scale
constexpr int AxisHeight = 18;   // the times under the plot
constexpr int LaneHeight = 10;   // at the least
constexpr int StripHeight = 64;  // a counter quantity's line, at the least
constexpr int StripGap = 6;

const QColor LaneColour(0, 110, 0);
const QColor HighFill(200, 235, 200);
const QColor BusyFill(120, 190, 120);  // a lane that was high and low within one pixel
const QColor LineColour(0, 70, 170);
const QColor FailedFill(225, 225, 225);

using Clock = TrendChart::Clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

// The visible stretch, one column per pixel.
struct TrendChart::Columns {
    int width = 0;
    std::vector<uint8_t> data, failed;
    std::vector<uint32_t> ones, zeros;       // inputs seen high, seen low
    std::vector<double> low, high, last;     // per line, width values each
    explicit Columns(int w, size_t lines)
        : width(w), data(w), failed(w), ones(w), zeros(w), low(w * lines), high(w * lines), last(w * lines) {}

    void Take(int x, const kv618::Sample& s, const std::vector<Line>& lines) {
        if (x < 0 || x >= width) return;
        const size_t at = static_cast<size_t>(x);
        for (size_t k = 0; k < lines.size(); ++k) {
            const double v = s.counters[lines[k].counter][lines[k].quantity];
            const size_t i = k * static_cast<size_t>(width) + at;
            low[i] = data[at] ? std::min(low[i], v) : v;
            high[i] = data[at] ? std::max(high[i], v) : v;
            last[i] = v;
        }
        ones[at] |= s.inputs;
        zeros[at] |= ~s.inputs;
        data[at] = 1;
    }
    void Fail(int from, int to) {
        for (int x = std::max(from, 0); x <= std::min(to, width - 1); ++x) failed[static_cast<size_t>(x)] = 1;
    }
};

TrendChart::TrendChart(const TrendHistory& history, QWidget* parent) : QWidget(parent), history_(history) {
    setObjectName("Chart");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TrendChart::SetLines(std::vector<Line> lines) {
    lines_ = std::move(lines);
    updateGeometry();
    update();
}

void TrendChart::SetSpan(std::chrono::seconds span) {
    span_ = std::max(span, std::chrono::seconds(10));
    update();
}

void TrendChart::Follow() {
    following_ = true;
    update();
}

void TrendChart::HoldAt(Clock::time_point end) {
    following_ = false;
    end_ = end;
    update();
}

Clock::time_point TrendChart::End() const {
    if (!following_) return end_;
    return history_.Empty() ? Clock::now() : history_.Last();
}

void TrendChart::NewSample() {
    if (!following_ || !isVisible()) return;
    const int width = std::max(Plot().width(), 1);
    const double pixels = Seconds(End() - paintedEnd_) * width / Seconds(span_);
    if (pixels >= 1.0 || pixels < 0) update();
}

QSize TrendChart::minimumSizeHint() const {
    const int strips = static_cast<int>(lines_.size()) * (StripHeight / 2 + StripGap);
    return {LabelWidth + 240, Inputs * 6 + strips + AxisHeight};
}

QSize TrendChart::sizeHint() const {
    const int strips = static_cast<int>(lines_.size()) * (StripHeight + StripGap);
    return {LabelWidth + 840, Inputs * (LaneHeight + 2) + strips + AxisHeight + 8};
}

QRect TrendChart::Plot() const { return rect().adjusted(LabelWidth, 2, -8, -AxisHeight); }

// Every poll of the stretch into its column; a poll's values hold until the
// next one, and a failed poll's column stays failed until the next poll.
void TrendChart::Collect(Columns& c, const QRect& plot) const {
    const auto end = End();
    const auto start = end - span_;
    // Columns from whole microseconds: no floating point per poll.
    const int64_t spanUs = std::chrono::duration_cast<std::chrono::microseconds>(span_).count();
    const auto column = [&](Clock::time_point t) {
        const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(t - start).count();
        return static_cast<int>((us < 0 ? us - spanUs + 1 : us) * plot.width() / spanUs);
    };
    const auto [first, last] = history_.Around(start, end);
    if (first >= last) return;
    const auto& entries = history_.Entries();
    auto e = entries.begin() + static_cast<long>(first);
    const auto stop = entries.begin() + static_cast<long>(last);
    int x = column(e->sample.when);
    for (; e != stop; ++e) {
        const auto next = e + 1;
        const int nextX = next != stop ? column(next->sample.when) : x;
        if (next != stop) {
            if (e->failed) c.Fail(x, nextX - 1);
            else if (!next->failed && next->sample.when - e->sample.when <= joinGap_)
                for (int between = std::max(x + 1, 0); between < std::min(nextX, c.width); ++between)
                    c.Take(between, e->sample, lines_);
        }
        if (e->failed) c.Fail(x, x);
        else c.Take(x, e->sample, lines_);
        x = nextX;
    }
}

void TrendChart::paintEvent(QPaintEvent*) {
    ++paints_;
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QRect plot = Plot();
    if (plot.width() < 2 || plot.height() < 2) return;
    Columns c(plot.width(), lines_.size());
    Collect(c, plot);
    paintedEnd_ = End();
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() - 1));
    p.setFont(small);
    DrawLanes(p, c, plot);
    DrawFailures(p, c, plot);
    const int lanesBottom = plot.top() + (plot.height() - static_cast<int>(lines_.size()) * (StripHeight + StripGap));
    for (size_t k = 0; k < lines_.size(); ++k) {
        const int top = lanesBottom + StripGap + static_cast<int>(k) * (StripHeight + StripGap);
        DrawLine(p, c, k, QRect(plot.left(), top, plot.width(), StripHeight));
    }
    DrawTimeAxis(p, plot);
}

// The stretches where polls failed, hatched across the whole height.
void TrendChart::DrawFailures(QPainter& p, const Columns& c, const QRect& plot) const {
    for (int x = 0; x < c.width;) {
        if (!c.failed[static_cast<size_t>(x)] || c.data[static_cast<size_t>(x)]) {
            ++x;
            continue;
        }
        int to = x;
        while (to + 1 < c.width && c.failed[static_cast<size_t>(to + 1)] && !c.data[static_cast<size_t>(to + 1)]) ++to;
        const QRect band(plot.left() + x, plot.top(), to - x + 1, plot.height());
        p.fillRect(band, FailedFill);
        p.fillRect(band, QBrush(Qt::gray, Qt::BDiagPattern));
        x = to + 1;
    }
}

// Each input a lane: a line at the top where it was high (filled below),
// at the bottom where low, a block where it changed within one pixel.  The
// lanes are set pixel by pixel into an image, a few hundred thousand
// stores, instead of thousands of small shapes through the painter: with
// inputs that move every second, that was most of a paint's time.
void TrendChart::DrawLanes(QPainter& p, const Columns& c, const QRect& plot) const {
    const int height = plot.height() - static_cast<int>(lines_.size()) * (StripHeight + StripGap);
    if (height < Inputs) return;
    const double lane = static_cast<double>(height) / Inputs;
    enum State : uint8_t { None, Low, High, Both };
    QImage lanes(c.width, height, QImage::Format_RGB32);
    lanes.fill(Qt::white);
    const QRgb white = QColor(Qt::white).rgb(), line = LaneColour.rgb(), high = HighFill.rgb(), busy = BusyFill.rgb();
    // A lane's three kinds of row: its top line, the rows between, its bottom line.
    std::vector<QRgb> top(static_cast<size_t>(c.width)), middle(top.size()), bottom(top.size());
    p.setPen(Qt::darkGray);
    const int every = lane >= p.fontMetrics().height() ? 1 : lane * 2 >= p.fontMetrics().height() ? 2 : 4;
    for (int b = 0; b < Inputs; ++b) {
        const int first = static_cast<int>(b * lane);
        const int yHigh = first + 2, yLow = first + static_cast<int>(lane) - 2;
        if (b % every == 0)
            p.drawText(QRect(0, plot.top() + first, LabelWidth - 6, static_cast<int>(lane * every)),
                       Qt::AlignRight | Qt::AlignTop, QString("DIN%1").arg(b));
        const uint32_t bit = 1u << b;
        State before = None;
        for (size_t x = 0; x < top.size(); ++x) {
            const bool one = c.ones[x] & bit, zero = c.zeros[x] & bit;
            const State s = !c.data[x] ? None : one && zero ? Both : one ? High : Low;
            const bool edge = (s == High && before == Low) || (s == Low && before == High);
            top[x] = edge || s == High ? line : s == Both ? busy : white;
            middle[x] = edge ? line : s == Both ? busy : s == High ? high : white;
            bottom[x] = edge || s == Low ? line : s == Both ? busy : white;
            before = s;
        }
        const size_t bytes = top.size() * sizeof(QRgb);
        for (int y = yHigh; y <= yLow; ++y)
            std::memcpy(lanes.scanLine(y), (y == yHigh ? top : y == yLow ? bottom : middle).data(), bytes);
    }
    p.drawImage(plot.topLeft(), lanes);
}

// The names in the order of wire::Quantities, as the counter values window
// names its columns.
QString TrendChart::QuantityTitle(size_t quantity) {
    static const char* const names[] = {QT_TRANSLATE_NOOP("TrendChart", "Počet pulsů"),
                                        QT_TRANSLATE_NOOP("TrendChart", "Odběr"),
                                        QT_TRANSLATE_NOOP("TrendChart", "Výkon"),
                                        QT_TRANSLATE_NOOP("TrendChart", "Perioda"),
                                        QT_TRANSLATE_NOOP("TrendChart", "Výkon 10s")};
    if (quantity >= std::size(names)) return {};
    const char* unit = kv618::QuantityNames[quantity].unit;
    return tr(names[quantity]) + (*unit ? QString(" [%1]").arg(unit) : QString());
}

namespace {

QString Number(double v) { return QString::number(v, 'f', 0); }

}  // namespace

// A quantity's strip: its values scaled between the lowest and the highest
// shown, each pixel's range as a stroke, joined from pixel to pixel.
void TrendChart::DrawLine(QPainter& p, const Columns& c, size_t k, const QRect& strip) const {
    const size_t base = k * static_cast<size_t>(c.width);
    double low = 0, high = 0, newest = 0;
    bool any = false;
    for (int x = 0; x < c.width; ++x) {
        const size_t i = static_cast<size_t>(x);
        if (!c.data[i]) continue;
        low = any ? std::min(low, c.low[base + i]) : c.low[base + i];
        high = any ? std::max(high, c.high[base + i]) : c.high[base + i];
        newest = c.last[base + i];
        any = true;
    }
    if (high <= low) {
        // A flat line in the middle of its strip, with a scale around it.
        const double margin = std::max(1.0, std::abs(low) * 0.05);
        low -= margin;
        high += margin;
    }
    const auto y = [&](double v) { return strip.bottom() - static_cast<int>((v - low) / (high - low) * (strip.height() - 1)); };
    p.setPen(Qt::lightGray);
    p.drawRect(strip.adjusted(0, 0, -1, -1));
    const Line& line = lines_[k];
    const QString title = tr("Čítač %1 – %2").arg(line.counter).arg(QuantityTitle(line.quantity));
    p.setPen(Qt::darkGray);
    p.drawText(strip.adjusted(4, 1, -4, 0), Qt::AlignLeft | Qt::AlignTop,
               any ? title + "  " + Number(newest) : title);
    p.drawText(QRect(0, strip.top(), LabelWidth - 6, strip.height()), Qt::AlignRight | Qt::AlignTop,
               any ? Number(high) : QString());
    p.drawText(QRect(0, strip.top(), LabelWidth - 6, strip.height()), Qt::AlignRight | Qt::AlignBottom,
               any ? Number(low) : QString());
    std::vector<QLine> strokes;
    int previousX = -2, previousY = 0;
    for (int x = 0; x < c.width; ++x) {
        const size_t i = static_cast<size_t>(x);
        if (!c.data[i]) continue;
        const int px = strip.left() + x;
        if (c.high[base + i] > c.low[base + i]) strokes.emplace_back(px, y(c.low[base + i]), px, y(c.high[base + i]));
        const int py = y(c.last[base + i]);
        if (previousX == x - 1) strokes.emplace_back(px - 1, previousY, px, py);
        else strokes.emplace_back(px, py, px, py);
        previousX = x;
        previousY = py;
    }
    p.setPen(LineColour);
    p.drawLines(strokes.data(), static_cast<int>(strokes.size()));
}

// Ticks at a round step, at least 90 pixels apart, with the local time.
void TrendChart::DrawTimeAxis(QPainter& p, const QRect& plot) const {
    static constexpr int Steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    const double perSecond = plot.width() / Seconds(span_);
    int step = Steps[std::size(Steps) - 1];
    for (const int s : Steps)
        if (s * perSecond >= 90) {
            step = s;
            break;
        }
    const auto end = End();
    const auto start = end - span_;
    const long long startMs = std::chrono::duration_cast<std::chrono::milliseconds>(start.time_since_epoch()).count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(startMs);
    // Round steps of local time: the offset of the zone counts.
    const long long offsetMs = local.offsetFromUtc() * 1000LL;
    const long long stepMs = step * 1000LL;
    long long tick = ((startMs + offsetMs) / stepMs + 1) * stepMs - offsetMs;
    p.setPen(Qt::darkGray);
    p.drawLine(plot.left(), plot.bottom() + 1, plot.right(), plot.bottom() + 1);
    const QString format = step < 60 ? "HH:mm:ss" : "HH:mm";
    for (; tick <= startMs + static_cast<long long>(Seconds(span_) * 1000); tick += stepMs) {
        const int x = plot.left() + static_cast<int>((tick - startMs) / 1000.0 * perSecond);
        p.drawLine(x, plot.bottom() + 1, x, plot.bottom() + 4);
        if (x + 45 > width()) continue;  // a time cut off at the edge says nothing
        p.drawText(QRect(x - 45, plot.bottom() + 3, 90, AxisHeight - 3), Qt::AlignHCenter | Qt::AlignTop,
                   QDateTime::fromMSecsSinceEpoch(tick).toString(format));
    }
}
