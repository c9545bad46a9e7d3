#include "ScanWindow.h"

#include "Interfaces.h"
#include "Qxxx726.h"
#include "StatusBar.h"
#include "ToolWindow.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <algorithm>

namespace {

enum Column { ColumnAddress, ColumnRate, ColumnIdentity, Columns };

// A row's place in the list of modules found, on its address cell.
constexpr int ModuleRole = Qt::UserRole;

// 1 min 20 s, 12 s
QString Duration(std::chrono::milliseconds left) {
    const long long s = (left.count() + 999) / 1000;
    if (s < 60) return ScanWindow::tr("%1 s").arg(s);
    return ScanWindow::tr("%1 min %2 s").arg(s / 60).arg(s % 60);
}

}  // namespace

// How a scan ended, with the texts of its codes fetched on the worker from
// the library just bound.
struct ScanWindow::Ended {
    bool opened = false;  // the interface was bound and initialised
    kv618::ScanOutcome outcome;
    std::string text;     // of a failed opening or of the line's failure
};

ScanWindow::ScanWindow(QWidget* owner) : ToolWindow(owner, "ScanWindow", tr("Vyhledání modulů na lince")) {

    auto* line = new QGroupBox(tr("Linka"), this);
    auto* form = new QFormLayout(line);
    Interface = new QComboBox(line);
    Interface->setObjectName("Interface");
    for (const auto& i : kv618::Interfaces) Interface->addItem(QString::fromUtf8(i.dialogLabel));
    form->addRow(tr("Komunikační rozhraní"), Interface);
    for (size_t i = 0; i < Parameters.size(); ++i) {
        ParameterLabels[i] = new QLabel(line);
        Parameters[i] = new QLineEdit(line);
        Parameters[i]->setObjectName(QString("Parameter%1").arg(i));
        ParameterLabels[i]->setBuddy(Parameters[i]);
        form->addRow(ParameterLabels[i], Parameters[i]);
    }
    auto* range = new QHBoxLayout;
    First = new QSpinBox(line);
    First->setObjectName("First");
    Last = new QSpinBox(line);
    Last->setObjectName("Last");
    for (QSpinBox* b : {First, Last}) b->setRange(0, 255);
    range->addWidget(First);
    range->addWidget(new QLabel(tr("až"), line));
    range->addWidget(Last);
    range->addStretch();
    form->addRow(tr("Adresy modulů"), range);
    auto* rates = new QGridLayout;
    for (size_t i = 0; i < Rates.size(); ++i) {
        Rates[i] = new QCheckBox(tr("%1 Bd").arg(wire::BaudRates[i]), line);
        Rates[i]->setObjectName(QString("Rate%1").arg(wire::BaudRates[i]));
        rates->addWidget(Rates[i], static_cast<int>(i / 5), static_cast<int>(i % 5));
    }
    form->addRow(tr("Komunikační rychlosti"), rates);

    ScanButton = toolsmenu::Button(this, "ScanButton", tr("Hledat"));
    Progress = new QProgressBar(this);
    Progress->setObjectName("Progress");
    Asking = new QLabel(this);
    Asking->setObjectName("Asking");
    auto* progress = new QHBoxLayout;
    progress->addWidget(ScanButton);
    progress->addWidget(Progress, 1);
    Found = new QTableWidget(0, Columns, this);
    Found->setObjectName("Found");
    Found->setHorizontalHeaderLabels({tr("Adresa"), tr("Rychlost"), tr("Identifikace")});
    Found->horizontalHeader()->setStretchLastSection(true);
    Found->verticalHeader()->hide();
    Found->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Found->setSelectionBehavior(QAbstractItemView::SelectRows);
    Found->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* content = new QVBoxLayout;
    content->addWidget(line);
    content->addLayout(progress);
    content->addWidget(Asking);
    content->addWidget(Found, 1);
    ConnectButton = toolsmenu::Button(this, "ConnectButton", tr("Připojit"));
    Assemble(content, {ConnectButton});

    connect(Interface, &QComboBox::currentIndexChanged, this, &ScanWindow::InterfaceChanged);
    connect(ScanButton, &QPushButton::clicked, this, &ScanWindow::ScanOrStop);
    connect(ConnectButton, &QPushButton::clicked, this, &ScanWindow::Connect);
    connect(Found, &QTableWidget::cellDoubleClicked, this, &ScanWindow::Connect);
    connect(Found, &QTableWidget::itemSelectionChanged, this, &ScanWindow::EnableConnect);
    resize(640, 620);
}

