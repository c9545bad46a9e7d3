#include "RTC.h"

#include "Okno.h"

#include "StatusBar.h"

#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {

constexpr int SirkaOkna = 403;
constexpr int VyskaOkna = 233;
constexpr int IntervalCasovace = 200;
constexpr int SirkaCasu = 80;
// A time label that says there was no failure reaches over its empty date.
constexpr int SirkaBezVypadku = 178;

}  // namespace

TForm3::TForm3(QWidget* Owner) : ModuleWindow(Owner) {
    setObjectName("Form3");
    setWindowTitle(QStringLiteral("Nastavení hodinového obvodu RTC"));
    setFixedSize(SirkaOkna, VyskaOkna);

    Labely[0] = VytvorLabel("Label1", QStringLiteral("Začátek výpadku napájení"), this, 16, 30, 170);
    Labely[1] = VytvorLabel("Label2", QStringLiteral("Konec výpadku napájení"), this, 16, 58, 170);
    Labely[2] = VytvorLabel("Label3", QStringLiteral("Čas a datum modulu"), this, 16, 122, 170);

    Panel1 = VytvorPanel("Panel1", 192, 18, 195, 64);
    Panel2 = VytvorPanel("Panel2", 192, 110, 195, 36);
    Labely[3] = VytvorLabel("Label4", QStringLiteral("0"), Panel1, 12, 12, SirkaCasu);
    Labely[6] = VytvorLabel("Label7", QStringLiteral("0"), Panel1, 100, 12, 90);
    Labely[4] = VytvorLabel("Label5", QStringLiteral("0"), Panel1, 12, 40, SirkaCasu);
    Labely[7] = VytvorLabel("Label8", QStringLiteral("0"), Panel1, 100, 40, 90);
    Labely[5] = VytvorLabel("Label6", QStringLiteral("0"), Panel2, 12, 10, SirkaCasu);
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

void TForm3::FormShow() {
    AdresaModulu = 0;
    VypadkyNacteny = false;
    if (PData) AdresaModulu = PData->Adresa;
    for (size_t i = 3; i < Labely.size(); ++i) Labely[i]->setText(QStringLiteral("0"));
    for (QLabel* cas : {Labely[3], Labely[4]}) cas->resize(SirkaCasu, cas->height());
    Timer1->start();
}

void TForm3::ZadnyVypadek() {
    for (QLabel* cas : {Labely[3], Labely[4]}) {
        cas->setText(QString::fromUtf8(TextNezaznamenano));
        cas->resize(SirkaBezVypadku, cas->height());
    }
    for (QLabel* datum : {Labely[6], Labely[7]}) datum->clear();
}

void TForm3::NastavStatus(const QString& Text) { StatusBar1->NastavText(0, Text); }

QLabel* TForm3::LabelSkupiny(uint8_t Skupina) const {
    // Groups 1..6 are shown in Label6, Label9, Label4, Label7, Label5, Label8.
    static constexpr size_t Index[7] = {0, 5, 8, 3, 6, 4, 7};
    return Labely[Index[Skupina]];
}

namespace {

// What one poll read, in order, up to the first request that failed: with
// the power-failure stamps, the status register before them, whose PRF tells
// a recorded failure from stamps the module may never have written.  A poll
// whose window closed stops after the exchange in flight, and shows nothing.
struct TCteniHodin {
    std::optional<uint32_t> Status;
    std::vector<std::pair<uint8_t, kv618::ClockGroup>> Skupiny;
    bool Zastaveno = false;
};

kv618::Result<TCteniHodin> CtiHodiny(const kv618::Module& Modul, bool SVypadky, const StopFlag& Zastavit) {
    using namespace wire::subcode;
    kv618::Result<TCteniHodin> vysledek;
    const auto zastaveno = [&] { return vysledek.value.Zastaveno = *Zastavit; };
    std::vector<uint8_t> poradi;
    if (SVypadky) {
        if (zastaveno()) return vysledek;
        const auto status = Modul.ReadStatus();
        if (!status.ok()) return {status.error};
        vysledek.value.Status = status.value;
        poradi = {FailureStartTime, FailureStartDate, FailureEndTime, FailureEndDate};
    }
    poradi.insert(poradi.end(), {ClockTime, ClockDate});
    for (const uint8_t skupina : poradi) {
        if (zastaveno()) break;
        const auto cteni = Modul.ReadClockGroup(skupina);
        if (!cteni.ok()) {
            vysledek.error = cteni.error;
            break;
        }
        vysledek.value.Skupiny.emplace_back(skupina, cteni.value);
    }
    return vysledek;
}

}  // namespace

// The power-failure stamps are read, after the status register, until all
// four have come once; then only the clock.  With PRF set they are shown as
// they come, like the clock's groups (those read before a failure keep their
// new texts); with PRF clear only once all four have come, when they tell
// whether the module holds a failure at all.
void TForm3::Timer1Timer() {
    if (!MuzeMluvit()) return;
    const bool sVypadky = !VypadkyNacteny;
    // A new poll gets a flag of its own; one still out keeps its own.
    if (!Pozadavky.Venku()) Zastavit_ = NewStopFlag();
    const StopFlag zastavit = Zastavit_;
    Pozadavky.Posli(
        this, AdresaModulu, [sVypadky, zastavit](const kv618::Module& m) { return CtiHodiny(m, sVypadky, zastavit); },
        [](TForm3* okno, const auto& v) {
            const TCteniHodin& cteni = v.Vysledek.value;
            if (cteni.Zastaveno) return;
            const auto razitko = [&cteni](uint8_t Cas) {
                kv618::ClockReading r;
                for (const auto& [skupina, hodnota] : cteni.Skupiny) {
                    if (skupina == Cas) r.time = hodnota;
                    if (skupina == Cas + 1) r.date = hodnota;
                }
                return r;
            };
            using namespace wire::subcode;
            const bool vsechny = std::any_of(cteni.Skupiny.begin(), cteni.Skupiny.end(),
                                             [](const auto& s) { return s.first == FailureEndDate; });
            const bool prf = cteni.Status && (*cteni.Status & wire::status::PRF);
            const bool zadny =
                vsechny && kv618::NoPowerFailure(*cteni.Status, razitko(FailureStartTime), razitko(FailureEndTime));
            for (const auto& [skupina, hodnota] : cteni.Skupiny) {
                const bool vypadek = skupina >= FailureStartTime;
                if (vypadek && (zadny || !(prf || vsechny))) continue;
                const auto [d1, d2, d3] = hodnota;
                const std::string text =
                    wire::IsTimeGroup(skupina) ? CasNaText(d1, d2, d3) : DatumNaText(d1, d2, d3);
                okno->LabelSkupiny(skupina)->setText(QString::fromStdString(text));
            }
            if (vsechny) okno->VypadkyNacteny = true;
            if (zadny) okno->ZadnyVypadek();
            okno->StatusBar1->NastavNovyText(0, v.Text);
        });
}

// No poll runs between the two requests: the timer stops for them, and a
// press while they run starts nothing.
void TForm3::Button1Click() {
    if (!PData || Nastaveni.Venku()) return;
    if (!MuzeMluvit()) return;
    Timer1->stop();
    // One reading of the clock for both requests, so time and date agree.
    const QDateTime ted = QDateTime::currentDateTime();
    const QDate datum = ted.date();
    const QTime cas = ted.time();
    const auto bajt = [](int v) { return static_cast<uint8_t>(v); };
    const kv618::ClockReading hodiny{{bajt(cas.second()), bajt(cas.minute()), bajt(cas.hour())},
                                     {bajt(datum.day()), bajt(datum.month()), bajt(datum.year() % 4)}};
    Nastaveni.Zarad(this, AdresaModulu, [hodiny](const kv618::Module& m) { return m.SetClock(hodiny); },
                    QStringLiteral(" Čas nastaven"), [](TForm3* okno, const auto& v) {
                        okno->NastavStatus(v.Text);
                        okno->Timer1->start();
                    });
}

void TForm3::done(int Vysledek) {
    *Zastavit_ = true;
    ModuleWindow::done(Vysledek);
}

void TForm3::Button2Click() {
    Timer1->stop();
    close();
}
