#include "OkamCNT.h"

#include "OknoHodnot.h"
#include "StatusBar.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr int IntervalCteni = 100;  // ms
constexpr int PocetCitacu = wire::CounterCount;
constexpr int PocetSloupcu = 5;

const char* const NazvySloupcu[PocetSloupcu] = {"Počet pulsů", "Odběr", "Perioda [ms]", "Výkon", "Výkon 10s"};
// The quantity of each column, left to right; Krok goes column by column.
constexpr wire::Quantity VelicinySloupcu[PocetSloupcu] = {wire::Quantity::Pulses, wire::Quantity::Consumption,
                                                          wire::Quantity::Period, wire::Quantity::Power,
                                                          wire::Quantity::Power10s};

// Value label numbers in the order of Krok.
int CisloPopisku(int Velicina) { return Velicina < 16 ? Velicina + 5 : Velicina + 10; }
}  // namespace

uint8_t TForm6::PodfunkceKroku(int Krok) {
    return wire::QuantitySubcode(VelicinySloupcu[Krok / PocetCitacu], Krok % PocetCitacu);
}

TForm6::TForm6(QWidget* Owner) : ModuleWindow(Owner) {
    setObjectName("Form6");
    setWindowTitle("Okamžité hodnoty čítačů");

    auto* mrizka = new QGridLayout;
    mrizka->setHorizontalSpacing(8);
    mrizka->setVerticalSpacing(4);
    const int vyskaRadku = fontMetrics().height() + 3;
    constexpr int Okraj = 2;

    // Row names sit beside the panels' rows: same row height, shifted down
    // by the panel's frame and margin.
    auto* radky = new QVBoxLayout;
    radky->setSpacing(0);
    for (int c = 0; c < PocetCitacu; ++c) {
        auto* nazev = VytvorPopisek(this, QString("Label%1").arg(c + 1), QString("Čítač %1").arg(c));
        nazev->setFixedHeight(vyskaRadku);
        radky->addWidget(nazev);
    }
    mrizka->addLayout(radky, 1, 0, Qt::AlignTop);

    for (int s = 0; s < PocetSloupcu; ++s) {
        auto* nadpis = VytvorPopisek(this, QString("Label%1").arg(21 + s), QString::fromUtf8(NazvySloupcu[s]));
        nadpis->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        mrizka->addWidget(nadpis, 0, s + 1);

        auto* panel = VytvorPanel(this, QString("Panel%1").arg(s + 1));
        auto* hodnoty = new QVBoxLayout(panel);
        hodnoty->setSpacing(0);
        hodnoty->setContentsMargins(6, Okraj, 6, Okraj);
        for (int c = 0; c < PocetCitacu; ++c) {
            const int velicina = s * PocetCitacu + c;
            auto* hodnota = VytvorPopisek(panel, QString("Label%1").arg(CisloPopisku(velicina)), "0");
            hodnota->setFixedHeight(vyskaRadku);
            hodnota->setMinimumWidth(fontMetrics().horizontalAdvance("4294967295") + 4);
            hodnota->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            hodnoty->addWidget(hodnota);
            Hodnoty[static_cast<size_t>(velicina)] = hodnota;
        }
        mrizka->addWidget(panel, 1, s + 1, Qt::AlignTop);
    }
    radky->setContentsMargins(0, Okraj + 1, 0, 0);

    Button1 = VytvorTlacitko(this, "Button1", "Nulovat");
    Button2 = VytvorTlacitko(this, "Button2", "Cancel");
    StatusBar1 = SestavOkno(this, mrizka, RadaTlacitek(Button1, Button2));
    Timer1 = VytvorCasovac(this, IntervalCteni);

    connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
    connect(Timer1, &QTimer::timeout, this, &TForm6::Timer1Timer);

    UpevniAVycentruj(this, Owner, 584, 223);
}

void TForm6::FormShow() {
    AdresaModulu = 0;
    Krok = 0;
    if (PData) AdresaModulu = PData->Adresa;
    for (auto* hodnota : Hodnoty) hodnota->setText("0");
    Timer1->start();
}

void TForm6::Timer1Timer() {
    if (!MuzeMluvit()) return;
    const uint8_t krok = Krok;
    const wire::Quantity velicina = VelicinySloupcu[krok / PocetCitacu];
    const int citac = krok % PocetCitacu;
    Pozadavky.Posli(
        this, AdresaModulu,
        [velicina, citac](const kv618::Module& m) { return m.ReadQuantity(velicina, citac); },
        [krok](TForm6* okno, const auto& v) {
            // After a failure the same quantity is asked again next time.
            if (v.Uspech()) {
                okno->Hodnoty[krok]->setText(QString::number(v.Vysledek.value));
                okno->Krok = static_cast<uint8_t>((krok + 1) % PocetVelicin);
            }
            okno->StatusBar1->NastavNovyText(0, v.Text);
        });
}

// No poll runs between the four resets: the timer stops for them, and a
// press while they run starts nothing.
void TForm6::Button1Click() {
    if (!PData || Nulovani.Venku()) return;
    if (!MuzeMluvit()) return;
    Timer1->stop();
    // The counters after one that fails are not reset.
    Nulovani.Zarad(this, AdresaModulu, [](const kv618::Module& m) { return m.ResetCounters(); },
                   QStringLiteral(" Čítače vynulovány"), [](TForm6* okno, const auto& v) {
                       okno->StatusBar1->NastavText(0, v.Text);
                       okno->Timer1->start();
                   });
}

void TForm6::Button2Click() {
    Timer1->stop();
    close();
}
