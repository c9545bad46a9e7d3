#include "LogWindow.h"

#include "Okno.h"
#include "StatusBar.h"
#include "ToolWindow.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace {

constexpr int FilePanel = 1;  // of the status bar: what became of the file

// kv618 watch's WHAT, in the order of the list.
constexpr kv618::Groups WhatGroups[] = {kv618::AllGroups, {true, false, false}, {false, false, true},
                                        {false, true, false}};

}  // namespace

LogWindow::LogWindow(QWidget* owner) : ToolWindow(owner, "LogWindow", tr("Záznam hodnot do souboru")) {

    auto* form = new QFormLayout;
    form->addRow(toolsmenu::FileRow(this, "FileField", FileField, true,
                                    tr("Data CSV (*.csv);;Řádky JSON (*.jsonl *.json);;Všechny soubory (*)")));
    What = new QComboBox(this);
    What->setObjectName("What");
    What->addItems({tr("vstupy, status registr a čítače"), tr("digitální vstupy"), tr("čítače"), tr("status registr")});
    form->addRow(tr("Zaznamenat"), What);
    Format = new QComboBox(this);
    Format->setObjectName("Format");
    Format->addItems({tr("CSV (jako kv618 watch --format csv)"), tr("JSON, řádek na měření (jako kv618 watch --format json)")});
    form->addRow(tr("Formát"), Format);
    Interval = new QSpinBox(this);
    Interval->setObjectName("Interval");
    Interval->setRange(10, 86'400'000);
    Interval->setSingleStep(100);
    Interval->setValue(DefaultIntervalMs);
    Interval->setSuffix(" ms");
    form->addRow(tr("Interval čtení"), Interval);
    SizeLabel = new QLabel(this);
    SizeLabel->setObjectName("SizeLabel");
    form->addRow(tr("Velikost souboru"), SizeLabel);
    LastLineLabel = new QLabel(this);
    LastLineLabel->setObjectName("LastLineLabel");
    form->addRow(tr("Poslední řádek"), LastLineLabel);

    StartButton = toolsmenu::Button(this, "StartButton", tr("Spustit záznam"));
    // The polls' result on the left, what became of the file on the right.
    Assemble(form, {StartButton}, {260, 0});
    Ticks = VytvorCasovac(this, DefaultIntervalMs);
    Ticks->setObjectName("Ticks");

    connect(Ticks, &QTimer::timeout, this, &LogWindow::TicksTimer);
    connect(StartButton, &QPushButton::clicked, this, &LogWindow::StartOrStop);
    resize(640, 300);
}

void LogWindow::FormShow() {
    AdresaModulu = PData ? PData->Adresa : 0;
    SizeLabel->clear();
    LastLineLabel->clear();
    SetStatus(" ");
    StatusBar1->NastavText(FilePanel, " ");
}

void LogWindow::done(int result) {
    if (Logging()) Stop(tr(" Záznam ukončen zavřením okna."));
    ModuleWindow::done(result);
}

void LogWindow::StartOrStop() {
    if (Logging()) return Stop(tr(" Záznam zastaven."));
    Start();
}

void LogWindow::Controls(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{FileField, What, Format, Interval}) w->setEnabled(enabled);
    StartButton->setText(enabled ? tr("Spustit záznam") : tr("Zastavit záznam"));
}

void LogWindow::Start() {
    const QString path = FileField->text().trimmed();
    if (path.isEmpty()) return StatusBar1->NastavText(FilePanel, tr(" Zadejte jméno souboru."));
    if (!MuzeMluvit()) return;
    groups_ = WhatGroups[std::max(What->currentIndex(), 0)];
    format_ = Format->currentIndex() == 1 ? kv618::LogFormat::Json : kv618::LogFormat::Csv;
    if (const auto f = file_.Create(path.toStdString()); f.failed())
        return StatusBar1->NastavText(FilePanel, " " + toolsmenu::FileFailureText(f));
    lines_ = 0;
    if (const auto header = kv618::LogHeader(format_, groups_)) {
        if (const auto f = file_.Append(*header); f.failed()) return Stop(" " + toolsmenu::FileFailureText(f));
    }
    Controls(false);
    ShowFile({});
    StatusBar1->NastavText(FilePanel, tr(" Záznam do souboru %1 běží.").arg(path));
    Ticks->setInterval(Interval->value());
    // The first poll at once, as kv618 watch's.
    TicksTimer();
    Ticks->start();
}

void LogWindow::Stop(const QString& why) {
    Ticks->stop();
    const auto closed = file_.Close();
    Controls(true);
    QString text = why + tr(" V souboru je %1 měření.").arg(lines_);
    if (closed.failed()) text += " " + toolsmenu::FileFailureText(closed);
    StatusBar1->NastavText(FilePanel, text);
}

void LogWindow::TicksTimer() {
    if (!Logging() || !MuzeMluvit()) return;
    Polls.Posli(
        this, AdresaModulu,
        [groups = groups_](const kv618::Module& m) {
            kv618::Result<kv618::Sample> r;
            r.value.when = std::chrono::system_clock::now();
            r.error = kv618::Poll(m, groups, r.value);
            return r;
        },
        [](LogWindow* w, const TVysledekOkna<kv618::Sample>& v) { w->Polled(v); });
}

void LogWindow::Polled(const TVysledekOkna<kv618::Sample>& v) {
    // A poll that was out when the log stopped writes nothing.
    if (!Logging()) return;
    StatusBar1->NastavNovyText(0, v.Text);
    if (!v.Uspech()) return;
    const auto f = file_.Append(kv618::LogLine(format_, groups_, v.Vysledek.value));
    if (f.failed())
        return Stop(" " + toolsmenu::FileFailureText(f) + tr(" Záznam zastaven; soubor končí posledním celým řádkem."));
    ++lines_;
    ShowFile(v.Vysledek.value.when);
}

void LogWindow::ShowFile(std::chrono::system_clock::time_point last) {
    SizeLabel->setText(tr("%1 B").arg(QLocale().toString(static_cast<qulonglong>(file_.Size()))));
    if (lines_ == 0) return LastLineLabel->setText(tr("zatím žádný"));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(last.time_since_epoch()).count();
    LastLineLabel->setText(QDateTime::fromMSecsSinceEpoch(ms).toString("dd.MM.yyyy HH:mm:ss"));
}