void ScanWindow::FormShow() {
    connected_ = false;
    connecting_ = false;
    linkOpen_ = false;
    modules_.clear();
    oddAnswers_ = 0;
    Found->setRowCount(0);
    Progress->reset();
    Asking->clear();
    First->setValue(0);
    Last->setValue(255);
    ConnectButton->setEnabled(false);
    ScanButton->setText(tr("Hledat"));
    SetStatus(" ");
    if (!PData) return;
    PData->Rozhrani &= 0x07;
    const QSignalBlocker quiet(Interface);
    Interface->setCurrentIndex(kv618::IsInterface(PData->Rozhrani) ? PData->Rozhrani : 0);
    InterfaceChanged();
}

// The interface's fields from the record, as the connection dialog shows
// them; every rate where the interface carries the rate to the line, the
// record's own elsewhere (kv618::ScanPlan::For).
void ScanWindow::InterfaceChanged() {
    if (!PData) return;
    const auto type = static_cast<uint8_t>(std::max(Interface->currentIndex(), 0));
    const auto parameters = kv618::Interfaces[type].parameters;
    for (size_t i = 0; i < Parameters.size(); ++i) {
        const bool used = i < parameters.size();
        ParameterLabels[i]->setVisible(used);
        Parameters[i]->setVisible(used);
        if (!used) continue;
        ParameterLabels[i]->setText(QString::fromUtf8(parameters[i].label));
        Parameters[i]->setText(QString::fromStdString(kv618::DialogText(*PData, parameters[i])));
    }
    TData record = *PData;
    record.Rozhrani = type;
    const auto plan = kv618::ScanPlan::For(record);
    for (size_t i = 0; i < Rates.size(); ++i)
        Rates[i]->setChecked(std::find(plan.rates.begin(), plan.rates.end(), wire::BaudRates[i]) != plan.rates.end());
}

// The fields into the record as the connection dialog takes them; false
// with its refusal shown.
bool ScanWindow::TakeParameters() {
    PData->Rozhrani = static_cast<uint8_t>(std::max(Interface->currentIndex(), 0));
    const auto parameters = kv618::Interfaces[PData->Rozhrani].parameters;
    for (size_t i = 0; i < parameters.size(); ++i) {
        const auto value =
            kv618::ParseParameter(parameters[i], Parameters[i]->text().toStdString(), kv618::Notation::Dialog);
        if (!value) {
            SetStatus(" " + QString::fromStdString(kv618::RefusalText(parameters[i])));
            return false;
        }
        kv618::SetParameter(*PData, parameters[i], *value);
        Parameters[i]->setText(QString::fromStdString(kv618::DialogText(*PData, parameters[i])));
    }
    PData->InitParametry = kv618::InitBlock(*PData, PData->Rozhrani);
    return true;
}

void ScanWindow::ScanOrStop() {
    if (Scanning()) return Stop();
    Start();
}

