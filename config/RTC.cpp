#include "RTC.h"

#include "Okno.h"

#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

namespace {

constexpr int SirkaOkna = 403;
constexpr int VyskaOkna = 233;
constexpr int IntervalCasovace = 200;

}  // namespace

TForm3::TForm3(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form3");
    setWindowTitle(QStringLiteral("Nastavení hodinového obvodu RTC"));
    setFixedSize(SirkaOkna, VyskaOkna);

    Labely[0] = VytvorLabel("Label1", QStringLiteral("Začátek výpadku napájení"), this, 16, 30, 170);
    Labely[1] = VytvorLabel("Label2", QStringLiteral("Konec výpadku napájení"), this, 16, 58, 170);
    Labely[2] = VytvorLabel("Label3", QStringLiteral("Čas a datum modulu"), this, 16, 122, 170);

    Panel1 = VytvorPanel("Panel1", 192, 18, 195, 64);
    Panel2 = VytvorPanel("Panel2", 192, 110, 195, 36);
    Labely[3] = VytvorLabel("Label4", QStringLiteral("0"), Panel1, 12, 12, 80);
    Labely[6] = VytvorLabel("Label7", QStringLiteral("0"), Panel1, 100, 12, 90);
    Labely[4] = VytvorLabel("Label5", QStringLiteral("0"), Panel1, 12, 40, 80);
    Labely[7] = VytvorLabel("Label8", QStringLiteral("0"), Panel1, 100, 40, 90);
    Labely[5] = VytvorLabel("Label6", QStringLiteral("0"), Panel2, 12, 10, 80);
    Labely[8] = VytvorLabel("Label9", QStringLiteral("0"), Panel2, 100, 10, 90);

    Button1 = VytvorTlacitko(this, "Button1", QStringLiteral("Nastavit čas"));
    Button1->setGeometry(96, 166, 97, 25);
    Button2 = VytvorTlacitko(this, "Button2", QStringLiteral("Cancel"));
    Button2->setGeometry(210, 166, 97, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);

    StatusBar1 = SpodniStatusBar(this, SirkaOkna, VyskaOkna);

    Timer1 = VytvorCasovac(this, IntervalCasovace);
    connect(Timer1, &QTimer::timeout, this, &TForm3::Timer1Timer);
    Timer1->start();
}

QLabel* TForm3::VytvorLabel(const QString& Jmeno, const QString& Text, QWidget* Rodic, int X, int Y, int Sirka) {
    auto* label = VytvorPopisek(Rodic, Jmeno, Text);
    label->setGeometry(X, Y, Sirka, 17);
    return label;
}

QFrame* TForm3::VytvorPanel(const QString& Jmeno, int X, int Y, int Sirka, int Vyska) {
    auto* panel = ::VytvorPanel(this, Jmeno);
    panel->setGeometry(X, Y, Sirka, Vyska);
    return panel;
}

void TForm3::showEvent(QShowEvent* Udalost) {
    QDialog::showEvent(Udalost);
    if (!Udalost->spontaneous()) FormShow();
}

void TForm3::FormShow() {
    AdresaModulu = 0;
    VypadkyNacteny = false;
    if (PData) AdresaModulu = PData->Adresa;
    for (size_t i = 3; i < Labely.size(); ++i) Labely[i]->setText(QStringLiteral("0"));
    Timer1->start();
}

void TForm3::done(int Vysledek) {
    Timer1->stop();
    QDialog::done(Vysledek);
}

void TForm3::NastavStatus(const QString& Text) { StatusBar1->NastavText(0, Text); }

QLabel* TForm3::LabelSkupiny(uint8_t Skupina) const {
    // Groups 1..6 are shown in Label6, Label9, Label4, Label7, Label5, Label8.
    static constexpr size_t Index[7] = {0, 5, 8, 3, 6, 4, 7};
    return Labely[Index[Skupina]];
}

namespace {

// The groups one poll read, in order, up to the first that failed.
using TSkupiny = std::vector<std::pair<uint8_t, kv618::ClockGroup>>;

kv618::Result<TSkupiny> CtiSkupiny(const kv618::Module& Modul, bool SVypadky) {
    using namespace kv618::subcode;
    std::vector<uint8_t> poradi;
    if (SVypadky) poradi = {FailureStartTime, FailureStartDate, FailureEndTime, FailureEndDate};
    poradi.insert(poradi.end(), {ClockTime, ClockDate});
    kv618::Result<TSkupiny> vysledek;
    for (const uint8_t skupina : poradi) {
        const auto cteni = Modul.ReadClockGroup(skupina);
        if (!cteni.ok()) {
            vysledek.error = cteni.error;
            break;
        }
        vysledek.value.emplace_back(skupina, cteni.value);
    }
    return vysledek;
}

}  // namespace

// The power-failure stamps are read until all four have come once; then
// only the clock.  Labels read before a failure keep their new texts.
void TForm3::Timer1Timer() {
    if (!PData) return;
    if (!OverPripojeni(PData, StatusBar1)) return;
    const bool sVypadky = !VypadkyNacteny;
    Pozadavky.Posli(
        this, AdresaModulu, [sVypadky](const kv618::Module& m) { return CtiSkupiny(m, sVypadky); },
        [](TForm3* okno, const auto& v) {
            for (const auto& [skupina, hodnota] : v.Vysledek.value) {
                const auto [d1, d2, d3] = hodnota;
                const std::string text =
                    kv618::IsTimeGroup(skupina) ? CasNaText(d1, d2, d3) : DatumNaText(d1, d2, d3);
                okno->LabelSkupiny(skupina)->setText(QString::fromStdString(text));
                if (skupina == kv618::subcode::FailureEndDate) okno->VypadkyNacteny = true;
            }
            okno->NastavStatus(v.Text);
        });
}

// No poll runs between the two requests: the timer stops for them, and a
// press while they run starts nothing.
void TForm3::Button1Click() {
    if (!PData || Nastaveni.Venku()) return;
    if (!OverPripojeni(PData, StatusBar1)) return;
    Timer1->stop();
    // One reading of the clock for both requests, so time and date agree.
    const QDateTime ted = QDateTime::currentDateTime();
    const QDate datum = ted.date();
    const QTime cas = ted.time();
    const auto bajt = [](int v) { return static_cast<uint8_t>(v); };
    const kv618::ClockReading hodiny{{bajt(cas.second()), bajt(cas.minute()), bajt(cas.hour())},
                                     {bajt(datum.day()), bajt(datum.month()), bajt(datum.year() % 4)}};
    Nastaveni.Zarad(this, AdresaModulu, [hodiny](const kv618::Module& m) { return m.SetClock(hodiny); },
                    [](TForm3* okno, const auto& v) {
                        okno->NastavStatus(v.Uspech() ? QStringLiteral(" Čas nastaven") : v.Text);
                        if (okno->isVisible()) okno->Timer1->start();  // not for a window closed meanwhile
                    });
}

void TForm3::Button2Click() {
    Timer1->stop();
    close();
}
