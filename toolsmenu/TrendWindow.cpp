#include "TrendWindow.h"

#include "Okno.h"
#include "Quantities.h"
#include "StatusBar.h"
#include "ToolWindow.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

namespace {

constexpr int Counters = wire::CounterCount;
constexpr int Columns = 5;

// The counter values window's columns, left to right, as places in wire::Quantities.
size_t QuantityOfColumn(int column) {
    static constexpr wire::Quantity order[Columns] = {wire::Quantity::Pulses, wire::Quantity::Consumption,
                                                      wire::Quantity::Period, wire::Quantity::Power,
                                                      wire::Quantity::Power10s};
    for (size_t q = 0; q < wire::Quantities.size(); ++q)
        if (wire::Quantities[q] == order[column]) return q;
    return 0;
}

constexpr int SpanMinutes[] = {1, 2, 5, 10, 30, 60};
constexpr int DefaultSpan = 3;  // 10 minutes

constexpr int FilePanel = 1;  // of the status bar: a saved picture or data

}  // namespace

TrendWindow::TrendWindow(QWidget* owner) : ToolWindow(owner, "TrendWindow", tr("Průběh vstupů a čítačů")) {
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);

    Interval = new QSpinBox(this);
    Interval->setObjectName("Interval");
    Interval->setRange(10, 60000);
    Interval->setSingleStep(100);
    Interval->setValue(DefaultIntervalMs);
    Interval->setSuffix(" ms");
    Span = new QComboBox(this);
    Span->setObjectName("Span");
    for (const int minutes : SpanMinutes) Span->addItem(tr("%1 min").arg(minutes), minutes * 60);
    Span->setCurrentIndex(DefaultSpan);
    PauseButton = toolsmenu::Button(this, "PauseButton", tr("Pozastavit"));
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Interval čtení"), this));
    top->addWidget(Interval);
    top->addSpacing(16);
    top->addWidget(new QLabel(tr("Zobrazit posledních"), this));
    top->addWidget(Span);
    top->addStretch();
    top->addWidget(PauseButton);

    Chart = new TrendChart(history_, this);
    Scroll = new QScrollBar(Qt::Horizontal, this);
    Scroll->setObjectName("Scroll");

    auto* choices = new QGroupBox(tr("Čítače v grafu"), this);
    auto* grid = new QGridLayout(choices);
    for (int column = 0; column < Columns; ++column)
        grid->addWidget(new QLabel(TrendChart::QuantityTitle(QuantityOfColumn(column)), choices), 0, column + 1);
    for (int counter = 0; counter < Counters; ++counter) {
        grid->addWidget(new QLabel(tr("Čítač %1").arg(counter), choices), counter + 1, 0);
        for (int column = 0; column < Columns; ++column) {
            auto* choice = new QCheckBox(choices);
            choice->setObjectName(QString("Line%1_%2").arg(counter).arg(column));
            LineChoices[static_cast<size_t>(counter * Columns + column)] = choice;
            grid->addWidget(choice, counter + 1, column + 1, Qt::AlignHCenter);
            connect(choice, &QCheckBox::toggled, this, &TrendWindow::ChooseLines);
        }
    }
    // Counter 0's pulses and power unless the operator chooses otherwise.
    LineChoices[0]->setChecked(true);
    LineChoices[3]->setChecked(true);

    auto* content = new QVBoxLayout;
    content->addLayout(top);
    content->addWidget(Chart, 1);
    content->addWidget(Scroll);
    content->addWidget(choices);
    PictureButton = toolsmenu::Button(this, "PictureButton", tr("Uložit obrázek…"));
    DataButton = toolsmenu::Button(this, "DataButton", tr("Uložit data…"));
    // The polls' result on the left, what became of a saved file on the right.
    Assemble(content, {PictureButton, DataButton}, {300, 0});
    Timer1 = VytvorCasovac(this, DefaultIntervalMs);

    connect(Timer1, &QTimer::timeout, this, &TrendWindow::Timer1Timer);
    connect(Interval, &QSpinBox::valueChanged, this, &TrendWindow::IntervalChanged);
    connect(Span, &QComboBox::currentIndexChanged, this, &TrendWindow::SpanChanged);
    connect(PauseButton, &QPushButton::clicked, this, &TrendWindow::Pause);
    connect(Scroll, &QScrollBar::valueChanged, this, &TrendWindow::Scrolled);
    connect(PictureButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QString(), QString(), tr("Obrázek PNG (*.png)"));
        if (!path.isEmpty()) SavePicture(path);
    });
    connect(DataButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QString(), QString(), tr("Data CSV (*.csv)"));
        if (!path.isEmpty()) SaveData(path);
    });
    ChooseLines();
    IntervalChanged(DefaultIntervalMs);
    SpanChanged();
    resize(980, 820);
}