void ScanWindow::Start() {
    if (!PData) return;
    kv618::ScanPlan plan;
    for (size_t i = 0; i < Rates.size(); ++i)
        if (Rates[i]->isChecked()) plan.rates.push_back(wire::BaudRates[i]);
    if (plan.rates.empty()) return SetStatus(tr(" Zvolte aspoň jednu komunikační rychlost."));
    if (First->value() > Last->value()) return SetStatus(tr(" První adresa je větší než poslední."));
    if (!TakeParameters()) return;
    {
        const auto rates = plan.rates;
        plan = kv618::ScanPlan::For(*PData);
        plan.rates = rates;
    }
    plan.first = static_cast<uint8_t>(First->value());
    plan.last = static_cast<uint8_t>(Last->value());
    // As "Inicializace připojení": the program's link goes first.
    PData->Pripojeno = 0;
    connected_ = false;
    linkOpen_ = false;
    modules_.clear();
    oddAnswers_ = 0;
    Found->setRowCount(0);
    Progress->setRange(0, plan.Addresses() * static_cast<int>(plan.rates.size()));
    Progress->setValue(0);
    ScanButton->setText(tr("Zastavit"));
    ConnectButton->setEnabled(false);
    SetStatus(tr(" Probíhá hledání modulů"));

    scan_ = NewStopFlag();
    QPointer<ScanWindow> self(this);
    // A copy of the record travels with the scan, the LAN converter's address
    // text with it: the record may change while the scan waits its turn.
    LinkWorker::Program().Post([self, stop = scan_, record = *PData, plan](kv618::Connection& c) {
        const auto toWindow = [self, stop](auto f) {
            ToWindow(self, [stop, f](ScanWindow* w) mutable {
                if (w->scan_ == stop) f(w);
            });
        };
        Ended e;
        const uint8_t type = record.Rozhrani;
        if (const int32_t code = c.Open(type, kv618::InitBlock(record, type), plan.rates.front(), SlozkaKnihoven())) {
            e.text = c.Text(code);
            c.Unload();
        } else {
            e.opened = true;
            kv618::ScanEvents events;
            events.progress = [&](const kv618::ScanProgress& p) { toWindow([p](ScanWindow* w) { w->ShowProgress(p); }); };
            events.found = [&](const kv618::FoundModule& m) { toWindow([m](ScanWindow* w) { w->AddFound(m); }); };
            events.oddAnswer = [&](uint8_t address, int32_t rate, int32_t code) {
                toWindow([address, rate, why = QString::fromStdString(c.Text(code))](ScanWindow* w) {
                    w->AddOddAnswer(address, rate, why);
                });
            };
            events.wholeTimeoutOnly = [&] {
                toWindow([](ScanWindow* w) {
                    w->SetStatus(tr(" Probíhá hledání modulů; knihovna nepřijala kratší čekání na odpověď, "
                                    "každá adresa bez odpovědi čeká celý časový limit."));
                });
            };
            events.cancelled = [stop] { return stop->load(); };
            e.outcome = kv618::RunScan(c, plan, events);
            if (e.outcome.end == kv618::ScanEnd::LineFailed) e.text = c.Text(e.outcome.code);
        }
        // The window has closed: its link is nobody's.
        if (*stop) c.Unload();
        toWindow([e](ScanWindow* w) { w->Finished(e); });
    });
}

void ScanWindow::Stop() {
    if (scan_) *scan_ = true;
    ScanButton->setEnabled(false);  // until the exchange in flight has ended
}

void ScanWindow::ShowProgress(const kv618::ScanProgress& p) {
    Progress->setMaximum(p.total);
    Progress->setValue(p.asked);
    Asking->setText(tr("Adresa %1, %2 Bd, nalezeno modulů: %3, zbývá nejvýše %4")
                        .arg(p.address)
                        .arg(p.rate)
                        .arg(p.found)
                        .arg(Duration(p.left)));
}

void ScanWindow::AddFound(const kv618::FoundModule& m) {
    modules_.push_back(m);
    AddRow({QString::number(m.address), m.rate ? tr("%1 Bd").arg(*m.rate) : tr("?"),
            QString::fromStdString(m.identity.Text())},
           static_cast<int>(modules_.size()) - 1);
}

// Something answered there, but not as a module should: worth a row, not a
// connection.
void ScanWindow::AddOddAnswer(uint8_t address, int32_t rate, const QString& why) {
    ++oddAnswers_;
    AddRow({QString::number(address), tr("%1 Bd").arg(rate), tr("chybná odpověď: %1").arg(why)}, -1);
}

void ScanWindow::AddRow(const QStringList& cells, int module) {
    const int row = Found->rowCount();
    Found->insertRow(row);
    for (int c = 0; c < Columns; ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (module < 0) item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
        Found->setItem(row, c, item);
    }
    Found->item(row, ColumnAddress)->setData(ModuleRole, module);
}

int ScanWindow::ModuleOfRow(int row) const {
    const QTableWidgetItem* item = row >= 0 ? Found->item(row, ColumnAddress) : nullptr;
    return item ? item->data(ModuleRole).toInt() : -1;
}