void TrendWindow::FormShow() {
    AdresaModulu = PData ? PData->Adresa : 0;
    history_.Clear();
    Chart->Follow();
    PauseButton->setText(tr("Pozastavit"));
    ShowScroll();
    SetStatus(" ");
    StatusBar1->NastavText(FilePanel, " ");
}

void TrendWindow::Timer1Timer() {
    if (!MuzeMluvit()) return;
    Polls.Posli(
        this, AdresaModulu,
        [](const kv618::Module& m) {
            kv618::Result<kv618::Sample> r;
            r.value.when = std::chrono::system_clock::now();
            r.error = kv618::Poll(m, kv618::AllGroups, r.value);
            return r;
        },
        [](TrendWindow* w, const TVysledekOkna<kv618::Sample>& v) { w->Polled(v); });
}

void TrendWindow::Polled(const TVysledekOkna<kv618::Sample>& v) {
    if (v.Uspech()) history_.Add(v.Vysledek.value);
    else history_.AddFailure(v.Vysledek.value.when);
    StatusBar1->NastavNovyText(0, v.Text);
    // The scroll bar follows by the second: moved at every poll, it would be
    // painted ten times a second for nothing.
    if (history_.Last() - scrolledAt_ >= std::chrono::seconds(1) || !Chart->Following()) ShowScroll();
    Chart->NewSample();
}

void TrendWindow::ChooseLines() {
    std::vector<TrendChart::Line> lines;
    for (int counter = 0; counter < Counters; ++counter)
        for (int column = 0; column < Columns; ++column)
            if (LineChoices[static_cast<size_t>(counter * Columns + column)]->isChecked())
                lines.push_back({counter, QuantityOfColumn(column)});
    Chart->SetLines(std::move(lines));
}

void TrendWindow::IntervalChanged(int ms) {
    Timer1->setInterval(ms);
    // A poll may wait for its reply longer than the interval: a few
    // intervals and a second still join two polls.
    Chart->SetJoinGap(std::chrono::milliseconds(3 * ms + 1000));
}

void TrendWindow::SpanChanged() {
    Chart->SetSpan(std::chrono::seconds(Span->currentData().toInt()));
    ShowScroll();
}

// Held, the picture stays where it is while the polls go on; again, it
// follows the newest poll.
void TrendWindow::Pause() {
    if (Chart->Following()) {
        Chart->HoldAt(Chart->End());
        PauseButton->setText(tr("Pokračovat"));
    } else {
        Chart->Follow();
        PauseButton->setText(tr("Pozastavit"));
    }
    ShowScroll();
}

// The scroll bar in milliseconds (an hour is 3.6 million) from the oldest
// poll kept to the picture's right edge; at its end the picture follows
// the newest poll.
void TrendWindow::ShowScroll() {
    const QSignalBlocker quiet(Scroll);
    scrolledAt_ = history_.Empty() ? TrendHistory::Clock::time_point{} : history_.Last();
    if (history_.Empty()) {
        Scroll->setRange(0, 0);
        return;
    }
    const auto ms = [&](TrendHistory::Clock::time_point t) {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(t - history_.First()).count());
    };
    Scroll->setRange(0, ms(history_.Last()));
    Scroll->setPageStep(static_cast<int>(Chart->Span().count() * 1000));
    Scroll->setSingleStep(1000);
    Scroll->setValue(Chart->Following() ? Scroll->maximum() : ms(Chart->End()));
}

void TrendWindow::Scrolled(int value) {
    if (history_.Empty()) return;
    if (value >= Scroll->maximum()) {
        Chart->Follow();
        PauseButton->setText(tr("Pozastavit"));
        return;
    }
    Chart->HoldAt(history_.First() + std::chrono::milliseconds(value));
    PauseButton->setText(tr("Pokračovat"));
}

bool TrendWindow::SavePicture(const QString& path) {
    if (!Chart->grab().save(path, "PNG")) {
        StatusBar1->NastavText(FilePanel, tr(" Obrázek nelze uložit do souboru %1.").arg(path));
        return false;
    }
    StatusBar1->NastavText(FilePanel, tr(" Obrázek uložen do souboru %1.").arg(path));
    return true;
}

bool TrendWindow::SaveData(const QString& path) {
    const auto format = kv618::LogFormat::Csv;
    std::string text = *kv618::LogHeader(format, kv618::AllGroups) + "\n";
    size_t polls = 0;
    for (const auto& e : history_.Entries()) {
        if (e.failed) continue;
        text += kv618::LogLine(format, kv618::AllGroups, e.sample) + "\n";
        ++polls;
    }
    if (const auto f = files::Replace(path.toStdString(), text); f.failed()) {
        StatusBar1->NastavText(FilePanel, " " + toolsmenu::FileFailureText(f));
        return false;
    }
    StatusBar1->NastavText(FilePanel, tr(" Uloženo %1 měření do souboru %2.").arg(polls).arg(path));
    return true;
}