void ScanWindow::EnableConnect() {
    const bool chosen = !Found->selectedItems().isEmpty() && ModuleOfRow(Found->currentRow()) >= 0;
    ConnectButton->setEnabled(!Scanning() && !connecting_ && linkOpen_ && chosen);
}

void ScanWindow::Finished(const Ended& e) {
    const bool stopped = *scan_;
    scan_.reset();
    linkOpen_ = e.opened;
    ScanButton->setText(tr("Hledat"));
    ScanButton->setEnabled(true);
    if (!e.opened) return SetStatus(tr(" Chyba inicializace připojení - %1").arg(QString::fromStdString(e.text)));
    if (e.outcome.end == kv618::ScanEnd::Complete) Progress->setValue(Progress->maximum());
    QString found = tr("nalezeno modulů: %1").arg(modules_.size());
    if (oddAnswers_) found += tr(", chybných odpovědí: %1").arg(oddAnswers_);
    switch (e.outcome.end) {
        case kv618::ScanEnd::Complete: SetStatus(tr(" Hledání skončilo, %1.").arg(found)); break;
        case kv618::ScanEnd::Cancelled: SetStatus(tr(" Hledání zastaveno, %1.").arg(found)); break;
        case kv618::ScanEnd::LineFailed: SetStatus(" " + QString::fromStdString(e.text)); break;
    }
    Asking->clear();
    if (stopped && e.outcome.end != kv618::ScanEnd::Cancelled) SetStatus(tr(" Hledání zastaveno, %1.").arg(found));
    if (Found->selectedItems().isEmpty())
        for (int row = 0; row < Found->rowCount(); ++row)
            if (ModuleOfRow(row) >= 0) {
                Found->selectRow(row);
                break;
            }
    EnableConnect();
}

// The chosen module made the program's: its rate set on the scan's link, and
// identified, as "Inicializace připojení" identifies.
void ScanWindow::Connect() {
    const int module = ModuleOfRow(Found->currentRow());
    if (!PData || Scanning() || connecting_ || !linkOpen_ || module < 0) return;
    const kv618::FoundModule m = modules_[static_cast<size_t>(module)];
    const int32_t rate = m.rate.value_or(PData->Rychlost);
    struct Attempt {
        int32_t error = 0;
        std::string text;
        int32_t handle = 0;
        std::string identity;
    };
    // Nor a new scan meanwhile: it would take the link from under the connection.
    connecting_ = true;
    ConnectButton->setEnabled(false);
    ScanButton->setEnabled(false);
    SetStatus(tr(" Probíhá inicializace připojení"));
    OnWorker(
        this,
        [address = m.address, rate](kv618::Connection& c) {
            Attempt a;
            a.error = c.SetRate(rate);
            if (!a.error) {
                const auto identity = c.At(address).Identify();
                a.error = identity.error;
                if (identity.ok()) a.identity = identity.value.Text();
            }
            if (a.error) a.text = c.Text(a.error);
            a.handle = c.Handle();
            return a;
        },
        [address = m.address, rate](ScanWindow* w, const Attempt& a) {
            w->connecting_ = false;
            if (w->Closed()) return;
            w->ScanButton->setEnabled(true);
            w->EnableConnect();
            if (a.error) return w->SetStatus(" " + QString::fromStdString(a.text));
            TData& d = *w->PData;
            d.Pripojeno = 1;
            d.Handle = a.handle;
            d.Adresa = address;
            d.Rychlost = rate;
            d.IdentModulu = a.identity;
            d.Status = TextVPoradku;
            w->connected_ = true;
            w->SetStatus(tr(" Připojen modul %1 na adrese %2, %3 Bd.")
                             .arg(QString::fromStdString(a.identity))
                             .arg(address)
                             .arg(rate));
        });
}

// Closing acts at once: a scan stops after the exchange in flight (and
// closes its link itself), and a link no "Připojit" made the program's is
// closed again, as the connection dialog's is.
void ScanWindow::done(int result) {
    if (scan_) *scan_ = true;
    scan_.reset();
    if (linkOpen_ && !connected_) LinkWorker::Program().Post([](kv618::Connection& c) { c.Unload(); });
    linkOpen_ = false;
    ModuleWindow::done(result);
}
